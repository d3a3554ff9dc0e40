// Writing arrays to files: raw bytes, and PNG images for looking at a frame.
#pragma once

#include <string>

#include "zyl/value.h"

namespace zyl::lang {

// The bytes of the value as they lie in memory (numbers only). Throws
// ScriptError (line 0) when the file cannot be written.
void writeRaw(const std::string& path, const Variable& value);

// image: [width, height] grey, or [3, width, height] RGB (samples first).
// Byte images are written as 8 bits; every other numeric type as 16 bits,
// scaled from the image's own minimum..maximum to 0..65535.
void writePng(const std::string& path, const Variable& image);

}  // namespace zyl::lang
