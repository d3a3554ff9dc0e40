// Routine registration, calls with argument checks, and callbacks by name.
#include <algorithm>
#include <exception>

#include "state.h"
#include "zyl/host.h"

namespace zyl {

namespace {

const RoutineInfo* lookup(const RuntimeState& s, std::string_view name, bool function) {
  const auto& table = function ? s.functions : s.procedures;
  auto it = table.find(upperName(name));
  return it == table.end() ? nullptr : it->second.get();
}

std::string expectedCount(const RoutineInfo& r) {
  if (r.minArgs == r.maxArgs) return std::to_string(r.minArgs);
  return std::to_string(r.minArgs) + " to " + std::to_string(r.maxArgs);
}

// Runs a routine inside its own call frame. staticClass, when not empty,
// becomes argv[0] as a temporary string (class-level methods).
Variable invoke(const RoutineInfo& routine, std::vector<Variable*> args, std::vector<KeywordArg> keywords,
                std::string_view staticClass) {
  Runtime& runtime = Runtime::instance();
  FrameScope frame(routine.name);
  if (!staticClass.empty()) args.insert(args.begin(), newTemporary(Variable::ofString(staticClass)));
  const int argc = static_cast<int>(args.size());
  if (argc < routine.minArgs || argc > routine.maxArgs)
    runtime.fail("Incorrect number of arguments in call to: " + routine.name + " (" + std::to_string(argc) +
                 " given, " + expectedCount(routine) + " expected)");
  for (Variable* arg : args)
    if (arg == nullptr) runtime.fail("Missing argument in call to: " + routine.name);
  if (!keywords.empty() && (routine.flags & HOST_ROUTINE_KEYWORDS) == 0)
    runtime.fail("Keyword " + upperName(keywords.front().name) + " not allowed in call to: " + routine.name);

  KeywordList keywordList;
  keywordList.items = std::move(keywords);
  keywordList.routine = routine.name;
  KeywordList* argk = (routine.flags & HOST_ROUTINE_KEYWORDS) != 0 ? &keywordList : nullptr;

  Variable* result = routine.fn(argc, args.data(), argk);
  if (!routine.isFunction || result == nullptr) return Variable::null();
  // A temporary is emptied here and freed with the frame; anything else is copied.
  if (isLiveTemporary(result)) return Variable(std::move(*result));
  return Variable(*result);
}

}  // namespace

const RoutineInfo* Runtime::findRoutine(std::string_view name, bool function) const {
  return lookup(*state_, name, function);
}

std::vector<const RoutineInfo*> Runtime::routinesOfClass(std::string_view className) const {
  const std::string prefix = upperName(className) + "::";
  std::vector<const RoutineInfo*> out;
  for (const auto* table : {&state_->functions, &state_->procedures})
    for (const auto& [name, info] : *table)
      if (name.compare(0, prefix.size(), prefix) == 0) out.push_back(info.get());
  std::sort(out.begin(), out.end(), [](const RoutineInfo* a, const RoutineInfo* b) { return a->name < b->name; });
  return out;
}

Variable Runtime::call(std::string_view name, bool function, std::vector<Variable*> args,
                       std::vector<KeywordArg> keywords) {
  const RoutineInfo* routine = findRoutine(name, function);
  if (routine == nullptr)
    fail(std::string("Attempt to call undefined ") + (function ? "function" : "procedure") + ": " + upperName(name));
  return invoke(*routine, std::move(args), std::move(keywords), {});
}

Variable Runtime::callMethod(Variable& object, std::string_view method, std::vector<Variable*> args,
                             std::vector<KeywordArg> keywords) {
  if (object.type() != Type::Object || object.isArray())
    fail("Object reference required to call method: " + upperName(method));
  const ClassRecord* record = nullptr;
  if (objectInstance(object.scalar().id, &record) == nullptr)
    fail("Unable to invoke method on NULL or invalid object reference: " + upperName(method));
  const std::string name = record->name() + "::" + upperName(method);
  const RoutineInfo* routine = findRoutine(name, true);
  if (routine == nullptr) routine = findRoutine(name, false);
  if (routine == nullptr) fail("Attempt to call undefined method: " + name);
  if ((routine->flags & HOST_ROUTINE_STATIC) != 0)
    return invoke(*routine, std::move(args), std::move(keywords), record->name());
  args.insert(args.begin(), &object);
  return invoke(*routine, std::move(args), std::move(keywords), {});
}

Variable Runtime::callStatic(std::string_view className, std::string_view method, std::vector<Variable*> args,
                             std::vector<KeywordArg> keywords) {
  const std::string name = upperName(className) + "::" + upperName(method);
  const RoutineInfo* routine = findRoutine(name, true);
  if (routine == nullptr) routine = findRoutine(name, false);
  if (routine == nullptr) fail("Attempt to call undefined method: " + name);
  return invoke(*routine, std::move(args), std::move(keywords), upperName(className));
}

}  // namespace zyl

