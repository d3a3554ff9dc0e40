// Checks that the loader and the write-back hold up on arbitrary bytes.
#pragma once

#include <string>
#include <string_view>

namespace zyl::config::testing {

// Loads `bytes` from a file in `folder` and, when they load, reads every kind
// of value, writes the document back unchanged and after an edit, and loads
// the result again. Returns 0 when every property held, else the number of
// the first one that failed.
int ExerciseConfigBytes(std::string_view bytes, const std::string& folder);

}  // namespace zyl::config::testing
