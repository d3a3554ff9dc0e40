// How a class registers its methods: each method file lists its own rows;
// the class lists its method files, and the module's load adds them.
#pragma once

#include <span>

#include "zyl/host.h"

namespace orvo {

// A registered method: its routine and the keywords it accepts (nullptr for
// none), so that the host can list them.
struct MethodEntry {
  HostRoutineFn fn;
  const HostKeyword* keywords;
};

// Methods that accept keywords and read none (they are ignored).
inline constexpr HostKeyword kNoKeywordsRead[] = {{nullptr, HOST_KW_INT, 0, 0}};

// One method of a class, as the host registers it: its name, its entry, its
// argument counts (the object itself included), its flags, and whether it
// returns a value (a function) or not (a procedure).
struct MethodRow {
  HostRoutineDef def;
  bool returnsValue;
};

constexpr HostRoutineDef routine(const char* name, const MethodEntry& entry, int minArgs, int maxArgs, int flags) {
  const HostKeyword* keywords = entry.keywords;
  if (keywords == nullptr && (flags & HOST_ROUTINE_KEYWORDS)) keywords = kNoKeywordsRead;
  return {name, entry.fn, minArgs, maxArgs, flags, keywords};
}
constexpr MethodRow functionRow(const char* name, const MethodEntry& entry, int minArgs, int maxArgs, int flags) {
  return {routine(name, entry, minArgs, maxArgs, flags), true};
}
constexpr MethodRow procedureRow(const char* name, const MethodEntry& entry, int minArgs, int maxArgs, int flags) {
  return {routine(name, entry, minArgs, maxArgs, flags), false};
}

// Each method file lists the methods it serves next to their workers; a
// class lists its method files (the way each of Lua's libraries owns its
// luaL_Reg array and linit.c lists the libraries).
using MethodRows = std::span<const MethodRow>;
using MethodFile = MethodRows (*)();
using ClassMethods = std::span<const MethodFile>;

}  // namespace orvo
