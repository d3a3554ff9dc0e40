#include "transfer_syntax.h"

#include <array>

#include "file_object.h"
#include "messages.h"

namespace orvo::file {
namespace {

constexpr const char* kUnknownSyntax = " Unknown Transfer Syntax";

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
  const char* name = MC_Transfer_Syntax_Name(static_cast<MC_TRANSFER_SYNTAX>(number));
  return name ? name : kUnknownSyntax;
}

std::optional<NamedSyntax> namedSyntax(std::string_view uid) {
  for (const NamedSyntax& entry : kNamed)
    if (uid == entry.uid) return entry;
  return std::nullopt;
}

bool isStandardCompressed(int number) {
  return number == 106 || number == 107 || number == 123 || number == 124 || number == 125;
}

bool isDecodeOnly(int number) { return number == 105 || number == 126 || number == 127; }

bool isDecodable(int number) { return isStandardCompressed(number) || isDecodeOnly(number); }

bool isReadBeyondTable(int number) { return isDecodeOnly(number) || number == MC_TS_DEFLATED_EXPLICIT_LITTLE_ENDIAN; }

// Deflate (104) compresses the whole data set, which the toolkit holds
// inflated: its pixels are native. Every syntax numbered after it (up to the
// video syntaxes) encapsulates its pixels or keeps them in a private order.
bool isUnsupportedCompression(int number) { return number >= 105 && !isDecodable(number); }

bool isLossy(int number) { return number == 106 || number == 107 || number == 125 || number == 127; }

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
