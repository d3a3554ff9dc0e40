// Values streamed out of the toolkit into host arrays, and Pixel Data of the
// compressed syntaxes read through the toolkit's standard decompressor.
#pragma once

#include <cstddef>
#include <string>

#include "structures.h"
#include "toolkit/mc.h"

namespace orvo::file {

// Where the pieces of a streamed value go: an array of `capacity` bytes,
// filled from `offset` on. Pieces that run past the end are cut; the first
// `skip` bytes of the value are passed over (one frame out of many).
struct ValueCopy {
  unsigned char* data;
  size_t capacity;
  size_t offset;
  size_t skip = 0;
};
MC_STATUS copyValuePiece(int id, uint32_t tag, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                         int isLast) noexcept;

// Pixel Data of a file in one of the five compressed syntaxes, decompressed
// into one array: bytes for up to 8 bits allocated, 16-bit integers above.
HostVar* readCompressedPixelData(const FileInstance& file, int id, const std::string& tagString);

// The image attributes every pixel operation starts from, read from the
// object's data set; failures stop the call (action 2).
struct ImageDescription {
  uint32_t frames;
  uint32_t rows;
  uint32_t columns;
  uint32_t samples;
  uint32_t bitsAllocated;
  uint32_t pixelRepresentation;
  uint32_t planarConfiguration;
  uint32_t bytesPerSample;
  uint64_t frameBytes;
  uint64_t totalBytes;
};
ImageDescription readImageDescription(const FileInstance& file);

// Pixel Data as a host array (a temporary): every frame, or the one frame
// given, decompressed where the syntax is compressed, rows flipped (last
// stored row first) unless storedOrder.
struct PixelArray {
  HostVar* array;
  uint32_t frames;
};
PixelArray readPixelData(const FileInstance& file, bool frameGiven, uint32_t frame, bool storedOrder);

}  // namespace orvo::file
