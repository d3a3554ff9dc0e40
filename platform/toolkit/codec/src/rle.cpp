// RLE Lossless frames: DCMTK's RLE decompressor (DcmRLEDecoder) expands each
// segment; the header and its segment offsets are checked here first, and each
// segment's bytes go to their place in the frame: segment k holds byte
// (bytes per sample - 1 - k % bytes per sample) of sample k / bytes per
// sample, most significant byte first, one byte per pixel.
#include "internal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcrledec.h>

#include <cstring>
#include <new>

namespace zyl::codec::detail {

namespace {

// The header: the number of segments, then fifteen segment offsets from the
// start of the frame's data, all 32-bit little endian.
constexpr std::size_t kHeaderBytes = 64;
constexpr std::size_t kMaxSegments = 15;

std::uint32_t headerWord(std::span<const std::uint8_t> data, std::size_t index) {
  const std::uint8_t* p = data.data() + 4 * index;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

DecodedFormat decodeRle(const ImageDescription& image, std::span<const std::uint8_t> codestream,
                        std::span<std::uint8_t> out) {
  if (codestream.size() < kHeaderBytes) fail(Errc::corrupt_codestream, "RLE header incomplete");
  const std::size_t bytesPerSample = image.bytesPerSample();
  const std::size_t samples = image.samplesPerPixel;
  const std::uint32_t segments = headerWord(codestream, 0);
  if (segments != bytesPerSample * samples || segments > kMaxSegments)
    fail(Errc::geometry_mismatch, "RLE data of " + std::to_string(segments) + " segments, the image needs " +
                                      std::to_string(bytesPerSample * samples));

  const std::size_t pixels = std::size_t{image.rows} * image.columns;
  DcmRLEDecoder decoder(pixels);
  if (decoder.fail()) throw std::bad_alloc();
  const std::size_t stride = bytesPerSample * samples;
  for (std::uint32_t segment = 0; segment < segments; ++segment) {
    // Each segment runs to the next one's start, the last to the end of the data.
    const std::size_t start = headerWord(codestream, segment + 1);
    const std::size_t end = segment + 1 < segments ? headerWord(codestream, segment + 2) : codestream.size();
    if (start < kHeaderBytes || start >= end || end > codestream.size())
      fail(Errc::corrupt_codestream, "RLE segment " + std::to_string(segment) + " at bytes " + std::to_string(start) +
                                         " to " + std::to_string(end) + " of " + std::to_string(codestream.size()));
    decoder.clear();
    // The decompressor only reads its input. A segment may end with a pad
    // byte or bytes beyond the image: what counts is one byte per pixel.
    decoder.decompress(const_cast<std::uint8_t*>(codestream.data() + start), end - start);
    if (decoder.size() != pixels)
      fail(Errc::corrupt_codestream, "RLE segment " + std::to_string(segment) + " gives " +
                                         std::to_string(decoder.size()) + " bytes for " + std::to_string(pixels) +
                                         " pixels");
    const auto* expanded = static_cast<const std::uint8_t*>(decoder.getOutputBuffer());
    const std::size_t sample = segment / bytesPerSample;
    const std::size_t byte = bytesPerSample - 1 - segment % bytesPerSample;
    std::uint8_t* target = out.data() + sample * bytesPerSample + byte;
    if (stride == 1) {
      std::memcpy(target, expanded, pixels);
    } else {
      for (std::size_t i = 0; i < pixels; ++i) target[i * stride] = expanded[i];
    }
  }
  return {image.photometric, 0, image.bitsAllocated};
}

}  // namespace zyl::codec::detail
