// Damaged codestreams never crash and never write past one frame: truncated
// data, lying lengths, absurd dimensions, empty input, random corruption.
#include "codec_test_support.h"

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
  Outcome decode(const Bytes& codestream) { return decodeGuarded(GetParam().syntax, GetParam().image, codestream, encoded_); }
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

}  // namespace
}  // namespace zyl::codec::test