using zyl::hostState;

int HostAddRoutines(const HostRoutineDef* defs, int isFunction, int count) {
  // An empty table is valid (and may come with no array at all).
  if (count < 0 || (defs == nullptr && count > 0)) return 0;
  auto& table = isFunction ? hostState().functions : hostState().procedures;
  for (int i = 0; i < count; ++i) {
    const HostRoutineDef& d = defs[i];
    if (d.name == nullptr || *d.name == '\0' || d.fn == nullptr || d.minArgs < 0 || d.maxArgs < d.minArgs) return 0;
  }
  for (int i = 0; i < count; ++i) {
    const HostRoutineDef& d = defs[i];
    auto info = std::make_unique<zyl::RoutineInfo>();
    info->name = zyl::upperName(d.name);
    info->fn = d.fn;
    info->minArgs = d.minArgs;
    info->maxArgs = d.maxArgs;
    info->flags = d.flags;
    info->isFunction = isFunction != 0;
    info->keywordsDescribed = d.keywords != nullptr;
    if (d.keywords != nullptr)
      for (const HostKeyword* k = d.keywords; k->name != nullptr; ++k) info->keywords.emplace_back(k->name);
    auto it = table.find(info->name);
    if (it == table.end()) {
      table.emplace(info->name, std::move(info));
    } else {
      *it->second = *info;  // re-registration: handles to the routine stay valid
    }
  }
  return 1;
}

HostRoutineHandle HostLookupName(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  auto& s = hostState();
  if (s.userLookup && s.userCaller && s.userLookup(name)) {
    auto& handle = s.userHandles[name];
    if (!handle) handle = std::make_unique<zyl::RoutineHandle>(zyl::RoutineHandle{true, name, nullptr});
    return handle.get();
  }
  const zyl::RoutineInfo* routine = zyl::Runtime::instance().findRoutine(name, true);
  if (routine == nullptr) return nullptr;
  auto& handle = s.routineHandles[routine];
  if (!handle) handle = std::make_unique<zyl::RoutineHandle>(zyl::RoutineHandle{false, routine->name, routine});
  return handle.get();
}

HostVar* HostCallRoutine(HostRoutineHandle routine, int argc, HostVar* argv[]) {
  zyl::Runtime& runtime = zyl::Runtime::instance();
  if (routine == nullptr) runtime.fail("Call of an unknown routine");
  const auto* handle = static_cast<const zyl::RoutineHandle*>(routine);
  std::vector<zyl::Variable*> args(argv, argv + (argc > 0 ? argc : 0));
  auto& s = hostState();
  if (handle->user) {
    if (!s.userCaller) runtime.fail("Attempt to call undefined function: " + handle->name);
    return zyl::newTemporary(s.userCaller(handle->name, args));
  }
  return zyl::newTemporary(zyl::invoke(*handle->routine, std::move(args), {}, {}));
}
