// The runtime's inner state, shared by the files of the host library. Nothing
// outside platform/host/src includes this header.
#pragma once

#include <cstdint>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zyl/runtime.h"

namespace zyl {

// Upper-case copy (names of structures, fields, classes, routines, keywords).
std::string upperName(std::string_view name);
bool sameName(std::string_view a, std::string_view b);  // case-insensitive

class MessageBlock {
 public:
  struct Entry {
    std::string name;
    std::string format;
  };
  MessageBlock(std::string name, std::vector<Entry> entries) : name_(std::move(name)), entries_(std::move(entries)) {}
  const std::string& name() const { return name_; }
  // Entry for a code (0, -1, -2, ...), nullptr when out of range.
  const Entry* entry(int code) const {
    if (code > 0 || static_cast<size_t>(-static_cast<int64_t>(code)) >= entries_.size()) return nullptr;
    return &entries_[static_cast<size_t>(-static_cast<int64_t>(code))];
  }

 private:
  std::string name_;
  std::vector<Entry> entries_;
};

// A function HostLookupName hands out: a user function (by name) or a
// registered function.
struct RoutineHandle {
  bool user = false;
  std::string name;
  const RoutineInfo* routine = nullptr;
};

struct ObjectEntry {
  ClassRecord* record = nullptr;
  std::unique_ptr<Array> data;  // one element of the class's structure
};

// One routine call in progress: its name (for %N) and the temporaries made
// while it runs (pointer and serial, so a reused address is told apart).
struct CallFrame {
  std::string routine;
  std::vector<std::pair<Variable*, uint64_t>> temporaries;
};

constexpr int kFirstFileUnit = 100;
constexpr int kLastFileUnit = 128;

struct Runtime::State {
  // Registrations.
  std::map<std::string, std::unique_ptr<StructDef>> structs;  // by upper-case name
  std::map<std::string, std::unique_ptr<ClassRecord>> classes;
  std::map<std::string, std::unique_ptr<RoutineInfo>> functions;
  std::map<std::string, std::unique_ptr<RoutineInfo>> procedures;
  std::map<std::string, std::unique_ptr<MessageBlock>> blocks;
  MessageBlock* hostBlock = nullptr;  // "ZYL_MBLK_HOST"

  // Objects and heap variables; identifiers are never reused.
  std::map<uint64_t, ObjectEntry> objects;
  uint64_t nextObjectId = 1;
  std::map<uint64_t, std::unique_ptr<Variable>> heap;
  uint64_t nextHeapId = 1;

  // Temporaries: owned here until freed or handed over.
  std::unordered_map<Variable*, std::pair<std::unique_ptr<Variable>, uint64_t>> temporaries;
  uint64_t nextTemporarySerial = 1;
  std::vector<CallFrame> frames;

  // Messages.
  std::function<void(const Message&)> sink;
  bool quiet = false;
  HostOutputCallback outputCallback = nullptr;

  // Callbacks into the interpreter.
  UserFunctionLookup userLookup;
  UserFunctionCaller userCaller;
  std::map<std::string, std::unique_ptr<RoutineHandle>> userHandles;
  std::map<const RoutineInfo*, std::unique_ptr<RoutineHandle>> routineHandles;

  // Files and modules.
  std::array<FILE*, kLastFileUnit - kFirstFileUnit + 1> units{};
  std::map<std::string, void*> modules;  // path -> dlopen handle

  // Service program.
  int initFlags = 0;
  bool initialized = false;
  int startupOption = 0;
  std::string installDirCache;  // backs the pointer HostInstallDir returns
};

struct RuntimeAccess {
  using State = Runtime::State;
  static State& state() { return *Runtime::instance().state_; }
};
using RuntimeState = RuntimeAccess::State;
inline RuntimeState& hostState() { return RuntimeAccess::state(); }

// Makes a temporary owned by the runtime and attached to the innermost call.
Variable* newTemporary(Variable value = Variable());
bool isLiveTemporary(const Variable* v);
void freeTemporary(Variable* v);

// Pushes a call frame for the lifetime of the object; on destruction frees
// every temporary made in the frame that is still alive.
class FrameScope {
 public:
  explicit FrameScope(std::string routine);
  ~FrameScope();
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
};

// The host's own messages (block "ZYL_MBLK_HOST", code 0).
void issueHostMessage(int action, const std::string& text);

// Directory of libzyl.so, with a trailing '/'.
std::string libraryDir();
std::string installRoot();  // HostInstallDir as a std::string

void closeAllFileUnits();

}  // namespace zyl
