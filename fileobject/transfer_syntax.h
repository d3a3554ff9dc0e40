// Transfer syntaxes as the file object sees them: display names by toolkit
// number, the syntaxes it names by UID with their classes, and the syntax of
// an open data set.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "file_instance.h"
#include "fileobject/file_services.h"
#include "toolkit/mc.h"

namespace orvo::file {

enum class SyntaxClass { Uncompressed, LosslessCompressed, Lossy };

// The one of the eight whose UID is exactly `uid` (no padding); nullopt otherwise.
std::optional<MC_TRANSFER_SYNTAX> writtenSyntaxOfUid(std::string_view uid);

// One of the eight named by UID: its number and class; nullopt otherwise.
struct NamedSyntax {
  int number;
  SyntaxClass syntaxClass;
};
std::optional<NamedSyntax> namedSyntax(std::string_view uid);

// Pixel work, from the toolkit's table of syntaxes: decompressed (and
// compressed) by the standard callbacks, decompressed only, refused, or read
// raw (and isReadBeyondTable, isLossy in file_services.h).
bool isStandardCompressed(int number);      // read and written
bool isDecodeOnly(int number);              // RLE and JPEG-LS: read, never written
bool isDecodable(int number);               // either of the two
bool isUnsupportedCompression(int number);  // compressed pixels no callback decodes

// The Transfer Syntax UID of the object's data set, as stored in (0002,0010).
// Failures stop the call (action 2).
std::string currentSyntaxUid(const FileInstance& file);
// Its toolkit number; failures stop the call (action 2).
int currentSyntax(const FileInstance& file);

}  // namespace orvo::file
