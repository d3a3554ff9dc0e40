#include "tags.h"

#include <array>
#include <string>

#include "file_object.h"

namespace orvo::file {
namespace {

constexpr std::array<const char*, 31> kVrNames = {
    "AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT", "PN", "SH", "ST", "TM", "??", "??", "UT",
    "UI", "SS", "US", "AT", "SL", "UL", "FL", "FD", "UN", "OB", "OW", "??", "??", "OF", "SQ"};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<uint32_t> tagDigits(std::string_view tagString) {
  uint64_t value = 0;
  int digits = 0;
  for (size_t i = 0; i < tagString.size() && i < 16; ++i) {
    const int d = hexDigit(tagString[i]);
    if (d < 0) continue;
    value = value << 4 | static_cast<uint64_t>(d);
    ++digits;
  }
  // Nine digits would not fit a tag: refuse rather than drop one.
  if (digits == 0 || digits > 8) return std::nullopt;
  return static_cast<uint32_t>(value);
}

uint32_t parseTag(std::string_view tagString) {
  if (tagString.size() != 9) fail(kInvalidDicomTag);
  const std::optional<uint32_t> tag = tagDigits(tagString);
  if (!tag || *tag == 0) fail(kErrs2, "Error: Failed to interpret DicomTag arg ", std::string(tagString));
  return *tag;
}

const char* vrName(int code) {
  return code >= 0 && code < static_cast<int>(kVrNames.size()) ? kVrNames[static_cast<size_t>(code)] : "??";
}

int vrCode(std::string_view name) {
  for (size_t code = 0; code < kVrNames.size(); ++code)
    if (name != "??" && name == kVrNames[code]) return static_cast<int>(code);
  return MC_VR_UN;
}

bool vrSupported(int code) { return std::string_view(vrName(code)) != "??"; }

void guardPixelData(const FileInstance& file, uint32_t tag) {
  if (tag == kTagPixelData && file.noPixelData != 0)
    fail(kErrs2,
         "Error: File was opened with the NO_PIXEL_DATA keyword set so the pixel data is not accessible. (file)",
         fileName(file));
}

}  // namespace orvo::file
