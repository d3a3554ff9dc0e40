// The access layer's messages, one per failure, and their formatting into a
// caller's buffer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace zyl::config::msg {

inline constexpr std::string_view kLoadNoDocument =
    "Error: Failed to load xml doc for cfg file (%s). Verify the file exists and you have read "
    "permission.";
inline constexpr std::string_view kLoadException =
    "Error: Failed to load xml cfg file (%s). Verify the file exists and you read permission";
inline constexpr std::string_view kRelease = "Error: Failed to unload xml cfg file (%s)";
inline constexpr std::string_view kWrite = "Error: Failed to write Orvo Cfg file (%s)";
inline constexpr std::string_view kReadParam = "Error: Failed to read Orvo Cfg param (%s) from (%s)";
inline constexpr std::string_view kSetParam = "Error: Failed to set Orvo Cfg param (%s) from (%s)";
inline constexpr std::string_view kCountEntities = "Error: Failed to count Orvo Cfg Appl Entities in (%s)";
inline constexpr std::string_view kReadEntities = "Error: Failed to read Orvo Cfg Appl Entities from (%s)";
inline constexpr std::string_view kReadEntity = "Error: Failed to read Orvo Cfg Appl Entity (%s) from (%s)";
inline constexpr std::string_view kEntityExists = "Error: Failed to validate AE Name in (%s)";
inline constexpr std::string_view kFindAndSetEntity = "Error: Failed to find & set Orvo Cfg Appl Entity (%s) in (%s)";
inline constexpr std::string_view kSetEntity = "Error: Failed to set Orvo Cfg Appl Entity (%s) in (%s)";
inline constexpr std::string_view kCreateEntity = "Error: Failed to create new application entity (%s) in (%s)";
inline constexpr std::string_view kRemoveEntity = "Error: Failed to remove Orvo Cfg Appl Entity (%s) from (%s)";
inline constexpr std::string_view kCountServiceLists = "Error: Failed to count Service Lists Orvo Cfg file (%s)";
inline constexpr std::string_view kReadServiceLists = "Error: Failed to get Service Lists Orvo Cfg file (%s)";
inline constexpr std::string_view kCountServiceTypes = "Error: Failed to count Service Types Orvo Cfg file (%s)";
inline constexpr std::string_view kReadServiceTypes = "Error: Failed to get Service Types Orvo Cfg file (%s)";
inline constexpr std::string_view kServiceListExists =
    "Error: Failed to validate Service List (%s) in Orvo Cfg file (%s)";

// What follows kLoadNoDocument when the parser refused the file: " Line 3:
// <reason>" (the line left out when the parser gave none).
inline std::string ParseFailureText(std::uint64_t line, std::string_view reason) {
  std::string text = line > 0 ? " Line " + std::to_string(line) + ":" : std::string();
  if (!reason.empty()) text += " " + std::string(reason);
  return text;
}

// Replaces each "%s" of `format` by the next argument.
inline std::string Format(std::string_view format, std::initializer_list<std::string_view> arguments) {
  std::string text;
  auto argument = arguments.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && argument != arguments.end()) {
      text += *argument++;
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

}  // namespace zyl::config::msg
