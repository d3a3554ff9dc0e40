// Transfer syntaxes as the file object sees them: display names by toolkit
// number, the syntaxes it names by UID with their classes, and the syntax of
// an open data set.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "structures.h"
#include "toolkit/mc.h"

namespace orvo::file {

enum class SyntaxClass { Uncompressed, LosslessCompressed, Lossy };

// Display name of a toolkit syntax number, with its leading space
// (" Unknown Transfer Syntax" for numbers without one).
const char* transferSyntaxName(int number);

// The eight syntaxes a file object is written in and a file is sent in, in
// the order of their format numbers (2 to 9): the native three, then the
// five the standard callbacks compress.
inline constexpr std::array<MC_TRANSFER_SYNTAX, 8> kWrittenSyntaxes = {
    MC_TS_IMPLICIT_LITTLE_ENDIAN, MC_TS_EXPLICIT_LITTLE_ENDIAN, MC_TS_EXPLICIT_BIG_ENDIAN,
    MC_TS_JPEG_BASELINE,          MC_TS_JPEG_EXTENDED_2_4,      MC_TS_JPEG_LOSSLESS_SV1,
    MC_TS_JPEG2000_LOSSLESS_ONLY, MC_TS_JPEG2000};
// The one of the eight whose UID is exactly `uid` (no padding); nullopt otherwise.
std::optional<MC_TRANSFER_SYNTAX> writtenSyntaxOfUid(std::string_view uid);

// One of the eight named by UID: its number and class; nullopt otherwise.
struct NamedSyntax {
  int number;
  SyntaxClass syntaxClass;
};
std::optional<NamedSyntax> namedSyntax(std::string_view uid);

// Pixel work, from the toolkit's table of syntaxes: decompressed (and
// compressed) by the standard callbacks, decompressed only, refused, or read raw.
bool isStandardCompressed(int number);     // read and written
bool isDecodeOnly(int number);             // RLE and JPEG-LS: read, never written
bool isDecodable(int number);              // either of the two
bool isReadBeyondTable(int number);        // decode-only ones and deflate: read, not among the eight
bool isUnsupportedCompression(int number);  // compressed pixels no callback decodes
bool isLossy(int number);                   // decodable and lossy

// The Transfer Syntax UID of the object's data set, as stored in (0002,0010).
// Failures stop the call (action 2).
std::string currentSyntaxUid(const FileInstance& file);
// Its toolkit number; failures stop the call (action 2).
int currentSyntax(const FileInstance& file);

}  // namespace orvo::file
