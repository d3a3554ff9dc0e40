// Damaged codestreams never crash and never write past one frame: truncated
// data, lying lengths, absurd dimensions, empty input, random corruption.
#include "codec_test_support.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <gtest/gtest.h>

#include <random>

namespace zyl::codec::test {
namespace {

constexpr std::size_t kGuardBytes = 64;
constexpr std::uint8_t kGuard = 0xC3;

struct Sample {
  const char* name;
  Syntax syntax;
  ImageDescription image;
};

const Sample kSamples[] = {
    {"baseline", Syntax::jpeg_baseline, describe(24, 40, 3, 8, 8, 0)},
    {"extended", Syntax::jpeg_extended, describe(24, 40, 1, 16, 12, 0)},
    {"lossless", Syntax::jpeg_lossless, describe(24, 40, 1, 16, 16, 1)},
    {"j2k_lossless", Syntax::j2k_lossless, describe(24, 40, 1, 16, 14, 1)},
    {"j2k", Syntax::j2k, describe(24, 40, 3, 8, 8, 0)},
};

struct Outcome {
  bool threw = false;
  Errc code{};
};

// Decodes into a buffer with a guard zone behind the frame; fails the test
// if anything but CodecError escapes or the guard zone changes.
Outcome decodeGuarded(Syntax syntax, ImageDescription image, const Bytes& codestream, const EncodedFrame& encoded) {
  image.photometric = encoded.attributes.photometric;
  Bytes out(image.frameBytes() + kGuardBytes, kGuard);
  Outcome outcome;
  try {
    decodeFrame(syntax, image, codestream, std::span(out).first(image.frameBytes()));
  } catch (const CodecError& error) {
    outcome = {true, error.code()};
  }
  for (std::size_t i = image.frameBytes(); i < out.size(); ++i) {
    EXPECT_EQ(out[i], kGuard) << "write past the frame at " << i;
    if (out[i] != kGuard) break;
  }
  return outcome;
}

class MalformedInput : public testing::TestWithParam<Sample> {
 protected:
  void SetUp() override {
    const Sample& s = GetParam();
    encoded_ = encodeFrame(s.syntax, s.image, syntheticFrame(s.image, 21));
  }
  Outcome decode(const Bytes& codestream) {
    return decodeGuarded(GetParam().syntax, GetParam().image, codestream, encoded_);
  }
  EncodedFrame encoded_;
};

TEST_P(MalformedInput, IntactCodestreamDecodes) { EXPECT_FALSE(decode(encoded_.codestream).threw); }

TEST_P(MalformedInput, TruncatedCodestreams) {
  const Bytes& full = encoded_.codestream;
  for (std::size_t keep : {std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{11}, std::size_t{40},
                           full.size() / 4, full.size() / 2, full.size() - 6}) {
    const Outcome outcome = decode(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(keep)));
    // OpenJPEG decodes what a truncated tile holds; JPEG must refuse.
    if (!isJpeg2000(GetParam().syntax) || keep < full.size() / 4) {
      EXPECT_TRUE(outcome.threw) << "kept " << keep << " of " << full.size();
    }
  }
}

TEST_P(MalformedInput, EmptyAndForeignData) {
  EXPECT_EQ(decode({}).code, Errc::corrupt_codestream);
  Bytes garbage(500);
  std::mt19937 random(7);
  for (auto& b : garbage) b = static_cast<std::uint8_t>(random());
  EXPECT_EQ(decode(garbage).code, Errc::corrupt_codestream);
  // The other family's signature.
  Bytes foreign = isJpeg2000(GetParam().syntax) ? Bytes{0xFF, 0xD8, 0xFF, 0xD9} : Bytes{0xFF, 0x4F, 0xFF, 0x51};
  foreign.resize(64, 0);
  EXPECT_EQ(decode(foreign).code, Errc::corrupt_codestream);
}

TEST_P(MalformedInput, LyingLengthsAndDimensions) {
  const Bytes& good = encoded_.codestream;
  if (isJpeg2000(GetParam().syntax)) {
    // SIZ: length at 4, then Rsiz, Xsiz at 8, Ysiz at 12.
    Bytes longSegment = good;
    longSegment[4] = longSegment[5] = 0xFF;
    EXPECT_TRUE(decode(longSegment).threw);
    Bytes huge = good;
    for (std::size_t i = 8; i < 16; ++i) huge[i] = 0xFF;
    const Outcome outcome = decode(huge);
    EXPECT_TRUE(outcome.code == Errc::corrupt_codestream || outcome.code == Errc::geometry_mismatch);
  } else {
    // The first segment after SOI claims to run past the end, or is too short.
    for (std::uint8_t length : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
      Bytes lying = good;
      lying[4] = lying[5] = length;
      EXPECT_EQ(decode(lying).code, Errc::corrupt_codestream);
    }
    // A frame header announcing 65535 x 65535.
    Bytes huge = good;
    for (std::size_t i = 2; i + 9 < huge.size(); ++i) {
      if (huge[i] == 0xFF && (huge[i + 1] == 0xC0 || huge[i + 1] == 0xC1 || huge[i + 1] == 0xC3)) {
        for (std::size_t b = i + 5; b < i + 9; ++b) huge[b] = 0xFF;
        break;
      }
    }
    EXPECT_EQ(decode(huge).code, Errc::geometry_mismatch);
  }
}

TEST_P(MalformedInput, DescriptionsTheDataCannotFill) {
  const Sample& s = GetParam();
  ImageDescription other = s.image;
  other.columns = static_cast<std::uint16_t>(other.columns + 2);
  EXPECT_EQ(decodeGuarded(s.syntax, other, encoded_.codestream, encoded_).code, Errc::geometry_mismatch);

  ImageDescription enormous = s.image;
  enormous.rows = enormous.columns = 65535;
  enormous.samplesPerPixel = 3;
  enormous.bitsAllocated = 16;
  Bytes out(16);
  EXPECT_THROW(decodeFrame(s.syntax, enormous, encoded_.codestream, out), CodecError);

  Bytes small(s.image.frameBytes() - 1);
  try {
    decodeFrame(s.syntax, s.image, encoded_.codestream, small);
    ADD_FAILURE() << "decoded into a short buffer";
  } catch (const CodecError& error) {
    EXPECT_EQ(error.code(), Errc::buffer_too_small);
  }
}

TEST_P(MalformedInput, RandomCorruptionNeverEscapes) {
  std::mt19937 random(1234);
  const Bytes& good = encoded_.codestream;
  std::uniform_int_distribution<std::size_t> position(0, good.size() - 1);
  for (int round = 0; round < 150; ++round) {
    Bytes damaged = good;
    const int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) damaged[position(random)] = static_cast<std::uint8_t>(random());
    decode(damaged);  // the guard check is the assertion
  }
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, MalformedInput, testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MalformedInput, DeeperJpegThanTheStorage) {
  const ImageDescription twelve = describe(16, 16, 1, 16, 12, 0);
  const EncodedFrame encoded = encodeFrame(Syntax::jpeg_extended, twelve, syntheticFrame(twelve, 2));
  const ImageDescription eight = describe(16, 16, 1, 8, 8, 0);
  EXPECT_EQ(decodeGuarded(Syntax::jpeg_extended, eight, encoded.codestream, encoded).code, Errc::geometry_mismatch);
}

