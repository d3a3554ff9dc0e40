// Values streamed out of the toolkit into host arrays, and Pixel Data of the
// compressed syntaxes read through the toolkit's standard decompressor.
#pragma once

#include <cstddef>
#include <string>

#include "structures.h"
#include "toolkit/mc.h"

namespace orvo::file {

// Where the pieces of a streamed value go: an array of `capacity` bytes,
// filled from `offset` on. Pieces that run past the end are cut.
struct ValueCopy {
  unsigned char* data;
  size_t capacity;
  size_t offset;
};
MC_STATUS copyValuePiece(int id, uint32_t tag, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                         int isLast) noexcept;

// Pixel Data of a file in one of the five compressed syntaxes, decompressed
// into one array: bytes for up to 8 bits allocated, 16-bit integers above.
HostVar* readCompressedPixelData(const FileInstance& file, int id, const std::string& tagString);

}  // namespace orvo::file
