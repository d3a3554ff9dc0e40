#include "transfer_syntax.h"

#include <algorithm>
#include <array>

#include "file_object.h"
#include "messages.h"
#include "toolkit/tags.h"

namespace orvo::file {
namespace {

struct Coding {
  MC_PIXEL_CODING pixels = MC_PIXELS_OTHER;
  MC_CODEC_SUPPORT codec = MC_CODEC_NONE;
};

// The toolkit's row of a syntax; a number without one is treated as pixels
// nothing here reads.
Coding codingOf(int number) {
  Coding c;
  if (MC_Get_Transfer_Syntax_Coding(static_cast<MC_TRANSFER_SYNTAX>(number), &c.pixels, &c.codec) !=
      MC_NORMAL_COMPLETION)
    return Coding{};
  return c;
}

}  // namespace

const char* transferSyntaxName(int number) { return MC_Transfer_Syntax_Name(static_cast<MC_TRANSFER_SYNTAX>(number)); }

std::optional<MC_TRANSFER_SYNTAX> writtenSyntaxOfUid(std::string_view uid) {
  MC_TRANSFER_SYNTAX number = MC_TS_INVALID;
  char canonical[kUidBufferSize] = {};
  if (MC_Get_Enum_From_Transfer_Syntax(std::string(uid).c_str(), &number) != MC_NORMAL_COMPLETION ||
      MC_Get_Transfer_Syntax_From_Enum(number, canonical, sizeof canonical) != MC_NORMAL_COMPLETION || uid != canonical)
    return std::nullopt;
  if (std::find(kWrittenSyntaxes.begin(), kWrittenSyntaxes.end(), number) == kWrittenSyntaxes.end())
    return std::nullopt;
  return number;
}

std::optional<NamedSyntax> namedSyntax(std::string_view uid) {
  const std::optional<MC_TRANSFER_SYNTAX> number = writtenSyntaxOfUid(uid);
  if (!number) return std::nullopt;
  const MC_PIXEL_CODING pixels = codingOf(*number).pixels;
  return NamedSyntax{static_cast<int>(*number), pixels == MC_PIXELS_NATIVE  ? SyntaxClass::Uncompressed
                                                : pixels == MC_PIXELS_LOSSY ? SyntaxClass::Lossy
                                                                            : SyntaxClass::LosslessCompressed};
}

bool isStandardCompressed(int number) { return codingOf(number).codec == MC_CODEC_DECODES_AND_ENCODES; }

bool isDecodeOnly(int number) { return codingOf(number).codec == MC_CODEC_DECODES; }

bool isDecodable(int number) { return codingOf(number).codec != MC_CODEC_NONE; }

bool isReadBeyondTable(int number) { return isDecodeOnly(number) || number == MC_TS_DEFLATED_EXPLICIT_LITTLE_ENDIAN; }

// Deflate compresses the whole data set, which the toolkit holds inflated:
// its pixels are native.
bool isUnsupportedCompression(int number) {
  const Coding c = codingOf(number);
  return c.pixels != MC_PIXELS_NATIVE && c.codec == MC_CODEC_NONE;
}

bool isLossy(int number) {
  const Coding c = codingOf(number);
  return c.codec != MC_CODEC_NONE && c.pixels == MC_PIXELS_LOSSY;
}

std::string currentSyntaxUid(const FileInstance& file) {
  char uid[kUidBufferSize] = {};
  const MC_STATUS status = MC_Get_Value_To_String(file.msgFileId, zyl::tags::kTransferSyntaxUid, sizeof uid, uid);
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