// ---- Decode-only syntaxes: codestreams from sample files --------------------------

struct SampleStream {
  const char* file;
  Syntax syntax;
};
const SampleStream kDecodeOnly[] = {
    {"SC_rgb_rle_16bit.dcm", Syntax::rle},
    {"MR_small_RLE.dcm", Syntax::rle},
    {"MR_small_jpeg_ls_lossless.dcm", Syntax::jpeg_ls_lossless},
};

class DecodeOnlyMalformed : public testing::TestWithParam<SampleStream> {
 protected:
  void SetUp() override {
    DcmFileFormat file;
    const std::string path = std::string(ZYL_PYDICOM_TEST_FILES) + "/" + GetParam().file;
    ASSERT_TRUE(file.loadFile(path.c_str()).good()) << path;
    image_ = describeImage(*file.getDataset());
    DcmElement* element = nullptr;
    ASSERT_TRUE(file.getDataset()->findAndGetElement(DCM_PixelData, element).good());
    auto* pixels = static_cast<DcmPixelData*>(element);
    E_TransferSyntax xfer = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    pixels->getCurrentRepresentationKey(xfer, parameter);
    DcmPixelSequence* sequence = nullptr;
    DcmPixelItem* fragment = nullptr;
    Uint8* bytes = nullptr;
    ASSERT_TRUE(pixels->getEncapsulatedRepresentation(xfer, parameter, sequence).good() && sequence);
    ASSERT_TRUE(sequence->getItem(fragment, 1).good() && fragment->getUint8Array(bytes).good() && bytes);
    codestream_.assign(bytes, bytes + fragment->getLength());
    encoded_.attributes.photometric = image_.photometric;
  }
  Outcome decode(const Bytes& codestream, const ImageDescription* image = nullptr) {
    return decodeGuarded(GetParam().syntax, image ? *image : image_, codestream, encoded_);
  }
  bool isRle() const { return GetParam().syntax == Syntax::rle; }
  void putWord(Bytes& data, std::size_t index, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) data[4 * index + b] = static_cast<std::uint8_t>(value >> (8 * b));
  }

  ImageDescription image_;
  Bytes codestream_;
  EncodedFrame encoded_;
};

