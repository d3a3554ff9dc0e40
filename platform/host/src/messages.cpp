// Message blocks, formatting (%N, %s) and the four actions.
#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "state.h"
#include "zyl/host.h"

namespace zyl {

namespace {

void deliver(const Message& message) {
  RuntimeState& s = hostState();
  if (message.action == HOST_MSG_INFO_QUIET && s.quiet) return;
  if (s.sink) {
    s.sink(message);
    return;
  }
  if (s.outputCallback) {
    s.outputCallback(0, message.text.c_str(), static_cast<int>(message.text.size()));
    return;
  }
  std::cerr << message.text << std::endl;
}

// %N: the routine's name and a colon (nothing, and no following space, outside
// calls); %s: the next string argument; %%: a percent sign.
std::string formatMessage(const std::string& pattern, const std::string& routine, va_list args) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    const char d = pattern[++i];
    if (d == 'N') {
      if (!routine.empty())
        out += routine + ":";
      else if (i + 1 < pattern.size() && pattern[i + 1] == ' ')
        ++i;
    } else if (d == 's') {
      const char* text = va_arg(args, const char*);
      out += text ? text : "";
    } else if (d == '%') {
      out += '%';
    } else {
      out += c;
      out += d;
    }
  }
  return out;
}

[[noreturn]] void raise(Message&& message) {
  throw HostError(message.text, message.block, message.code, message.action);
}

}  // namespace

void issueHostMessage(int action, const std::string& text) {
  Message message;
  message.block = "ZYL_MBLK_HOST";
  message.code = 0;
  message.action = action;
  message.routine = Runtime::instance().currentRoutine();
  message.text = text;
  deliver(message);
  if (action == HOST_MSG_ERROR) raise(std::move(message));
}

void Runtime::fail(const std::string& text) {
  issueHostMessage(HOST_MSG_ERROR, text);
  throw HostError(text, "ZYL_MBLK_HOST", 0, HOST_MSG_ERROR);  // not reached
}

void Runtime::setMessageSink(std::function<void(const Message&)> sink) { state_->sink = std::move(sink); }
void Runtime::setQuiet(bool quiet) { state_->quiet = quiet; }
bool Runtime::quiet() const { return state_->quiet; }

}  // namespace zyl

using zyl::hostState;

HostMsgBlock HostDefineMessageBlock(const char* name, int count, const HostMessageDef* defs) {
  if (name == nullptr || *name == '\0' || count <= 0 || defs == nullptr) return nullptr;
  auto& blocks = hostState().blocks;
  const std::string key = zyl::upperName(name);
  if (auto it = blocks.find(key); it != blocks.end()) return it->second.get();
  std::vector<zyl::MessageBlock::Entry> entries;
  for (int i = 0; i < count; ++i) {
    if (defs[i].name == nullptr || defs[i].format == nullptr) return nullptr;
    entries.push_back({defs[i].name, defs[i].format});
  }
  auto block = std::make_unique<zyl::MessageBlock>(name, std::move(entries));
  HostMsgBlock handle = block.get();
  blocks.emplace(key, std::move(block));
  return handle;
}

void HostMessage(HostMsgBlock block, int code, int action, ...) {
  va_list args;
  va_start(args, action);
  try {
    HostMessageV(block, code, action, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void HostMessageV(HostMsgBlock block, int code, int action, va_list args) {
  zyl::Runtime& runtime = zyl::Runtime::instance();
  if (block == nullptr) runtime.fail("Message issued from an undefined message block");
  const zyl::MessageBlock::Entry* entry = block->entry(code);
  if (entry == nullptr)
    runtime.fail("Message code " + std::to_string(code) + " is not defined in block " + block->name());
  zyl::Message message;
  message.block = block->name();
  message.code = code;
  message.action = action;
  message.routine = runtime.currentRoutine();
  va_list copy;
  va_copy(copy, args);
  message.text = zyl::formatMessage(entry->format, message.routine, copy);
  va_end(copy);
  zyl::deliver(message);
  if (action == HOST_MSG_ERROR) zyl::raise(std::move(message));
}

int HostMessageBlockEntry(HostMsgBlock block, int code, const char** name, const char** format) {
  if (block == nullptr) return 0;
  const zyl::MessageBlock::Entry* entry = block->entry(code);
  if (entry == nullptr) return 0;
  if (name != nullptr) *name = entry->name.c_str();
  if (format != nullptr) *format = entry->format.c_str();
  return 1;
}
