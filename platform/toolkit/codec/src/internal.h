// Shared between the codec sources; not installed.
#pragma once

#include "codec/pixel_codec.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zyl::codec::detail {

// DCMTK's syntax of each of ours; EXS_Unknown for none.
E_TransferSyntax dcmtkSyntaxOf(Syntax syntax) noexcept;

// Limits on untrusted input, in one place.
// Largest frame we decode or encode: 512 MiB, well above a 16-bit RGB
// 8192 x 8192 frame (384 MiB) and far below what would exhaust memory.
inline constexpr std::size_t kMaxFrameBytes = std::size_t{512} << 20;
// OpenJPEG keeps 32-bit samples per component while decoding.
inline constexpr std::size_t kMaxJ2kDecodedBytes = kMaxFrameBytes * 2;
// JPEG 2000 images at least this large decode and encode with OpenJPEG's
// thread pool; below it the threads cost more than they save.
inline constexpr std::size_t kThreadedMinPixels = 256 * 256;
inline constexpr int kMaxCodecThreads = 4;

[[noreturn]] void fail(Errc code, const std::string& what);

// Sample access on native little-endian frames.
inline std::uint16_t loadLe16(const std::uint8_t* p) noexcept { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline void storeLe16(std::uint8_t* p, std::uint16_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Colour-by-plane to colour-by-pixel; returns the input when already by pixel.
std::span<const std::uint8_t> interleaved(const ImageDescription& image, std::span<const std::uint8_t> frame,
                                          std::vector<std::uint8_t>& scratch);

// JPEG (DCMTK's IJG 8/12/16-bit builds).
DecodedFormat decodeJpeg(const ImageDescription& image, std::span<const std::uint8_t> codestream,
                         std::span<std::uint8_t> out);
EncodedFrame encodeJpeg(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> pixels,
                        const EncodeOptions& options);

// JPEG 2000 (OpenJPEG).
DecodedFormat decodeJ2k(const ImageDescription& image, std::span<const std::uint8_t> codestream,
                        std::span<std::uint8_t> out);
EncodedFrame encodeJ2k(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> pixels,
                       const EncodeOptions& options);

// RLE Lossless (DCMTK's RLE decompressor), 8, 16 or 32 bits allocated.
DecodedFormat decodeRle(const ImageDescription& image, std::span<const std::uint8_t> codestream,
                        std::span<std::uint8_t> out);

// JPEG-LS lossless and near-lossless (DCMTK's JPEG-LS decoder, CharLS inside).
DecodedFormat decodeJpegLs(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> codestream,
                           std::span<std::uint8_t> out);

}  // namespace zyl::codec::detail
