// Reading a configuration file whole, and replacing one atomically.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zyl::config::io {

// Configuration files are a few kilobytes; anything beyond this is not one.
inline constexpr std::size_t kMaxConfigFileBytes = 16u << 20;

// The bytes of the regular file at `path`; nullopt when it cannot be opened
// or read, is not a regular file, or is larger than kMaxConfigFileBytes.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes `bytes` to a new temporary file in the folder of `path`, flushes it
// to disk and renames it over `path`. An existing file keeps its permission
// bits (and its owner, where the process may set it); a symbolic link is
// followed, so the file it points to is the one replaced. On failure the
// temporary file is removed, `path` is left as it was, and false is returned.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace zyl::config::io
