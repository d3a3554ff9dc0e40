// The host runtime seen from the interpreter and from tests: load modules,
// find classes and routines, call them with positional arguments and
// keywords, make and destroy objects, and capture messages.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zyl/host.h"

namespace zyl {

// One message as issued (after formatting).
struct Message {
  std::string block;  // "ZYL_MBLK_ORVO", or "ZYL_MBLK_HOST" for the host's own
  int code = 0;
  int action = 0;
  std::string routine;  // the name %N stood for
  std::string text;     // formatted
};

struct RoutineInfo {
  std::string name;  // upper case
  HostRoutineFn fn = nullptr;
  int minArgs = 0;
  int maxArgs = 0;
  int flags = 0;
  bool isFunction = false;
  std::vector<std::string> keywords;  // as registered, for help
  bool keywordsDescribed = false;     // a table (maybe empty) was registered
};

class ClassRecord {
 public:
  explicit ClassRecord(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }  // upper case
  HostReleaseCallback releaseCallback() const { return release_; }
  void setReleaseCallback(HostReleaseCallback cb) { release_ = cb; }

 private:
  std::string name_;
  HostReleaseCallback release_ = nullptr;
};

// A keyword of a call: the caller's variable (by reference) or a value.
struct KeywordArg {
  std::string name;  // as written; matched case-insensitively, never abbreviated
  Variable* var;     // never null; a temporary when the value is not a variable
};

class KeywordList {
 public:
  std::vector<KeywordArg> items;
  std::string routine;  // for messages
};

// A user function the interpreter defines; HostLookupName finds these first.
using UserFunctionCaller = std::function<Variable(std::string_view name, std::vector<Variable*>& args)>;
using UserFunctionLookup = std::function<bool(std::string_view name)>;

class Runtime {
 public:
  static Runtime& instance();

  // ---- modules
  // dlopen + ZYL_Load; false (with the reason) when either fails or ZYL_Load returns 0.
  bool loadModule(const std::string& path, std::string* error);
  // Loads every module (a *.so whose name does not start with "lib" and that
  // exports ZYL_Load) in the program directory; a failed load adds one entry
  // "reason" to errors and the others still load. A module loads only once.
  void loadInstalledModules(std::vector<std::string>* errors);
  // <root>/bin/bin.x86_64/: the folder libzyl.so lies in (also while ZYL_DIR
  // points elsewhere, so modules are found with a temporary installation root).
  std::string programDir() const;

  // ---- routines and classes
  const RoutineInfo* findRoutine(std::string_view name, bool function) const;
  std::vector<const RoutineInfo*> routinesOfClass(std::string_view className) const;
  ClassRecord* findClass(std::string_view name) const;
  const StructDef* structOfClass(const ClassRecord* record) const;

  // Calls a registered routine. args are the caller's variables (a variable
  // passed by reference, or a temporary the caller made). Checks argument
  // counts and keyword permission, sets %N, releases the call's temporaries.
  // Returns the function's result (Null for procedures). Throws HostError.
  // args become argv as they are: for a method args[0] is the object (for a
  // static method, a string with the class name); callMethod and callStatic
  // put that first argument in themselves.
  Variable call(std::string_view name, bool function, std::vector<Variable*> args,
                std::vector<KeywordArg> keywords = {});
  // Calls "CLASS::METHOD", function or procedure, whichever is registered.
  Variable callMethod(Variable& object, std::string_view method, std::vector<Variable*> args,
                      std::vector<KeywordArg> keywords = {});
  Variable callStatic(std::string_view className, std::string_view method, std::vector<Variable*> args,
                      std::vector<KeywordArg> keywords = {});

  // ---- objects
  // Makes an instance, runs CLASS::INIT when registered; Null when INIT gives 0.
  Variable newObject(std::string_view className, std::vector<Variable*> args, std::vector<KeywordArg> keywords = {});
  // Runs CLASS::CLEANUP when registered, then the release callback; frees the instance.
  void destroyObject(const Variable& object);
  void* objectInstance(uint64_t id, const ClassRecord** record = nullptr) const;
  bool objectValid(uint64_t id) const;

  // ---- messages
  // Every message goes to the sink; the default prints to stderr. Quiet
  // messages reach the sink only while quiet is off.
  void setMessageSink(std::function<void(const Message&)> sink);
  void setQuiet(bool quiet);
  bool quiet() const;
  // Issues an action-2 error from the host itself (block "ZYL_MBLK_HOST").
  [[noreturn]] void fail(const std::string& text);
  // The routine name %N stands for (innermost call; "ZYL_LOAD" while a
  // module's ZYL_Load runs), "" outside calls.
  std::string currentRoutine() const;

  // ---- user functions (set by the interpreter)
  void setUserFunctions(UserFunctionLookup lookup, UserFunctionCaller caller);

  // ---- heap
  size_t heapSize() const;
  size_t liveTemporaries() const;  // for leak checks in tests

  // Destroys every object (release callbacks) and heap variable.
  void shutdown();

  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;
  ~Runtime();

 private:
  Runtime();
  struct State;
  std::unique_ptr<State> state_;
  friend struct RuntimeAccess;
};

}  // namespace zyl
