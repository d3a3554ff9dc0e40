// Pixel Data of the five compressed syntaxes as GetValue returns it, against
// what dcmdjpeg (JPEG) and gdcmconv --raw (JPEG 2000) decode: every sample of
// every frame, colour by pixel, compared over Bits Stored and sign-extended.
// The corpus holds one JPEG lossless SV1 image and no lossy JPEG 2000 from a
// signed image, so dcmcjpeg and gdcmconv make more.
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <map>

#include "codec_test_support.h"
#include "fileobject_support.h"

namespace fotest {
namespace {

const std::map<std::string, bool> kSyntaxes = {  // UID -> decoded by dcmdjpeg (else by GDCM)
    {"1.2.840.10008.1.2.4.50", true},
    {"1.2.840.10008.1.2.4.51", true},
    {"1.2.840.10008.1.2.4.70", true},
    {"1.2.840.10008.1.2.4.90", false},
    {"1.2.840.10008.1.2.4.91", false}};

namespace ct = zyl::codec::test;

// The decoded file written by the reference tool, read with DCMTK, colour by
// pixel; nullopt when it holds no image.
std::optional<ct::NativePixels> readReference(const fs::path& file) {
  try {
    ct::NativePixels reference = ct::readNativeFile(file);
    reference.bytes = ct::toColourByPixel(reference.image, reference.bytes);
    return reference;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

class PixelReference : public FileObjectTest {
 protected:
  static void SetUpTestSuite() {
    FileObjectTest::SetUpTestSuite();
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
  }

  std::map<std::string, int> checkedPerSyntax;
  std::string refusedByBoth;  // files neither the reference tool nor we decode

  void compareWithReference(const fs::path& path) {
    SCOPED_TRACE(path.filename().string());
    Variable f = make(path.string());
    std::string syntax = getString(f, "0002,0010");
    while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' ')) syntax.pop_back();
    const auto known = kSyntaxes.find(syntax);
    if (known == kSyntaxes.end()) return;

    const fs::path reference = tmp(path.stem().string() + "_reference.dcm");
    const std::string tool = known->second ? "dcmdjpeg " : "gdcmconv --raw ";
    int status = 0;
    run(tool + quote(path) + " " + quote(reference) + " > /dev/null 2>&1", &status);
    const std::optional<ct::NativePixels> expected =
        status == 0 && fs::exists(reference) ? readReference(reference) : std::nullopt;
    if (!expected) {
      // The reference tool cannot decode it (or writes no image): we refuse
      // it too, with a message.
      const std::string error = callError(f, "GetValue", "7fe0,0010");
      EXPECT_TRUE(contains(error, "Error: ")) << "decoded what the reference tool refuses";
      refusedByBoth += path.filename().string() + " ";
      return;
    }
    const Variable data = call(f, "GetValue", "7fe0,0010");
    ASSERT_TRUE(data.isArray());
    EXPECT_EQ(data.type(), expected->image.bitsAllocated > 8 ? Type::Int16 : Type::Byte);
    ASSERT_EQ(data.array()->byteSize(), expected->bytes.size());
    const auto* first = reinterpret_cast<const unsigned char*>(data.array()->data());
    const ct::Bytes ours(first, first + data.array()->byteSize());
    const auto& image = expected->image;
    const size_t samples = expected->bytes.size() / image.bytesPerSample();
    size_t firstDifference = samples;
    for (size_t i = 0; i < samples && firstDifference == samples; ++i)
      if (ct::sampleAt(image, ours, i) != ct::sampleAt(image, expected->bytes, i)) firstDifference = i;
    EXPECT_EQ(firstDifference, samples) << "differs first at sample " << firstDifference << " of " << samples;
    // Signed samples fill the whole word, as a 16-bit signed array holds them.
    if (image.pixelRepresentation == 1 && image.bitsAllocated == 16) {
      const int16_t* words = data.array()->as<int16_t>();
      for (size_t i = 0; i < samples; ++i) ASSERT_EQ(words[i], ct::sampleAt(image, ours, i)) << "sample " << i;
    }
    ++checkedPerSyntax[syntax];
  }
};

TEST_F(PixelReference, EveryCompressedSyntaxDecodesAsTheReferenceToolsDo) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kCorpus))
    if (entry.path().extension() == ".dcm") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  // JPEG lossless, first order prediction: signed 16-bit (CT), unsigned 16-bit
  // (MR) and 8-bit colour, made by dcmcjpeg.
  for (const char* name : {"CT_small.dcm", "MR_small.dcm", "SC_rgb_small_odd.dcm"}) {
    const fs::path out = tmp(std::string("sv1_") + name);
    if (std::system(("dcmcjpeg +e1 " + quote(kCorpus / name) + " " + quote(out) + " > /dev/null 2>&1").c_str()) == 0)
      files.push_back(out);
  }
  // JPEG 2000 lossy from a signed 16-bit image, made by gdcmconv.
  const fs::path lossy = tmp("j2k_lossy_CT_small.dcm");
  if (std::system(
          ("gdcmconv --j2k --lossy -q 5 " + quote(kCorpus / "CT_small.dcm") + " " + quote(lossy) + " > /dev/null 2>&1")
              .c_str()) == 0)
    files.push_back(lossy);

  for (const fs::path& path : files) {
    if (!makeError(path.string()).empty()) continue;  // not a file we open; the open tests cover these
    compareWithReference(path);
  }
  for (const auto& [syntax, byDcmdjpeg] : kSyntaxes) EXPECT_GT(checkedPerSyntax[syntax], 0) << "no file of " << syntax;
  std::string summary;
  for (const auto& [syntax, n] : checkedPerSyntax) summary += syntax + ": " + std::to_string(n) + " ";
  RecordProperty("checked", summary);
  std::printf("compared: %s; refused by both: %s\n", summary.c_str(), refusedByBoth.c_str());
}

}  // namespace
}  // namespace fotest
