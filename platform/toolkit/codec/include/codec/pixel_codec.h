// Pixel data codecs for the compressed transfer syntaxes the toolkit handles:
// JPEG Baseline, JPEG Extended, JPEG Lossless SV1, JPEG 2000 lossless and
// JPEG 2000 both ways; RLE Lossless and JPEG-LS lossless / near-lossless are
// decoded only. Everything works one frame at a time:
//
//   - describeImage() reads the Image Pixel attributes of a data set;
//   - FrameIndex maps the fragments of encapsulated Pixel Data to frames;
//   - decodeFrame() turns one frame's codestream into native pixels;
//   - encodeFrame() turns one frame of native pixels into a codestream;
//   - EncapsulatedWriter builds encapsulated Pixel Data, one frame per item;
//   - FrameReader ties the first three together over a DCMTK data set.
//
// Native pixels are little-endian, one or two bytes per sample (Bits
// Allocated 8 or 16; RLE also 32, four bytes), and colour-by-pixel (Planar
// Configuration 0) on output.
// Every failure throws CodecError; nothing else leaves this library except
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class DcmItem;
class DcmPixelSequence;

namespace zyl::codec {

// ---------------------------------------------------------------- errors

enum class Errc {
  unsupported_syntax = 1,  // not one of the compressed syntaxes, or encoding a decode-only one
  unsupported_image,       // samples, bits or photometric the codec cannot carry
  bit_depth_too_large,     // the syntax would silently reduce the bit depth
  signed_lossy_jpeg,       // lossy JPEG wraps two's complement data around zero
  missing_attribute,       // a required Image Pixel attribute is absent or unreadable
  invalid_image,           // attributes inconsistent or beyond the limits
  frame_out_of_range,
  no_pixel_data,       // Pixel Data absent or not encapsulated
  fragments_mismatch,  // fragments cannot be grouped into the stated frames
  corrupt_codestream,  // malformed or truncated compressed data
  geometry_mismatch,   // codestream disagrees with rows/columns/samples/bits
  buffer_too_small,    // caller's buffer smaller than one frame
  codec_failure,       // the underlying codec library failed
};

// Short name of a code ("bit_depth_too_large"), for messages.
std::string_view errcName(Errc code) noexcept;

class CodecError : public std::runtime_error {
 public:
  CodecError(Errc code, const std::string& what);
  Errc code() const noexcept { return code_; }

 private:
  Errc code_;
};

// ---------------------------------------------------------------- syntaxes

enum class Syntax {
  jpeg_baseline,          // JPEG Baseline (process 1), 8 bits
  jpeg_extended,          // JPEG Extended (processes 2 and 4), up to 12 bits
  jpeg_lossless,          // JPEG Lossless, selection value 1, 2 to 16 bits
  j2k_lossless,           // JPEG 2000 lossless only, reversible 5/3
  j2k,                    // JPEG 2000, irreversible 9/7
  rle,                    // RLE Lossless, decoded only
  jpeg_ls_lossless,       // JPEG-LS lossless, decoded only
  jpeg_ls_near_lossless,  // JPEG-LS near-lossless, decoded only
};

// The syntax of a Transfer Syntax UID; nullopt for every other UID (the
// uncompressed ones included). Trailing spaces and NULs are ignored.
std::optional<Syntax> syntaxFromUid(std::string_view uid) noexcept;
std::string_view uidOf(Syntax syntax) noexcept;
bool isLossy(Syntax syntax) noexcept;
bool isJpeg2000(Syntax syntax) noexcept;
// False for the syntaxes this library only decodes (RLE, JPEG-LS).
bool canEncode(Syntax syntax) noexcept;

// ---------------------------------------------------------------- image

struct ImageDescription {
  std::uint32_t frames = 1;
  std::uint16_t rows = 0;
  std::uint16_t columns = 0;
  std::uint16_t samplesPerPixel = 1;
  std::uint16_t bitsAllocated = 8;
  std::uint16_t bitsStored = 8;
  std::uint16_t highBit = 7;
  std::uint16_t pixelRepresentation = 0;  // 1: two's complement
  std::uint16_t planarConfiguration = 0;  // 1: colour-by-plane
  std::string photometric = "MONOCHROME2";

  std::size_t bytesPerSample() const noexcept { return bitsAllocated > 16 ? 4 : bitsAllocated > 8 ? 2 : 1; }
  std::size_t frameBytes() const noexcept { return std::size_t{rows} * columns * samplesPerPixel * bytesPerSample(); }
};

// Reads the Image Pixel attributes. Rows, Columns, Samples per Pixel and Bits
// Allocated are required; Number of Frames defaults to 1, Bits Stored to Bits
// Allocated, High Bit to Bits Stored - 1, Pixel Representation and Planar
// Configuration to 0, Photometric Interpretation to MONOCHROME2 (grey) or RGB.
ImageDescription describeImage(DcmItem& dataset);

// Throws invalid_image / unsupported_image unless the description is one the
// codecs can work with: 1 or 3 samples, Bits Allocated 8, 16 or 32 (32 for
// RLE only: the other codecs refuse it themselves), 1 <= Bits
// Stored <= Bits Allocated, non-zero rows and columns, frame size within limits.
void checkImage(const ImageDescription& image);

// ---------------------------------------------------------------- fragments

// One fragment of encapsulated Pixel Data (an item after the offset table).
using Fragment = std::span<const std::uint8_t>;

// Which fragments make up each frame.
class FrameIndex {
 public:
  struct Range {
    std::size_t first = 0;  // index into the fragment list
    std::size_t count = 0;
  };

