// A text field of fixed size inside plain records that are copied by value
// (application entities, service-list names). The size is a limit on the
// length: every assignment is cut so that the field stays a terminated
// string, and the cut never splits a UTF-8 sequence.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace zyl::config {

// Length of the longest prefix of `text` that fits in `limit` bytes without
// ending inside a multi-byte UTF-8 sequence.
inline std::size_t Utf8PrefixLength(std::string_view text, std::size_t limit) noexcept {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  // Step back over continuation bytes (10xxxxxx) to the start of the
  // sequence that would be cut.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

// Copies `text` into `buffer` as a terminated string, cut to the buffer's size.
// An empty buffer receives nothing. Returns the number of bytes copied.
inline std::size_t CopyBounded(std::span<char> buffer, std::string_view text) noexcept {
  if (buffer.empty()) return 0;
  const std::size_t length = Utf8PrefixLength(text, buffer.size() - 1);
  std::memcpy(buffer.data(), text.data(), length);
  buffer[length] = '\0';
  return length;
}

template <std::size_t Size>
class FixedText {
  static_assert(Size > 0);

 public:
  static constexpr std::size_t kSize = Size;           // bytes, terminator included
  static constexpr std::size_t kMaxLength = Size - 1;  // longest text kept

  FixedText() = default;
  explicit FixedText(std::string_view text) noexcept { assign(text); }

  // Replaces the text; the rest of the field is zero-filled.
  void assign(std::string_view text) noexcept {
    bytes_.fill('\0');
    CopyBounded(bytes_, text);
  }

  std::string_view view() const noexcept { return {bytes_.data(), strnlen(bytes_.data(), Size)}; }
  const char* c_str() const noexcept { return bytes_.data(); }
  bool empty() const noexcept { return bytes_[0] == '\0'; }

  friend bool operator==(const FixedText& field, std::string_view text) noexcept { return field.view() == text; }
  friend bool operator==(const FixedText& a, const FixedText& b) noexcept = default;

 private:
  std::array<char, Size> bytes_{};
};

}  // namespace zyl::config
