// Every frame of every sample file in the compressed syntaxes decodes to the
// same bytes as an independent tool: dcmdjpeg for JPEG, GDCM for JPEG 2000,
// dcmdrle for RLE, dcmdjpls for JPEG-LS. Frames are decoded last to first,
// each on its own.
#include "codec_test_support.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/oflog/oflog.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace zyl::codec::test {
namespace {

namespace fs = std::filesystem;

struct SampleFile {
  fs::path path;
  Syntax syntax;
};

std::vector<SampleFile> compressedSampleFiles() {
  OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
  std::vector<SampleFile> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(ZYL_PYDICOM_TEST_FILES, error)) {
    if (entry.path().extension() != ".dcm") continue;
    DcmFileFormat fileFormat;
    if (fileFormat.loadFile(entry.path().c_str()).bad()) continue;  // not DICOM as DCMTK reads it
    OFString uid;
    fileFormat.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, uid);
    const auto syntax = syntaxFromUid(uid);
    if (syntax && fileFormat.getDataset()->tagExists(DCM_PixelData)) files.push_back({entry.path(), *syntax});
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return files;
}

std::string testName(const testing::TestParamInfo<SampleFile>& info) {
  std::string name = info.param.path.stem().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class ReferenceDecode : public testing::TestWithParam<SampleFile> {};

TEST_P(ReferenceDecode, EveryFrameMatchesTheReferenceTool) {
  const SampleFile& sample = GetParam();
  const auto [tool, options] = referenceTool(sample.syntax);
  if (!toolAvailable(tool)) GTEST_SKIP() << "reference tool missing: " << tool;

  TempDir temp;
  const fs::path reference = temp.path() / "reference.dcm";
  const std::string command =
      std::string(tool) + options + "'" + sample.path.string() + "' '" + reference.string() + "'";
  const int toolStatus = run(command, temp.path() / "tool.log");

  DcmFileFormat original;
  ASSERT_TRUE(original.loadFile(sample.path.c_str()).good());
  if (toolStatus != 0 || !fs::exists(reference)) {
    // The reference tool rejects the file; so must we, without crashing.
    EXPECT_THROW(
        {
          FrameReader reader(*original.getDataset(), sample.syntax);
          Bytes out(reader.image().frameBytes());
          for (std::uint32_t f = 0; f < reader.frameCount(); ++f) reader.decode(f, out);
        },
        CodecError);
    return;
  }

  const FrameReader reader(*original.getDataset(), sample.syntax);
  const NativePixels expected = readNativeFile(reference);
  const ImageDescription& image = reader.image();
  ASSERT_EQ(expected.image.frames, reader.frameCount());
  ASSERT_EQ(expected.image.rows, image.rows);
  ASSERT_EQ(expected.image.columns, image.columns);
  ASSERT_EQ(expected.image.samplesPerPixel, image.samplesPerPixel);
  ASSERT_EQ(expected.image.bitsAllocated, image.bitsAllocated);
  const Bytes expectedBytes = toColourByPixel(expected.image, expected.bytes);

  const std::size_t frameBytes = image.frameBytes();
  for (std::uint32_t f = reader.frameCount(); f-- > 0;) {
    Bytes decoded(frameBytes, 0xA5);
    const DecodedFormat format = reader.decode(f, decoded);
    EXPECT_EQ(format.photometric, expected.image.photometric) << "frame " << f;
    EXPECT_EQ(format.planarConfiguration, 0);
    // Pixel values are compared (Bits Stored bits, sign-extended): tools
    // differ in what they leave above the high bit of signed samples.
    const Bytes expectedFrame(expectedBytes.begin() + static_cast<std::ptrdiff_t>(f * frameBytes),
                              expectedBytes.begin() + static_cast<std::ptrdiff_t>((f + 1) * frameBytes));
    const std::size_t samples = frameBytes / image.bytesPerSample();
    std::size_t firstDifference = samples;
    for (std::size_t i = 0; i < samples && firstDifference == samples; ++i)
      if (sampleAt(image, decoded, i) != sampleAt(image, expectedFrame, i)) firstDifference = i;
    EXPECT_EQ(firstDifference, samples) << "frame " << f << " differs first at sample " << firstDifference;
    // Lossless syntaxes keep the stored bits exactly.
    if (!isLossy(sample.syntax) && image.pixelRepresentation == 0) {
      EXPECT_EQ(decoded, expectedFrame) << "frame " << f;
    }
    // Our signed samples fill the whole word, as 16-bit signed readers expect.
    if (image.pixelRepresentation == 1 && image.bitsAllocated == 16) {
      for (std::size_t i = 0; i < samples; ++i) {
        const auto word = static_cast<std::int16_t>(decoded[2 * i] | (decoded[2 * i + 1] << 8));
        ASSERT_EQ(word, sampleAt(image, decoded, i)) << "sample " << i << " not sign-extended";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SampleFiles, ReferenceDecode, testing::ValuesIn(compressedSampleFiles()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ReferenceDecode);

}  // namespace
}  // namespace zyl::codec::test
