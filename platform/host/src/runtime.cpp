// The runtime object: life cycle, call frames and temporaries.
#include "zyl/runtime.h"

#include <cstdio>

#include "state.h"

namespace zyl {

Runtime& Runtime::instance() {
  static Runtime runtime;
  return runtime;
}

Runtime::Runtime() : state_(std::make_unique<State>()) {
  const std::vector<MessageBlock::Entry> hostEntries = {{"ZYL_M_HOST_ERROR", "%s"}};
  auto block = std::make_unique<MessageBlock>("ZYL_MBLK_HOST", hostEntries);
  state_->hostBlock = block.get();
  state_->blocks.emplace("ZYL_MBLK_HOST", std::move(block));
}

Runtime::~Runtime() { shutdown(); }

void Runtime::shutdown() {
  State& s = *state_;
  // Release callbacks may free heap variables, so objects go first.
  while (!s.objects.empty()) {
    auto node = s.objects.extract(s.objects.begin());
    ObjectEntry& entry = node.mapped();
    if (entry.record && entry.record->releaseCallback() && entry.data)
      entry.record->releaseCallback()(entry.data->data());
  }
  s.heap.clear();
  s.temporaries.clear();
  s.frames.clear();
  closeAllFileUnits();
}

size_t Runtime::heapSize() const { return state_->heap.size(); }
size_t Runtime::liveTemporaries() const { return state_->temporaries.size(); }

std::string Runtime::currentRoutine() const {
  return state_->frames.empty() ? std::string() : state_->frames.back().routine;
}

void Runtime::setUserFunctions(UserFunctionLookup lookup, UserFunctionCaller caller) {
  state_->userLookup = std::move(lookup);
  state_->userCaller = std::move(caller);
}

// ---------------------------------------------------------------- temporaries

Variable* newTemporary(Variable value) {
  RuntimeState& s = hostState();
  auto owned = std::make_unique<Variable>(std::move(value));
  owned->markTemporary(true);
  Variable* raw = owned.get();
  const uint64_t serial = s.nextTemporarySerial++;
  s.temporaries.emplace(raw, std::make_pair(std::move(owned), serial));
  if (!s.frames.empty()) s.frames.back().temporaries.emplace_back(raw, serial);
  return raw;
}

bool isLiveTemporary(const Variable* v) {
  RuntimeState& s = hostState();
  return v != nullptr && s.temporaries.count(const_cast<Variable*>(v)) != 0;
}

void freeTemporary(Variable* v) {
  if (v == nullptr) return;
  hostState().temporaries.erase(v);
}

FrameScope::FrameScope(std::string routine) { hostState().frames.push_back(CallFrame{std::move(routine), {}}); }

FrameScope::~FrameScope() {
  RuntimeState& s = hostState();
  if (s.frames.empty()) return;
  CallFrame frame = std::move(s.frames.back());
  s.frames.pop_back();
  for (auto [ptr, serial] : frame.temporaries) {
    auto it = s.temporaries.find(ptr);
    if (it != s.temporaries.end() && it->second.second == serial) s.temporaries.erase(it);
  }
}

}  // namespace zyl
