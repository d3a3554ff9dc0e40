// Tag strings ("0028,0010") and value representation codes as the file
// object prints and parses them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "file_instance.h"
#include "fileobject/file_services.h"

namespace orvo::file {

// The 32-bit tag a tag string names. A string that is not 9 characters long
// stops the call with the invalid-tag message; one that names no tag (0, or
// more hexadecimal digits than a tag holds) with "Error: Failed to interpret
// DicomTag arg ".
uint32_t parseTag(std::string_view tagString);

// A bound of a tag range: none for an empty text or one naming tag 0; a text
// that names no tag stops the call with `failText` and the text.
std::optional<uint32_t> rangeBound(std::string_view text, const char* failText);

// Two-letter name of a VR code, "??" for codes without one.
const char* vrName(int code);
bool vrSupported(int code);
// The code of a two-letter VR name (upper case); 24 (UN) for names not in the table.
int vrCode(std::string_view name);

// Stops the call when the object was opened without its pixel data and the
// tag is Pixel Data.
void guardPixelData(const FileInstance& file, uint32_t tag);

// The message of the file (seqId 0) or item `seqId` of it. An item id of
// another object, or of none, is refused: it would address other data.
int addressedId(const FileInstance& file, int32_t seqId);

}  // namespace orvo::file
