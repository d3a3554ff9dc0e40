// How a class registers its methods: each class folder lists its own in a
// table of rows; the module's load adds the four classes' tables.
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

// One row of a routine table. Argument counts include the object itself.
constexpr HostRoutineDef routine(const char* name, const MethodEntry& entry, int minArgs, int maxArgs, int flags) {
  const HostKeyword* keywords = entry.keywords;
  if (keywords == nullptr && (flags & HOST_ROUTINE_KEYWORDS)) keywords = kNoKeywordsRead;
  return {name, entry.fn, minArgs, maxArgs, flags, keywords};
}

// A class's methods: those returning a value and those that do not.
struct ClassRoutines {
  std::span<const HostRoutineDef> functions;
  std::span<const HostRoutineDef> procedures;
};

}  // namespace orvo
