// What the other classes use of the file object: tag strings, the transfer
// syntaxes it writes and their names, an attribute of a message read as
// GetValue reads it, and a file opened and converted as the file object does.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/mc.h"
#include "zyl/host.h"

namespace orvo::file {

// The number the hexadecimal digits of a tag string's first 16 characters
// make, whatever its length; nullopt when it has no digit or more than a tag
// holds.
std::optional<uint32_t> tagDigits(std::string_view tagString);

// Display name of a toolkit syntax number, with its leading space
// (the toolkit's one name for all numbers without a row).
const char* transferSyntaxName(int number);

// The eight syntaxes a file object is written in and a file is sent in, in
// the order of their format numbers (2 to 9): the native three, then the
// five the standard callbacks compress.
inline constexpr std::array<MC_TRANSFER_SYNTAX, 8> kWrittenSyntaxes = {
    MC_TS_IMPLICIT_LITTLE_ENDIAN, MC_TS_EXPLICIT_LITTLE_ENDIAN, MC_TS_EXPLICIT_BIG_ENDIAN,    MC_TS_JPEG_BASELINE,
    MC_TS_JPEG_EXTENDED_2_4,      MC_TS_JPEG_LOSSLESS_SV1,      MC_TS_JPEG2000_LOSSLESS_ONLY, MC_TS_JPEG2000};

bool isReadBeyondTable(int number);  // decode-only ones and deflate: read, not among the eight
bool isLossy(int number);            // decodable and lossy

// GetValue's reading of the attribute a tag string names in message
// `messageId`, as a new temporary typed by its VR; failures end the call.
HostVar* readMessageAttribute(int messageId, const std::string& tagString);

// Opens the file at `path` as a file object opens ORVOFILENAME, under the
// application name given, without raising: its message id, or -1 after its
// messages.
int openFile(const std::string& path, const char* appName);

// Re-encodes file message `messageId`, read from `sourcePath`, into the
// syntax `uid` (one of the eight), writes it to `targetPath` and releases
// the message, also when it fails. Failures end the call as a file object's
// ChangeTransferSyntax does (HostError).
void convertFile(int messageId, const std::string& sourcePath, const std::string& targetPath, const std::string& uid,
                 const char* appName);

}  // namespace orvo::file
