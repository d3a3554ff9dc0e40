// Values streamed out of the toolkit into host arrays, and Pixel Data of the
// compressed syntaxes read through the toolkit's standard decompressor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "file_instance.h"
#include "toolkit/mc.h"
#include "toolkit/tags.h"

namespace orvo::file {

// Where the pieces of a streamed value go: an array of `capacity` bytes,
// filled from `offset` on. Pieces that run past the end are cut; the first
// `skip` bytes of the value are passed over (one frame out of many).
struct ValueCopy {
  unsigned char* data;
  size_t capacity;
  size_t offset;
};
MC_STATUS copyValuePiece(int id, uint32_t tag, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                         int isLast) noexcept;

// A value handed to the toolkit in one piece, except an odd-length OB value:
// all bytes but the last, then the last byte with a zero pad byte.
struct ValueSupply {
  const unsigned char* data;
  size_t length;
  bool padOddOb;
  size_t handed = 0;
  unsigned char tail[2] = {0, 0};
};
MC_STATUS supplyValue(int id, uint32_t tag, void* userInfo, int isFirst, int* dataSize, void** dataBuffer,
                      int* isLast) noexcept;

// Hands `frames` frames of `frameLength` bytes from `data` to the standard
// compressor bound to message `id`, then closes the value. A step that fails
// calls `failed`, which does not return.
enum class CompressStep { Register, FirstFrame, LaterFrame, Close };
template <typename Failed>
void compressFrames(int id, const unsigned char* data, size_t frameLength, uint64_t frames, Failed failed) {
  MC_STATUS status = MC_Register_Compression_Callbacks(id, MC_Standard_Compressor, MC_Standard_Decompressor);
  if (status != MC_NORMAL_COMPLETION) failed(CompressStep::Register, status);
  for (uint64_t frame = 0; frame < frames; ++frame) {
    ValueSupply supply{data + frame * frameLength, frameLength, false};
    status = frame == 0 ? MC_Set_Encapsulated_Value_From_Function(id, zyl::tags::kPixelData, &supply, supplyValue)
                        : MC_Set_Next_Encapsulated_Value_From_Function(id, zyl::tags::kPixelData, &supply, supplyValue);
    if (status != MC_NORMAL_COMPLETION)
      failed(frame == 0 ? CompressStep::FirstFrame : CompressStep::LaterFrame, status);
  }
  status = MC_Close_Encapsulated_Value(id, zyl::tags::kPixelData);
  if (status != MC_NORMAL_COMPLETION) failed(CompressStep::Close, status);
}

// Pixel Data of a file in one of the five compressed syntaxes, decompressed
// into one array: bytes for up to 8 bits allocated, 16-bit integers above.
HostVar* readCompressedPixelData(const FileInstance& file, int id, const std::string& tagString);

// The image attributes every pixel operation starts from, read from the
// object's data set; failures stop the call (action 2).
// How the samples of a native Pixel Data value differ from the arrays the
// file object reads and writes (one element per sample, every sample of
// every pixel): bits packed eight to a byte (Bits Allocated 1), or two
// pixels sharing their Cb and Cr (native YBR_FULL_422).
enum class Packing { None, Bits, Ybr422 };

struct ImageDescription {
  Packing packing;       // of the value in a native syntax
  uint64_t storedBytes;  // the native value's length, all frames
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

// Pixel Data with Bits Allocated 32 held as 16-bit words (OW) from or for a
// big endian stream has its words in the wrong order within each value:
// swaps them, which makes the words of big endian data native and back.
void swapWordPairsOf32BitPixels(FileInstance& file);

// Pixel Data as a host array (a temporary): every frame, or the one frame
// given, decompressed where the syntax is compressed, rows flipped (last
// stored row first) unless storedOrder.
struct PixelArray {
  HostVar* array;
  uint32_t frames;
};
PixelArray readPixelData(const FileInstance& file, bool frameGiven, uint32_t frame, bool storedOrder);

// Swaps the rows of `count` frames from `data` (last row first, each plane
// of a planar image on its own); `end` bounds the data.
void flipFrames(unsigned char* data, const ImageDescription& image, uint64_t count, const unsigned char* end);

// Stores the pixels of `image` (every frame, total bytes, stored row order)
// as the object's Pixel Data, compressed when its syntax is one of the five
// compressed ones.
void storePixelData(FileInstance& file, const ImageDescription& image, const unsigned char* data);

}  // namespace orvo::file
