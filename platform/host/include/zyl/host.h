// The host's API for loadable modules and for the storage service: the
// operations a module calls to register itself, read its arguments, hand back
// results, report messages and reach files and the system.
//
// Errors with action HOST_MSG_ERROR (2) throw zyl::HostError; the runtime
// catches it at the boundary of the routine call and hands the formatted
// message to the caller. Module code must therefore hold its resources in
// RAII types. Temporaries made during a routine call that are neither handed
// back nor freed are released by the runtime when the call ends, so an error
// never leaks them.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "zyl/value.h"

using HostVar = zyl::Variable;
using HostType = zyl::Type;

namespace zyl {
class MessageBlock;
class KeywordList;

// What an action-2 message throws.
class HostError : public std::runtime_error {
 public:
  HostError(std::string message, std::string block, int code, int action)
      : std::runtime_error(message), block_(std::move(block)), code_(code), action_(action) {}
  const std::string& block() const { return block_; }
  int code() const { return code_; }
  int action() const { return action_; }

 private:
  std::string block_;
  int code_;
  int action_;
};
}  // namespace zyl

// ---------------------------------------------------------------- messages
enum : int {
  HOST_MSG_REPORT = 0,            // recorded and shown, the call goes on
  HOST_MSG_ERROR = 2,             // the routine call is abandoned
  HOST_MSG_INFO = 4,              // shown, the call goes on
  HOST_MSG_INFO_QUIET = 0x80004,  // as HOST_MSG_INFO, silent while !quiet is set
};

struct HostMessageDef {
  const char* name;
  const char* format;  // %N: the issuing routine's name; %s: one string argument
};
using HostMsgBlock = zyl::MessageBlock*;

// Defines (or returns the existing) block; null on failure.
HostMsgBlock HostDefineMessageBlock(const char* name, int count, const HostMessageDef* defs);
// code 0 is the first entry, -1 the second, ...; the varargs are const char*,
// as many as the entry's format has %s. Throws zyl::HostError for action 2.
void HostMessage(HostMsgBlock block, int code, int action, ...);
void HostMessageV(HostMsgBlock block, int code, int action, va_list args);
// The entry of a code: its name and format; 0 when the block has no such code.
int HostMessageBlockEntry(HostMsgBlock block, int code, const char** name, const char** format);

// ------------------------------------------------------- structures, classes
struct HostStructTag {
  const char* name;  // nullptr ends the table
  HostType type;
};
// Defines a structure (field order kept) or returns the definition of that
// name that already exists. nullptr when the fields differ from it.
zyl::StructDef* HostDefineStructure(const char* name, const HostStructTag* tags);
zyl::StructDef* HostFindStructure(const char* name);
size_t HostStructFieldOffset(const zyl::StructDef* def, const char* field);  // SIZE_MAX if absent

using HostClassRecord = zyl::ClassRecord;
using HostReleaseCallback = void (*)(void* instanceData);
// A class whose instances carry the structure of the same name as data.
HostClassRecord* HostClassRecordCreate(const char* className);
void HostSetClassReleaseCallback(HostClassRecord* record, HostReleaseCallback callback);

// ---------------------------------------------------------------- routines
// argv[0] is the object for methods (for static methods: a string holding the
// class name). Functions return a temporary (or nullptr for the null value);
// procedures return nullptr.
using HostRoutineFn = HostVar* (*)(int argc, HostVar* argv[], zyl::KeywordList* argk);
enum : int {
  HOST_ROUTINE_KEYWORDS = 2,    // accepts keywords; argk is the keyword list
  HOST_ROUTINE_STATIC = 0x400,  // class-level method: argv[0] is not an instance
};
struct HostKeyword;
struct HostRoutineDef {
  const char* name;  // "CLASS::METHOD" upper case, or a plain routine name
  HostRoutineFn fn;
  int minArgs;  // positional, the object counting as the first
  int maxArgs;
  int flags;
  // The keywords the routine reads, for help: a table as for
  // HostProcessKeywords (empty: it reads none); nullptr: not described.
  const HostKeyword* keywords = nullptr;
};
// isFunction: 1 for functions, 0 for procedures. Nonzero on success.
int HostAddRoutines(const HostRoutineDef* defs, int isFunction, int count);

