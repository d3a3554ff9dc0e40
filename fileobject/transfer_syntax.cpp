#include "transfer_syntax.h"

#include <array>

#include "file_object.h"
#include "messages.h"

namespace orvo::file {
namespace {

constexpr const char* kUnknownSyntax = " Unknown Transfer Syntax";

struct SyntaxName {
  int number;
  const char* name;
};

constexpr std::array<SyntaxName, 27> kNames{{
    {100, " Implicit VR Little Endian"},
    {101, " Explicit VR Little Endian"},
    {102, " Explicit VR Big Endian"},
    {103, " Implicit VR Big Endian"},
    {105, " RLE"},
    {106, " JPEG Baseline"},
    {107, " JPEG Extended (2 & 4)"},
    {108, " JPEG Extended (3 & 5)"},
    {109, " JPEG Spectral, Non-Hier (6 & 8)"},
    {110, " JPEG Spectral, Non-Hier (7 & 9)"},
    {111, " JPEG Full, Non-Hier (10 & 12)"},
    {112, " JPEG Full, Non-Hier (11 & 13)"},
    {113, " JPEG Lossless, Non-Hier (14)"},
    {114, " JPEG Lossless, Non-Hier (15)"},
    {115, " JPEG Extended, Hier (16 & 18)"},
    {116, " JPEG Extended, Hier (17 & 19)"},
    {117, " JPEG Spectral, Hier (20 & 22)"},
    {118, " JPEG Spectral, Hier (21 & 23)"},
    {119, " JPEG Full, Hier (24 & 26)"},
    {120, " JPEG Full, Hier (25 & 27)"},
    {121, " JPEG Lossless, Hier (28)"},
    {122, " JPEG Lossless, Hier (29)"},
    {123, " JPEG Lossless, Non-Hier (1st)"},
    {124, " JPEG 2000 Lossless"},
    {125, " JPEG 2000"},
    {129, " Private Syntax 1"},
    {130, " Private Syntax 2"},
}};

constexpr std::array<NamedSyntax, 8> kNamed{{
    {"1.2.840.10008.1.2", 100, SyntaxClass::Uncompressed},
    {"1.2.840.10008.1.2.1", 101, SyntaxClass::Uncompressed},
    {"1.2.840.10008.1.2.2", 102, SyntaxClass::Uncompressed},
    {"1.2.840.10008.1.2.4.50", 106, SyntaxClass::Lossy},
    {"1.2.840.10008.1.2.4.51", 107, SyntaxClass::Lossy},
    {"1.2.840.10008.1.2.4.70", 123, SyntaxClass::LosslessCompressed},
    {"1.2.840.10008.1.2.4.90", 124, SyntaxClass::LosslessCompressed},
    {"1.2.840.10008.1.2.4.91", 125, SyntaxClass::Lossy},
}};

}  // namespace

const char* transferSyntaxName(int number) {
  for (const SyntaxName& entry : kNames)
    if (entry.number == number) return entry.name;
  return kUnknownSyntax;
}

std::optional<NamedSyntax> namedSyntax(std::string_view uid) {
  for (const NamedSyntax& entry : kNamed)
    if (uid == entry.uid) return entry;
  return std::nullopt;
}

bool isStandardCompressed(int number) {
  return number == 106 || number == 107 || number == 123 || number == 124 || number == 125;
}

bool isUnsupportedCompression(int number) {
  return number >= 104 && number <= 130 && !isStandardCompressed(number);
}

bool isLossy(int number) { return number == 106 || number == 107 || number == 125; }

std::string currentSyntaxUid(const FileInstance& file) {
  char uid[kUidBufferSize] = {};
  const MC_STATUS status = MC_Get_Value_To_String(file.msgFileId, kTagTransferSyntaxUid, sizeof uid, uid);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: failed to get transfer syntax from file ", fileName(file), MC_Error_Message(status));
  return uid;
}

int currentSyntax(const FileInstance& file) {
  const std::string uid = currentSyntaxUid(file);
  MC_TRANSFER_SYNTAX number = MC_TS_INVALID;
  const MC_STATUS status = MC_Get_Enum_From_Transfer_Syntax(uid.c_str(), &number);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: failed to convert transfer syntax ", fileName(file), MC_Error_Message(status));
  return static_cast<int>(number);
}

}  // namespace orvo::file
