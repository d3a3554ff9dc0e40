// What we encode is read by other tools: a DICOM file per syntax goes
// through dcmdjpeg (JPEG), GDCM (all five) and pydicom with its GDCM and
// Pillow plug-ins (Pillow takes 8-bit JPEG and JPEG 2000), and their output
// must match.
#include "codec_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace zyl::codec::test {
namespace {

namespace fs = std::filesystem;

struct InteropCase {
  const char* name;
  Syntax syntax;
  ImageDescription image;
};

// Lossless images must come back exactly; lossy ones as our decoder sees
// them, within one unit (rounding differs between decoders), two when the
// tool left the colour in YCbCr and the test converts it.
constexpr long kLossyDecoderSpread = 1;
constexpr long kColourConversionSpread = 2;

// Full-range YCbCr (as JPEG stores it) to RGB, 8-bit, colour-by-pixel.
Bytes ybrFullToRgb(const Bytes& ybr) {
  Bytes rgb(ybr.size());
  auto clamp = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
  for (std::size_t i = 0; i + 2 < ybr.size(); i += 3) {
    const double y = ybr[i], cb = ybr[i + 1] - 128.0, cr = ybr[i + 2] - 128.0;
    rgb[i] = clamp(y + 1.402 * cr);
    rgb[i + 1] = clamp(y - 0.344136 * cb - 0.714136 * cr);
    rgb[i + 2] = clamp(y + 1.772 * cb);
  }
  return rgb;
}

ImageDescription multiFrame(ImageDescription image, std::uint32_t frames) {
  image.frames = frames;
  return image;
}

class ToolInterop : public testing::TestWithParam<std::tuple<InteropCase, const char*>> {};

// The command that decodes `in` into the uncompressed file `out`, or empty
// when the tool is not installed.
std::string decodeCommand(const std::string& toolName, const fs::path& in, const fs::path& out) {
  const std::string files = " '" + in.string() + "' '" + out.string() + "'";
  if (toolName == "gdcmconv") return toolAvailable(ZYL_GDCMCONV) ? ZYL_GDCMCONV + std::string(" --raw") + files : "";
  if (toolName == "dcmdjpeg") return toolAvailable(ZYL_DCMDJPEG) ? ZYL_DCMDJPEG + files : "";
  const std::string plugin = toolName == "pydicom_gdcm" ? "gdcm" : "pillow";
  return toolAvailable(ZYL_PYTHON3) ? std::string(ZYL_PYTHON3) + " '" + ZYL_PYDICOM_DECODE + "' " + plugin + files : "";
}

constexpr int kPluginMissing = 3;
constexpr int kSyntaxNotTaken = 4;

TEST_P(ToolInterop, ToolDecodesWhatWeEncode) {
  const auto& [c, toolName] = GetParam();

  Bytes frames;
  for (std::uint32_t f = 0; f < c.image.frames; ++f) {
    const Bytes frame = syntheticFrame(c.image, 40 + f);
    frames.insert(frames.end(), frame.begin(), frame.end());
  }
  TempDir temp;
  const fs::path compressed = temp.path() / "compressed.dcm";
  const fs::path raw = temp.path() / "raw.dcm";
  writeCompressedFile(compressed, c.image, frames, c.syntax);
  const std::string command = decodeCommand(toolName, compressed, raw);
  if (command.empty()) GTEST_SKIP() << toolName << " is not installed";
  const int status = run(command, temp.path() / "tool.log");
  if (status == kPluginMissing) GTEST_SKIP() << toolName << ": the pydicom plug-in is not installed";
  ASSERT_NE(status, kSyntaxNotTaken) << toolName << " refused a syntax it is listed for";
  ASSERT_EQ(status, 0) << command;

  const NativePixels decoded = readNativeFile(raw);
  ASSERT_EQ(decoded.image.frames, c.image.frames);
  ASSERT_EQ(decoded.image.bitsAllocated, c.image.bitsAllocated);
  Bytes theirs = toColourByPixel(decoded.image, decoded.bytes);
  long spread = kLossyDecoderSpread;
  if (decoded.image.photometric == "YBR_FULL") {
    theirs = ybrFullToRgb(theirs);
    spread = kColourConversionSpread;
  }
  const Bytes expected = toColourByPixel(c.image, frames);
  if (!isLossy(c.syntax)) {
    const Difference d = compare(c.image, expected, theirs);
    EXPECT_EQ(d.maxAbs, 0) << toolName;
    return;
  }
  // Lossy: compare with our own decoding of the same file.
  DcmFileFormat file;
  ASSERT_TRUE(file.loadFile(compressed.c_str()).good());
  const FrameReader reader(*file.getDataset(), c.syntax);
  Bytes ours;
  for (std::uint32_t f = 0; f < reader.frameCount(); ++f) {
    Bytes frame(reader.image().frameBytes());
    reader.decode(f, frame);
    ours.insert(ours.end(), frame.begin(), frame.end());
  }
  const Difference d = compare(c.image, ours, theirs);
  EXPECT_LE(d.maxAbs, spread) << toolName << " mean " << d.meanAbs;
}

const InteropCase kJpegCases[] = {
    {"baseline_grey8", Syntax::jpeg_baseline, describe(32, 48, 1, 8, 8, 0)},
    {"baseline_rgb8_2frames", Syntax::jpeg_baseline, multiFrame(describe(32, 48, 3, 8, 8, 0), 2)},
    {"extended_grey12", Syntax::jpeg_extended, describe(32, 48, 1, 16, 12, 0)},
    {"lossless_grey16_signed_3frames", Syntax::jpeg_lossless, multiFrame(describe(32, 48, 1, 16, 16, 1), 3)},
    {"lossless_grey12", Syntax::jpeg_lossless, describe(32, 48, 1, 16, 12, 0)},
    {"lossless_rgb8", Syntax::jpeg_lossless, describe(32, 48, 3, 8, 8, 0)},
};
const InteropCase kJ2kCases[] = {
    {"j2k_lossless_grey16_signed_2frames", Syntax::j2k_lossless, multiFrame(describe(32, 48, 1, 16, 16, 1), 2)},
    {"j2k_lossless_grey12_signed", Syntax::j2k_lossless, describe(32, 48, 1, 16, 12, 1)},
    {"j2k_lossless_rgb8", Syntax::j2k_lossless, describe(32, 48, 3, 8, 8, 0)},
    {"j2k_grey16", Syntax::j2k, describe(32, 48, 1, 16, 16, 0)},
    {"j2k_rgb8", Syntax::j2k, describe(32, 48, 3, 8, 8, 0)},
};

std::string interopName(const testing::TestParamInfo<std::tuple<InteropCase, const char*>>& info) {
  return std::string(std::get<1>(info.param)) + "_" + std::get<0>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Jpeg, ToolInterop,
                         testing::Combine(testing::ValuesIn(kJpegCases),
                                          testing::Values("dcmdjpeg", "gdcmconv", "pydicom_gdcm")),
                         interopName);
// Pillow decodes 8-bit JPEG only: not 12-bit extended, not lossless.
INSTANTIATE_TEST_SUITE_P(JpegPillow, ToolInterop,
                         testing::Combine(testing::ValuesIn(kJpegCases, kJpegCases + 2),
                                          testing::Values("pydicom_pillow")),
                         interopName);
INSTANTIATE_TEST_SUITE_P(Jpeg2000, ToolInterop,
                         testing::Combine(testing::ValuesIn(kJ2kCases),
                                          testing::Values("gdcmconv", "pydicom_gdcm", "pydicom_pillow")),
                         interopName);

}  // namespace
}  // namespace zyl::codec::test