// ---------------------------------------------------------------- keywords
enum HostKeywordKind : int {
  HOST_KW_INT,     // int32_t at valueOffset: the value converted; 0 when absent
  HOST_KW_DOUBLE,  // double at valueOffset
  HOST_KW_STRING,  // zyl::HostString at valueOffset: a copy of the text (any scalar converted)
  HOST_KW_REF,     // HostVar* at valueOffset: the caller's variable itself (defined or not)
};
constexpr size_t HOST_KW_NO_GIVEN = SIZE_MAX;
struct HostKeyword {
  const char* name;  // upper case; nullptr ends the table
  HostKeywordKind kind;
  size_t valueOffset;  // offset in the caller's result structure
  size_t givenOffset;  // int at this offset set to 1 when given; HOST_KW_NO_GIVEN for none
};
// Fills the result structure (zeroed first) from the keywords of the call.
// Unknown keywords are an action-2 error naming the keyword and the routine.
// Returns 1 when HostFreeKeywords must be called (strings were copied).
int HostProcessKeywords(zyl::KeywordList* argk, const HostKeyword* table, void* result);
void HostFreeKeywords(const HostKeyword* table, void* result);

// Releases keyword results when it goes out of scope (also on an error).
class HostKeywordScope {
 public:
  HostKeywordScope(zyl::KeywordList* argk, const HostKeyword* table, void* result)
      : table_(table), result_(result), mustFree_(HostProcessKeywords(argk, table, result) != 0) {}
  ~HostKeywordScope() {
    if (mustFree_) HostFreeKeywords(table_, result_);
  }
  HostKeywordScope(const HostKeywordScope&) = delete;
  HostKeywordScope& operator=(const HostKeywordScope&) = delete;

 private:
  const HostKeyword* table_;
  void* result_;
  bool mustFree_;
};

// ---------------------------------------------------------------- arguments
// Instance data of an object of the class, else an action-2 error.
void* HostObjectInstance(HostVar* object, const char* className);
// Action-2 error unless v is a scalar (not an array, structure or file).
void HostEnsureSimple(HostVar* v);
// Text of a scalar string, else an action-2 error.
const char* HostVarGetString(HostVar* v);
zyl::HostString* HostArgStringDescriptor(HostVar* v);
// Any scalar as text (numbers formatted as print shows them) into a temporary string.
HostVar* HostToString(HostVar* v);
// Conversions of a scalar (or the first element of an array); action-2 error
// when the value has no numeric reading.
int16_t HostToInt(HostVar* v);
int32_t HostLongScalar(HostVar* v);
uint32_t HostULongScalar(HostVar* v);
uint32_t HostULongScalarOf(HostVar* v, int64_t index);  // element index of an array
double HostDoubleScalar(HostVar* v);
// Element count and data (scalar: 1 and the scalar itself; strings: HostString*).
int64_t HostVarGetData(HostVar* v, void** data);
// A temporary holding v converted to type (numbers and strings, scalars and arrays).
HostVar* HostConvertType(HostVar* v, HostType type);

// ---------------------------------------------------------------- results
HostVar* HostTempInt(int16_t v);
HostVar* HostTempLong(int32_t v);
HostVar* HostTempUInt(uint16_t v);
HostVar* HostTempULong(uint32_t v);
HostVar* HostTempVar(HostType type);  // an undefined temporary if Undefined, else a zero scalar
HostVar* HostTempNull();
HostVar* HostStringToVar(const char* text);
HostVar* HostMakeTempVector(HostType type, int64_t count, int zero, void** data);
HostVar* HostMakeTempArray(HostType type, int ndims, const int64_t* dims, int zero, void** data);
HostVar* HostMakeTempStructArray(const zyl::StructDef* def, int ndims, const int64_t* dims, int zero, void** data);
void HostFreeTemporary(HostVar* temp);
// Moves a temporary's value into dst and frees the temporary.
void HostVarCopy(HostVar* src, HostVar* dst);
void HostStoreScalar(HostVar* dst, HostType type, const zyl::Scalar* value);
void HostMakeUndefined(HostVar* v);
// Releases what an output variable holds (it becomes undefined); a temporary
// is freed instead.
void HostReleaseOutput(HostVar* v);