TEST_P(DecodeOnlyMalformed, IntactTruncatedAndCorruptedData) {
  EXPECT_FALSE(decode(codestream_).threw);
  EXPECT_EQ(decode({}).code, Errc::corrupt_codestream);
  // Cut short anywhere: refused (an RLE segment cut at its end may still fill
  // the frame with the pad byte gone), never a write past the frame.
  for (std::size_t keep : {std::size_t{1}, std::size_t{40}, std::size_t{63}, std::size_t{64}, codestream_.size() / 2,
                           codestream_.size() - 20}) {
    EXPECT_TRUE(decode(Bytes(codestream_.begin(), codestream_.begin() + static_cast<std::ptrdiff_t>(keep))).threw)
        << "kept " << keep << " of " << codestream_.size();
  }
  std::mt19937 random(99);
  std::uniform_int_distribution<std::size_t> position(0, codestream_.size() - 1);
  for (int round = 0; round < 150; ++round) {
    Bytes damaged = codestream_;
    for (int i = 0; i <= round % 4; ++i) damaged[position(random)] = static_cast<std::uint8_t>(random());
    decode(damaged);  // the guard check is the assertion
  }
}

TEST_P(DecodeOnlyMalformed, DescriptionsTheDataCannotFill) {
  ImageDescription wider = image_;
  wider.columns = static_cast<std::uint16_t>(wider.columns + 2);
  const Outcome outcome = decode(codestream_, &wider);
  EXPECT_TRUE(outcome.code == Errc::geometry_mismatch || outcome.code == Errc::corrupt_codestream);
  ImageDescription otherSamples = image_;
  otherSamples.samplesPerPixel = image_.samplesPerPixel == 3 ? 1 : 3;
  EXPECT_EQ(decode(codestream_, &otherSamples).code, Errc::geometry_mismatch);
  Bytes small(image_.frameBytes() - 1);
  EXPECT_THROW(decodeFrame(GetParam().syntax, image_, codestream_, small), CodecError);
}

TEST_P(DecodeOnlyMalformed, LyingRleHeaders) {
  if (!isRle()) GTEST_SKIP() << "RLE only";
  const std::uint32_t segments = codestream_[0];
  struct Lie {
    std::size_t word;
    std::uint32_t value;
    Errc expected;
  };
  const std::uint32_t size = static_cast<std::uint32_t>(codestream_.size());
  const Lie lies[] = {
      {0, segments + 1, Errc::geometry_mismatch},        // more segments than the image has bytes per pixel
      {0, 16, Errc::geometry_mismatch},                  // beyond the fifteen the header holds
      {1, 0, Errc::corrupt_codestream},                  // a segment inside the header
      {1, size, Errc::corrupt_codestream},               // a segment at the end of the data
      {segments, size + 100, Errc::corrupt_codestream},  // the last segment beyond the data
      {segments, 0xFFFFFFFF, Errc::corrupt_codestream},
  };
  for (const Lie& lie : lies) {
    Bytes lying = codestream_;
    putWord(lying, lie.word, lie.value);
    EXPECT_EQ(decode(lying).code, lie.expected) << "word " << lie.word << " = " << lie.value;
  }
  if (segments > 1) {
    // Offsets out of order: a segment of negative length.
    Bytes swapped = codestream_;
    std::swap_ranges(swapped.begin() + 4, swapped.begin() + 8, swapped.begin() + 8);
    EXPECT_EQ(decode(swapped).code, Errc::corrupt_codestream);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DecodeOnlyMalformed, testing::ValuesIn(kDecodeOnly), [](const auto& info) {
  std::string name = info.param.file;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace
}  // namespace zyl::codec::test
