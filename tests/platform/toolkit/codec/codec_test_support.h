// Helpers shared by the codec tests: synthetic images, DCMTK data sets and
// files, external tools.
#pragma once

#include "codec/pixel_codec.h"
#include "support/temp_dir.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zyl::codec::test {

using Bytes = std::vector<std::uint8_t>;

using zyl::test::TempDir;

ImageDescription describe(std::uint16_t rows, std::uint16_t columns, std::uint16_t samples, std::uint16_t bitsAllocated,
                          std::uint16_t bitsStored, std::uint16_t pixelRepresentation, std::uint32_t frames = 1,
                          std::string photometric = "");

// Smooth gradients plus a little noise, covering the full range of Bits
// Stored (two's complement for signed images), colour-by-pixel unless the
// description says by plane. Deterministic for a given seed.
Bytes syntheticFrame(const ImageDescription& image, unsigned seed);

// Sample value at index i of a native frame, sign-extended for signed images.
long sampleAt(const ImageDescription& image, const Bytes& frame, std::size_t i);

struct Difference {
  long maxAbs = 0;
  double meanAbs = 0;
};
Difference compare(const ImageDescription& image, const Bytes& a, const Bytes& b);

// A data set with the Image Pixel attributes of `image` and no Pixel Data.
void putImageAttributes(DcmItem& dataset, const ImageDescription& image);

// A secondary capture DICOM file holding `frames` (native, all frames)
// compressed with `syntax`.
void writeCompressedFile(const std::filesystem::path& file, const ImageDescription& image, const Bytes& frames,
                         Syntax syntax, const EncodeOptions& options = {});

// The tool that decodes a syntax into an uncompressed file, and its options:
// dcmdjpeg, gdcmconv --raw (JPEG 2000), dcmdrle, dcmdjpls.
std::pair<const char*, const char*> referenceTool(Syntax syntax);

// Runs a shell command; returns its exit status. Output goes to `log`.
int run(const std::string& command, const std::filesystem::path& log);
bool toolAvailable(const char* path);

struct NativePixels {
  ImageDescription image;
  Bytes bytes;  // all frames, little-endian
};
// Reads an uncompressed file's Pixel Data and its description.
NativePixels readNativeFile(const std::filesystem::path& file);

// Colour-by-plane frames rearranged colour-by-pixel.
Bytes toColourByPixel(const ImageDescription& image, const Bytes& frames);

}  // namespace zyl::codec::test
