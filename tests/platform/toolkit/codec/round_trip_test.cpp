// Native -> encode -> decode: exact for the lossless syntaxes, within stated
// tolerances for the lossy ones; refusals where a codec would damage data.
#include "codec_test_support.h"

#include <gtest/gtest.h>

namespace zyl::codec::test {
namespace {

struct Case {
  const char* name;
  ImageDescription image;
};

ImageDescription byPlane(ImageDescription image) {
  image.planarConfiguration = 1;
  return image;
}

const std::vector<Case>& losslessCases() {
  static const std::vector<Case> cases{
      {"grey8", describe(61, 47, 1, 8, 8, 0)},
      {"grey12", describe(64, 80, 1, 16, 12, 0)},
      {"grey12_signed", describe(64, 80, 1, 16, 12, 1)},
      {"grey16", describe(70, 33, 1, 16, 16, 0)},
      {"grey16_signed", describe(70, 33, 1, 16, 16, 1)},
      {"rgb8", describe(50, 41, 3, 8, 8, 0)},
      {"rgb8_by_plane", byPlane(describe(50, 41, 3, 8, 8, 0))},
      {"rgb8_3x3", describe(3, 3, 3, 8, 8, 0)},
      {"one_row", describe(1, 129, 1, 16, 16, 1)},
      {"grey16_signed_large", describe(300, 280, 1, 16, 16, 1)},  // JPEG 2000 uses threads here
  };
  return cases;
}

// Decodes as the data set would describe the frame after encoding.
Bytes decodeEncoded(Syntax syntax, ImageDescription image, const EncodedFrame& encoded,
                    DecodedFormat* format = nullptr) {
  image.photometric = encoded.attributes.photometric;
  image.planarConfiguration = encoded.attributes.planarConfiguration;
  Bytes decoded(image.frameBytes(), 0xA5);
  const DecodedFormat f = decodeFrame(syntax, image, encoded.codestream, decoded);
  if (format) *format = f;
  return decoded;
}

class LosslessRoundTrip : public testing::TestWithParam<std::tuple<Syntax, Case>> {};

TEST_P(LosslessRoundTrip, DecodesToTheSameBytes) {
  const auto& [syntax, testCase] = GetParam();
  const ImageDescription& image = testCase.image;
  const Bytes frame = syntheticFrame(image, 3);
  const EncodedFrame encoded = encodeFrame(syntax, image, frame);
  EXPECT_EQ(encoded.codestream.size() % 2, 0u);
  EXPECT_FALSE(encoded.attributes.lossy);
  EXPECT_TRUE(encoded.attributes.lossyMethod.empty());

  DecodedFormat format;
  const Bytes decoded = decodeEncoded(syntax, image, encoded, &format);
  EXPECT_EQ(decoded, toColourByPixel(image, frame));
  EXPECT_EQ(format.planarConfiguration, 0);
  if (image.samplesPerPixel == 3) {
    // JPEG 2000 lossless carries RGB through the reversible transform.
    EXPECT_EQ(encoded.attributes.photometric, isJpeg2000(syntax) ? "YBR_RCT" : "RGB");
    EXPECT_EQ(format.photometric, "RGB");
  } else {
    EXPECT_EQ(encoded.attributes.photometric, image.photometric);
  }
}

std::string losslessName(const testing::TestParamInfo<std::tuple<Syntax, Case>>& info) {
  return std::string(std::get<0>(info.param) == Syntax::jpeg_lossless ? "jpeg_lossless_" : "j2k_lossless_") +
         std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Images, LosslessRoundTrip,
                         testing::Combine(testing::Values(Syntax::jpeg_lossless, Syntax::j2k_lossless),
                                          testing::ValuesIn(losslessCases())),
                         losslessName);

// Lossy tolerances, as a fraction of the sample range (2^Bits Stored):
// mean absolute error at most 1%, no sample off by more than 10%.
constexpr double kLossyMeanTolerance = 0.01;
constexpr double kLossyMaxTolerance = 0.10;

struct LossyCase {
  const char* name;
  Syntax syntax;
  ImageDescription image;
  const char* photometricAfter;
  const char* method;
};

class LossyRoundTrip : public testing::TestWithParam<LossyCase> {};

TEST_P(LossyRoundTrip, StaysWithinTolerance) {
  const LossyCase& c = GetParam();
  const Bytes frame = syntheticFrame(c.image, 5);
  const EncodedFrame encoded = encodeFrame(c.syntax, c.image, frame);
  EXPECT_TRUE(encoded.attributes.lossy);
  EXPECT_EQ(encoded.attributes.lossyMethod, c.method);
  EXPECT_EQ(encoded.attributes.photometric, c.photometricAfter);
  EXPECT_LT(encoded.codestream.size(), c.image.frameBytes());

  DecodedFormat format;
  const Bytes decoded = decodeEncoded(c.syntax, c.image, encoded, &format);
  if (c.image.samplesPerPixel == 3) {
    EXPECT_EQ(format.photometric, "RGB");
  }
  const double range = static_cast<double>(1L << c.image.bitsStored);
  const Difference d = compare(c.image, toColourByPixel(c.image, frame), decoded);
  EXPECT_LE(d.meanAbs, kLossyMeanTolerance * range) << "max " << d.maxAbs;
  EXPECT_LE(static_cast<double>(d.maxAbs), kLossyMaxTolerance * range) << "mean " << d.meanAbs;
}

INSTANTIATE_TEST_SUITE_P(
    Images, LossyRoundTrip,
    testing::Values(
        LossyCase{"baseline_grey8", Syntax::jpeg_baseline, describe(64, 72, 1, 8, 8, 0), "MONOCHROME2", "ISO_10918_1"},
        LossyCase{"baseline_rgb8", Syntax::jpeg_baseline, describe(64, 72, 3, 8, 8, 0), "YBR_FULL_422", "ISO_10918_1"},
        LossyCase{"baseline_rgb8_by_plane", Syntax::jpeg_baseline, byPlane(describe(40, 24, 3, 8, 8, 0)),
                  "YBR_FULL_422", "ISO_10918_1"},
        LossyCase{"baseline_grey8_in_16", Syntax::jpeg_baseline, describe(32, 48, 1, 16, 8, 0), "MONOCHROME2",
                  "ISO_10918_1"},
        LossyCase{"extended_grey12", Syntax::jpeg_extended, describe(64, 72, 1, 16, 12, 0), "MONOCHROME2",
                  "ISO_10918_1"},
        LossyCase{"extended_grey8", Syntax::jpeg_extended, describe(64, 72, 1, 8, 8, 0), "MONOCHROME2", "ISO_10918_1"},
        LossyCase{"j2k_grey16_signed", Syntax::j2k, describe(96, 64, 1, 16, 16, 1), "MONOCHROME2", "ISO_15444_1"},
        LossyCase{"j2k_grey12", Syntax::j2k, describe(96, 64, 1, 16, 12, 0), "MONOCHROME2", "ISO_15444_1"},
        LossyCase{"j2k_rgb8", Syntax::j2k, describe(64, 64, 3, 8, 8, 0), "YBR_ICT", "ISO_15444_1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
  const char* name;
  Syntax syntax;
  ImageDescription image;
  Errc expected;
};

class EncodeRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(EncodeRefusal, RefusesWithItsCode) {
  const Refusal& r = GetParam();
  const Bytes frame(r.image.frameBytes());
  try {
    encodeFrame(r.syntax, r.image, frame);
    FAIL() << "encoded";
  } catch (const CodecError& error) {
    EXPECT_EQ(error.code(), r.expected) << error.what();
  }
}

ImageDescription withPhotometric(ImageDescription image, const char* photometric) {
  image.photometric = photometric;
  return image;
}

INSTANTIATE_TEST_SUITE_P(
    Images, EncodeRefusal,
    testing::Values(
        Refusal{"baseline_9_bits", Syntax::jpeg_baseline, describe(8, 8, 1, 16, 9, 0), Errc::bit_depth_too_large},
        Refusal{"baseline_16_bits", Syntax::jpeg_baseline, describe(8, 8, 1, 16, 16, 0), Errc::bit_depth_too_large},
        Refusal{"extended_13_bits", Syntax::jpeg_extended, describe(8, 8, 1, 16, 13, 0), Errc::bit_depth_too_large},
        Refusal{"lossless_1_bit", Syntax::jpeg_lossless, describe(8, 8, 1, 8, 1, 0), Errc::bit_depth_too_large},
        Refusal{"baseline_signed", Syntax::jpeg_baseline, describe(8, 8, 1, 8, 8, 1), Errc::signed_lossy_jpeg},
        Refusal{"extended_signed", Syntax::jpeg_extended, describe(8, 8, 1, 16, 12, 1), Errc::signed_lossy_jpeg},
        Refusal{"bits_allocated_32", Syntax::j2k_lossless, describe(8, 8, 1, 32, 32, 0), Errc::unsupported_image},
        Refusal{"two_samples", Syntax::jpeg_lossless, describe(8, 8, 2, 8, 8, 0), Errc::unsupported_image},
        Refusal{"stored_above_allocated", Syntax::jpeg_lossless, describe(8, 8, 1, 8, 12, 0), Errc::invalid_image},
        Refusal{"jpeg_subsampled_input", Syntax::jpeg_lossless,
                withPhotometric(describe(8, 8, 3, 8, 8, 0), "YBR_FULL_422"), Errc::unsupported_image},
        Refusal{"j2k_palette_rgb", Syntax::j2k, withPhotometric(describe(8, 8, 3, 8, 8, 0), "PALETTE COLOR"),
                Errc::unsupported_image},
        Refusal{"zero_rows", Syntax::j2k, describe(0, 8, 1, 8, 8, 0), Errc::invalid_image}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeLimits, AcceptsTheLargestDepthEachSyntaxAllows) {
  const struct {
    Syntax syntax;
    ImageDescription image;
  } accepted[] = {{Syntax::jpeg_baseline, describe(16, 16, 1, 8, 8, 0)},
                  {Syntax::jpeg_extended, describe(16, 16, 1, 16, 12, 0)},
                  {Syntax::jpeg_lossless, describe(16, 16, 1, 16, 16, 1)},
                  {Syntax::jpeg_lossless, describe(16, 16, 1, 8, 2, 0)}};
  for (const auto& a : accepted) EXPECT_NO_THROW(checkEncodable(a.syntax, a.image)) << uidOf(a.syntax);
}

TEST(EncodeLimits, FrameOfTheWrongSizeIsRefused) {
  const ImageDescription image = describe(16, 16, 1, 16, 12, 0);
  const Bytes frame(image.frameBytes() - 2);
  EXPECT_THROW(encodeFrame(Syntax::jpeg_lossless, image, frame), CodecError);
}

TEST(Syntaxes, UidsMapBothWays) {
  for (Syntax s : {Syntax::jpeg_baseline, Syntax::jpeg_extended, Syntax::jpeg_lossless, Syntax::j2k_lossless,
                   Syntax::j2k, Syntax::rle, Syntax::jpeg_ls_lossless, Syntax::jpeg_ls_near_lossless}) {
    EXPECT_EQ(syntaxFromUid(uidOf(s)), s);
    EXPECT_EQ(syntaxFromUid(std::string(uidOf(s)) + '\0'), s);  // padded UI value
  }
  for (const char* other : {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.82",
                            "1.2.840.10008.1.2.1.99", "1.2.840.10008.1.2.4.5", "", "JPEG Baseline", "RLE Lossless"})
    EXPECT_FALSE(syntaxFromUid(other)) << other;
  EXPECT_TRUE(isLossy(Syntax::jpeg_baseline));
  EXPECT_TRUE(isLossy(Syntax::jpeg_extended));
  EXPECT_TRUE(isLossy(Syntax::j2k));
  EXPECT_FALSE(isLossy(Syntax::jpeg_lossless));
  EXPECT_FALSE(isLossy(Syntax::j2k_lossless));
  EXPECT_TRUE(isLossy(Syntax::jpeg_ls_near_lossless));
  EXPECT_FALSE(isLossy(Syntax::jpeg_ls_lossless));
  EXPECT_FALSE(isLossy(Syntax::rle));
}

// RLE and JPEG-LS are decoded only: encoding them is refused before any work.
TEST(Syntaxes, DecodeOnlySyntaxesAreNotEncoded) {
  const ImageDescription image = describe(8, 8, 1, 8, 8, 0);
  const Bytes frame(image.frameBytes());
  for (Syntax s : {Syntax::rle, Syntax::jpeg_ls_lossless, Syntax::jpeg_ls_near_lossless}) {
    EXPECT_FALSE(canEncode(s));
    try {
      encodeFrame(s, image, frame);
      ADD_FAILURE() << uidOf(s) << " encoded";
    } catch (const CodecError& error) {
      EXPECT_EQ(error.code(), Errc::unsupported_syntax) << uidOf(s);
    }
  }
}

}  // namespace
}  // namespace zyl::codec::test