  // offsetTable: the Basic Offset Table (empty when the first item is empty).
  // It is used when it has one entry per frame, all landing on fragment
  // starts in increasing order; otherwise frames are one per fragment when the
  // counts agree, all fragments when there is one frame, else fragments are
  // grouped by the codestream end marker (FFD9) closing each frame.
  static FrameIndex build(std::span<const std::uint32_t> offsetTable, std::span<const Fragment> fragments,
                          std::uint32_t frames);

  // The same from fragment lengths alone; `fragmentAt` supplies a fragment's
  // bytes only when frames must be found by their end markers.
  static FrameIndex build(std::span<const std::uint32_t> offsetTable, std::span<const std::size_t> fragmentLengths,
                          std::uint32_t frames, const std::function<Fragment(std::size_t)>& fragmentAt);

  std::size_t frameCount() const noexcept { return ranges_.size(); }
  Range range(std::size_t frame) const;

  // The frame's codestream: its fragments concatenated.
  std::vector<std::uint8_t> codestream(std::span<const Fragment> fragments, std::size_t frame) const;

 private:
  std::vector<Range> ranges_;
};

// ---------------------------------------------------------------- decoding

// What decoded pixels look like; differs from the data set when the decoder
// converted colour (YBR_FULL JPEG and YBR_RCT/YBR_ICT JPEG 2000 come out RGB,
// subsampled YBR comes out YBR_FULL).
struct DecodedFormat {
  std::string photometric;
  std::uint16_t planarConfiguration = 0;  // always colour-by-pixel
  std::uint16_t bitsAllocated = 8;
};

// Decodes one frame's codestream into `out` (at least image.frameBytes()).
// JPEG 2000 accepts raw codestreams and JP2 files; signed samples follow
// Pixel Representation, sign-extending from the codestream precision when the
// codestream says unsigned.
DecodedFormat decodeFrame(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> codestream,
                          std::span<std::uint8_t> out);

// ---------------------------------------------------------------- encoding

struct EncodeOptions {
  int jpegQuality = 90;             // 1..100, lossy JPEG
  double j2kCompressionRatio = 10;  // target ratio for lossy JPEG 2000 (> 1)
};

// What encoding changes in the data set; applyEncodedAttributes() writes it.
struct EncodedAttributes {
  std::string photometric;                // e.g. YBR_FULL_422, YBR_RCT, YBR_ICT
  std::uint16_t planarConfiguration = 0;  // codestreams are colour-by-pixel
  bool lossy = false;
  std::string lossyMethod;  // ISO_10918_1 or ISO_15444_1
};

struct EncodedFrame {
  std::vector<std::uint8_t> codestream;  // even length
  EncodedAttributes attributes;
};

// Encodes one frame of native pixels (image.frameBytes() bytes, little-endian,
// planar configuration as the description says).
EncodedFrame encodeFrame(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> frame,
                         const EncodeOptions& options = {});

// Throws unless `syntax` can carry the image without damage: Baseline takes
// 8 bits stored, Extended 12, Lossless 16; lossy JPEG takes no signed data;
// nothing takes 32 bits allocated. Decode-only syntaxes: unsupported_syntax.
void checkEncodable(Syntax syntax, const ImageDescription& image);

// ---------------------------------------------------------------- data sets

// Builds encapsulated Pixel Data frame by frame: an offset table item (filled
// or empty), then one item per frame.
class EncapsulatedWriter {
 public:
  explicit EncapsulatedWriter(bool fillOffsetTable = true);
  ~EncapsulatedWriter();
  EncapsulatedWriter(const EncapsulatedWriter&) = delete;
  EncapsulatedWriter& operator=(const EncapsulatedWriter&) = delete;

  void addFrame(std::span<const std::uint8_t> codestream);
  std::size_t frameCount() const noexcept { return offsets_.size(); }
  std::uint64_t compressedBytes() const noexcept { return compressedBytes_; }

  // Replaces the data set's Pixel Data with the frames added so far, as the
  // encapsulated representation of `syntax`. The writer is empty afterwards,
  // so take compressedBytes() for the compression ratio before.
  void install(DcmItem& dataset, Syntax syntax);

 private:
  bool fillOffsetTable_;
  std::unique_ptr<DcmPixelSequence> sequence_;
  std::vector<std::uint32_t> offsets_;
  std::uint64_t nextOffset_ = 0;
  std::uint64_t compressedBytes_ = 0;
};

// Writes what encoding changed: Photometric Interpretation, Planar
// Configuration (colour only) and, for lossy syntaxes, Lossy Image
// Compression "01", Lossy Image Compression Ratio and Method.
void applyEncodedAttributes(DcmItem& dataset, const EncodedAttributes& attributes, double compressionRatio);

// Decodes frames of a data set's encapsulated Pixel Data one at a time;
// decoding frame n touches only the fragments of frame n. The reader points
// into the data set, which must outlive it and keep its Pixel Data unchanged.
class FrameReader {
 public:
  FrameReader(DcmItem& dataset, Syntax syntax);

  const ImageDescription& image() const noexcept { return image_; }
  std::uint32_t frameCount() const noexcept { return image_.frames; }
  Syntax syntax() const noexcept { return syntax_; }

  DecodedFormat decode(std::uint32_t frame, std::span<std::uint8_t> out) const;

 private:
  Syntax syntax_;
  ImageDescription image_;
  DcmPixelSequence* sequence_ = nullptr;  // owned by the data set
  std::vector<std::size_t> fragmentLengths_;
  FrameIndex index_;
};

// Re-encodes all frames of `frames` (native, image.frames × frameBytes) and
// installs them with the changed attributes: what a change of transfer
// syntax to a compressed one does.
void compressPixelData(DcmItem& dataset, Syntax syntax, std::span<const std::uint8_t> frames,
                       const EncodeOptions& options = {});

}  // namespace zyl::codec