// ---------------------------------------------------------------- host strings
void HostStringStore(zyl::HostString* s, const char* text, int32_t length);  // length < 0: strlen
void HostStringDelete(zyl::HostString* s);
void HostStringDuplicate(zyl::HostString* s);  // make s own a fresh copy of its text
// Bounded copies; size counts the terminator. Return the length the full result would have.
size_t HostStringCopy(char* dst, const char* src, size_t size);
size_t HostStringAppend(char* dst, const char* src, size_t size);

// ---------------------------------------------------------------- heap, callbacks
uint64_t HostHeapNew(const HostVar* value);  // a copy of value; 0 for an undefined value
HostVar* HostHeapFind(uint64_t id);          // nullptr when freed or never made
void HostHeapFree(uint64_t id);

using HostRoutineHandle = const void*;
// A function callable by name: a script's user function or a registered function.
HostRoutineHandle HostLookupName(const char* name);  // nullptr when unknown
// Calls it; returns a temporary (the caller frees it). Errors propagate.
HostVar* HostCallRoutine(HostRoutineHandle routine, int argc, HostVar* argv[]);

// ---------------------------------------------------------------- files and system
enum : int {
  HOST_FILE_READ = 1,
  HOST_FILE_WRITE = 2,
  HOST_FILE_STDIO = 16384,  // the unit is a stdio stream (HostFileStat gives it)
};
constexpr int HOST_FILE_FAILED = -100;
int HostFileOpen(const char* path, int mode, int flags);  // unit, or -100
FILE* HostFileStat(int unit);                             // nullptr when not open
int HostFileSeek(int unit, int64_t offset);               // 1 on success
void HostFileClose(int unit);
int HostFileExists(const char* path);
int HostCallFileCopy(const char* src, const char* dst, int overwrite);  // 1 when dst exists after
int HostCallFileChmod(const char* path, unsigned mode);
// root (nullptr: the installation root) joined with the subdirectories and the
// file name (nullptr: none, the result ends with a separator). Returns length.
size_t HostFilePathFromRoot(char* buf, size_t size, const char* root, const char* const* subdirs, int nsubdirs,
                            const char* file);
// The per-user application directory, created with its readme when missing.
// Returns its path (empty on failure).
std::string HostCallUserAppDir(const char* authorDir, const char* authorDescription, const char* appDir,
                               const char* appDescription, const char* readmeText, const char* readmeVersion,
                               const char* restrictAppVersion);
const char* HostInstallDir();            // ZYL_DIR, else found from where the host library lies
int HostSetEnv(const char* assignment);  // "NAME=value"; 1 on success
// Memory the module keeps (freed with HostMemFree); on failure issues
// errorText with the action (code 0 of the host's own block) and returns nullptr.
void* HostMemAlloc(size_t size, const char* errorText, int action);
void HostMemFree(void* p);
void* HostGetScratch(size_t size);  // released with HostFreeScratch
void HostFreeScratch(void* p);
std::string HostCurrentTime();  // "Mon Dec 07 23:55:01 2026"

// ---------------------------------------------------------------- service program
using HostOutputCallback = void (*)(int flags, const char* text, int length);
void HostRegisterCallback(HostOutputCallback callback);
int HostInitialize(int flags, int argc, char** argv);  // 1 on success
enum : int { HOST_DIR_ROOT = 2 };
// The installation root (kind HOST_DIR_ROOT) joined with name; ends with a separator.
std::string HostDirectoryPath(int kind, const char* name);
std::string HostSubdirectoryPath(int kind, const char* const* subdirs, int nsubdirs);
void HostStartupOption(int value);
