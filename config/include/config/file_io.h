// Reading a configuration file whole (files/replace.h replaces one).
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

}  // namespace zyl::config::io
