// Transfer syntaxes as the file object sees them: display names by toolkit
// number, the syntaxes it names by UID with their classes, and the syntax of
// an open data set.
#pragma once

#include <optional>
#include <string>

#include "structures.h"
#include "toolkit/mc.h"

namespace orvo::file {

enum class SyntaxClass { Uncompressed, LosslessCompressed, Lossy };

// Display name of a toolkit syntax number, with its leading space
// (" Unknown Transfer Syntax" for numbers without one).
const char* transferSyntaxName(int number);

// The eight syntaxes named by UID: their number and class; nullopt otherwise.
struct NamedSyntax {
  const char* uid;
  int number;
  SyntaxClass syntaxClass;
};
std::optional<NamedSyntax> namedSyntax(std::string_view uid);

// Pixel work: decompressed (and compressed) by the standard callbacks,
// decompressed only, refused, or read raw.
bool isStandardCompressed(int number);     // 106, 107, 123, 124, 125: read and written
bool isDecodeOnly(int number);             // 105 RLE, 126 and 127 JPEG-LS: read, never written
bool isDecodable(int number);              // either of the two
bool isReadBeyondTable(int number);        // decode-only ones and deflate: read, not among the eight
bool isUnsupportedCompression(int number);  // any other number from 105 up (104, deflate, is native)
bool isLossy(int number);                   // 106, 107, 125, 127

// The Transfer Syntax UID of the object's data set, as stored in (0002,0010).
// Failures stop the call (action 2).
std::string currentSyntaxUid(const FileInstance& file);
// Its toolkit number; failures stop the call (action 2).
int currentSyntax(const FileInstance& file);

}  // namespace orvo::file
