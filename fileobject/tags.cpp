#include "tags.h"

#include <string>

#include "address.h"
#include "file_object.h"
#include "toolkit/tags.h"

namespace orvo::file {
namespace {

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

std::optional<uint32_t> rangeBound(std::string_view text, const char* failText) {
  if (text.empty()) return std::nullopt;
  const std::optional<uint32_t> tag = tagDigits(text);
  if (!tag) fail(kErrs2, failText, std::string(text));
  if (*tag == 0) return std::nullopt;
  return tag;
}

const char* vrName(int code) {
  const char* name = MC_VR_Name(static_cast<MC_VR>(code));
  return name ? name : "??";
}

int vrCode(std::string_view name) {
  const MC_VR code = MC_VR_From_Name(std::string(name).c_str());
  return code == MC_VR_UNKNOWN ? MC_VR_UN : static_cast<int>(code);
}

namespace {

// The number a formatted hexadecimal scan reads: blanks skipped, digits up to
// the first other character. A text without a digit there reads as nothing.
std::optional<unsigned long> scanHex(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size() || hexDigit(text[i]) < 0) return std::nullopt;
  unsigned long value = 0;
  for (; i < text.size() && hexDigit(text[i]) >= 0; ++i)
    value = value << 4 | static_cast<unsigned long>(hexDigit(text[i]));
  return value;
}

}  // namespace

PrivateTag parsePrivateTag(std::string_view code, std::string_view groupText, std::string_view elementText) {
  if (code.empty()) fail(kInvalidPrivateCode);
  if (groupText.size() != 4) fail(kInvalidGroup);
  if (elementText.size() != 2) fail(kInvalidElement);
  const std::optional<unsigned long> group = scanHex(groupText);
  if (!group) fail(kInvalidGroup);
  const std::optional<unsigned long> element = scanHex(elementText);
  if (!element) fail(kInvalidElement);
  return PrivateTag{std::string(code), std::string(groupText), std::string(elementText),
                    static_cast<unsigned short>(*group & 0xFFFF), static_cast<unsigned char>(*element & 0xFF)};
}

int addressedId(const FileInstance& file, int32_t seqId) {
  // The file's own message id names the top level too.
  if (seqId == 0 || seqId == file.msgFileId) return file.msgFileId;
  if (MC_Check_Item_Owner(file.msgFileId, seqId) != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Invalid SEQID, the item does not belong to this object (file/seqid) ", fileName(file),
         std::to_string(seqId));
  return seqId;
}

bool vrSupported(int code) { return std::string_view(vrName(code)) != "??"; }

void guardPixelData(const FileInstance& file, uint32_t tag) {
  if (tag == zyl::tags::kPixelData && file.noPixelData != 0)
    fail(kErrs2,
         "Error: File was opened with the NO_PIXEL_DATA keyword set so the pixel data is not accessible. (file)",
         fileName(file));
}

}  // namespace orvo::file
