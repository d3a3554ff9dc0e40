// Frames in encapsulated Pixel Data: finding each frame's fragments, building
// the sequence (offset table, one frame per item) and reading it back frame
// by frame, plus the attributes encoding changes.
#include "codec_test_support.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace zyl::codec::test {
namespace {

Bytes codestreamLike(std::size_t size, bool closed) {
  Bytes bytes(size, 0x11);
  bytes[0] = 0xFF;
  bytes[1] = 0xD8;
  if (closed) {
    bytes[size - 2] = 0xFF;
    bytes[size - 1] = 0xD9;
  }
  return bytes;
}

std::vector<Fragment> views(const std::vector<Bytes>& fragments) { return {fragments.begin(), fragments.end()}; }

Errc errorOf(const auto& call) {
  try {
    call();
  } catch (const CodecError& error) {
    return error.code();
  }
  return Errc{};
}

// Each frame's first fragment and number of fragments.
using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
Ranges ranges(const FrameIndex& index) {
  Ranges out;
  for (std::size_t f = 0; f < index.frameCount(); ++f) out.emplace_back(index.range(f).first, index.range(f).count);
  return out;
}

TEST(FrameIndex, OffsetTableGroupsFragments) {
  // Frames of 2, 1 and 2 fragments; offsets count 8-byte item headers.
  const std::vector<Bytes> fragments{codestreamLike(10, false), Bytes(6, 0x22), codestreamLike(12, true),
                                     codestreamLike(4, false), Bytes(8, 0x33)};
  const std::vector<std::uint32_t> table{0, 18 + 14, 18 + 14 + 20};
  const FrameIndex index = FrameIndex::build(table, views(fragments), 3);
  EXPECT_EQ(ranges(index), (Ranges{{0, 2}, {2, 1}, {3, 2}}));
  Bytes expected = fragments[3];
  expected.insert(expected.end(), fragments[4].begin(), fragments[4].end());
  EXPECT_EQ(index.codestream(views(fragments), 2), expected);
  EXPECT_EQ(errorOf([&] { index.range(3); }), Errc::frame_out_of_range);
}

TEST(FrameIndex, EndMarkersGroupFragmentsWhenTheTableIsMissingOrWrong) {
  // Frame 0 spans three fragments, frame 1 one (padded after its EOI), frame 2 two.
  const std::vector<Bytes> fragments{codestreamLike(10, false),
                                     Bytes(6, 0x22),
                                     Bytes{0x44, 0x44, 0xFF, 0xD9},
                                     [] {
                                       auto b = codestreamLike(9, true);
                                       b.push_back(0);
                                       return b;
                                     }(),
                                     codestreamLike(6, false),
                                     Bytes{0x55, 0xFF, 0xD9, 0x00}};
  const std::vector<std::uint32_t> misaligned{0, 7, 50};
  for (const auto& table : {std::vector<std::uint32_t>{}, misaligned}) {
    const FrameIndex index = FrameIndex::build(table, views(fragments), 3);
    EXPECT_EQ(ranges(index), (Ranges{{0, 3}, {3, 1}, {4, 2}}));
  }
}

TEST(FrameIndex, OneFragmentPerFrameOrAllForOneFrame) {
  const std::vector<Bytes> fragments{codestreamLike(10, false), codestreamLike(10, false), codestreamLike(10, false)};
  const FrameIndex perFrame = FrameIndex::build({}, views(fragments), 3);
  for (std::size_t f = 0; f < 3; ++f) EXPECT_EQ(perFrame.range(f).first, f);
  const FrameIndex single = FrameIndex::build({}, views(fragments), 1);
  EXPECT_EQ(single.range(0).count, 3u);
}

TEST(FrameIndex, FragmentsThatCannotMakeTheFramesAreRefused) {
  const std::vector<Bytes> unterminated{codestreamLike(10, false), Bytes(4, 1), Bytes(4, 2)};
  EXPECT_EQ(errorOf([&] { FrameIndex::build({}, views(unterminated), 2); }), Errc::fragments_mismatch);
  EXPECT_EQ(errorOf([&] { FrameIndex::build({}, views(unterminated), 4); }), Errc::fragments_mismatch);
  EXPECT_EQ(errorOf([&] { FrameIndex::build({}, std::span<const Fragment>{}, 1); }), Errc::fragments_mismatch);
}

struct MultiFrame {
  ImageDescription image = describe(40, 56, 1, 16, 12, 0, 4);
  Bytes frames;
  DcmDataset dataset;

  explicit MultiFrame(Syntax syntax, ImageDescription description = describe(40, 56, 1, 16, 12, 0, 4))
      : image(description) {
    for (std::uint32_t f = 0; f < image.frames; ++f) {
      const Bytes frame = syntheticFrame(image, 10 + f);
      frames.insert(frames.end(), frame.begin(), frame.end());
    }
    putImageAttributes(dataset, image);
    compressPixelData(dataset, syntax, frames);
  }
  Bytes frame(std::size_t f) const {
    const auto begin = frames.begin() + static_cast<std::ptrdiff_t>(f * image.frameBytes());
    return Bytes(begin, begin + static_cast<std::ptrdiff_t>(image.frameBytes()));
  }
};

DcmPixelSequence* sequenceOf(DcmDataset& dataset) {
  DcmElement* element = nullptr;
  EXPECT_TRUE(dataset.findAndGetElement(DCM_PixelData, element).good());
  auto* pixelData = dynamic_cast<DcmPixelData*>(element);
  E_TransferSyntax xfer = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixelData->getCurrentRepresentationKey(xfer, parameter);
  DcmPixelSequence* sequence = nullptr;
  EXPECT_TRUE(pixelData->getEncapsulatedRepresentation(xfer, parameter, sequence).good());
  return sequence;
}

class EncapsulatedFrames : public testing::TestWithParam<Syntax> {};

TEST_P(EncapsulatedFrames, OneItemPerFrameWithOffsetsAndAnyOrderDecoding) {
  MultiFrame source(GetParam());
  DcmPixelSequence* sequence = sequenceOf(source.dataset);
  ASSERT_EQ(sequence->card(), source.image.frames + 1);

  DcmPixelItem* table = nullptr;
  ASSERT_TRUE(sequence->getItem(table, 0).good());
  ASSERT_EQ(table->getLength(), 4 * source.image.frames);
  Uint8* offsets = nullptr;
  ASSERT_TRUE(table->getUint8Array(offsets).good());
  std::uint32_t itemStart = 0;
  for (unsigned long i = 1; i < sequence->card(); ++i) {
    DcmPixelItem* item = nullptr;
    ASSERT_TRUE(sequence->getItem(item, i).good());
    EXPECT_EQ(item->getLength() % 2, 0u);
    const std::size_t at = 4 * (i - 1);
    EXPECT_EQ(offsets[at] | (offsets[at + 1] << 8) | (offsets[at + 2] << 16) | (offsets[at + 3] << 24),
              static_cast<int>(itemStart));
    itemStart += 8 + item->getLength();
  }

  const FrameReader reader(source.dataset, GetParam());
  for (std::uint32_t f : {3u, 1u, 0u, 2u}) {
    Bytes out(source.image.frameBytes());
    reader.decode(f, out);
    EXPECT_EQ(out, source.frame(f)) << "frame " << f;
  }
  Bytes small(source.image.frameBytes() - 1);
  EXPECT_EQ(errorOf([&] { reader.decode(0, small); }), Errc::buffer_too_small);
  EXPECT_EQ(errorOf([&] { reader.decode(4, small); }), Errc::frame_out_of_range);
}

TEST_P(EncapsulatedFrames, FramesSpreadOverSeveralFragmentsAreReassembled) {
  MultiFrame source(GetParam());
  DcmPixelSequence* sequence = sequenceOf(source.dataset);
  std::vector<Bytes> codestreams;
  for (unsigned long i = 1; i < sequence->card(); ++i) {
    DcmPixelItem* item = nullptr;
    Uint8* bytes = nullptr;
    ASSERT_TRUE(sequence->getItem(item, i).good() && item->getUint8Array(bytes).good());
    codestreams.emplace_back(bytes, bytes + item->getLength());
  }
  // Each frame cut into three even-length fragments, behind an empty or a
  // filled offset table.
  for (bool fillTable : {false, true}) {
    auto split = std::make_unique<DcmPixelSequence>(DcmTag(DCM_PixelData, EVR_OB));
    auto tableItem = std::make_unique<DcmPixelItem>(DcmTag(DCM_Item, EVR_OB));
    DcmPixelItem* tableView = tableItem.get();
    ASSERT_TRUE(split->insert(tableItem.release()).good());
    std::vector<Uint8> table;
    std::uint32_t position = 0;
    auto addItem = [&](const Uint8* data, std::size_t size) {
      auto item = std::make_unique<DcmPixelItem>(DcmTag(DCM_Item, EVR_OB));
      ASSERT_TRUE(item->putUint8Array(data, static_cast<Uint32>(size)).good());
      ASSERT_TRUE(split->insert(item.release()).good());
    };
    for (const Bytes& codestream : codestreams) {
      for (int b = 0; b < 4; ++b) table.push_back(static_cast<Uint8>(position >> (8 * b)));
      const std::size_t third = (codestream.size() / 3) & ~std::size_t{1};
      const std::size_t cuts[] = {0, third, 2 * third, codestream.size()};
      for (int p = 0; p < 3; ++p) {
        addItem(codestream.data() + cuts[p], cuts[p + 1] - cuts[p]);
        position += static_cast<std::uint32_t>(8 + cuts[p + 1] - cuts[p]);
      }
    }
    if (fillTable) {
      ASSERT_TRUE(tableView->putUint8Array(table.data(), static_cast<Uint32>(table.size())).good());
    }

    DcmDataset dataset;
    putImageAttributes(dataset, source.image);
    auto pixelData = std::make_unique<DcmPixelData>(DcmTag(DCM_PixelData, EVR_OB));
    pixelData->putOriginalRepresentation(isJpeg2000(GetParam()) ? EXS_JPEG2000LosslessOnly : EXS_JPEGProcess14SV1,
                                         nullptr, split.release());
    ASSERT_TRUE(dataset.insert(pixelData.release()).good());

    const FrameReader reader(dataset, GetParam());
    for (std::uint32_t f = source.image.frames; f-- > 0;) {
      Bytes out(source.image.frameBytes());
      reader.decode(f, out);
      EXPECT_EQ(out, source.frame(f)) << "frame " << f << (fillTable ? " with" : " without") << " offset table";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lossless, EncapsulatedFrames, testing::Values(Syntax::jpeg_lossless, Syntax::j2k_lossless),
                         [](const auto& info) { return std::string(isJpeg2000(info.param) ? "j2k" : "jpeg"); });

TEST(EncapsulatedWriter, EmptyOffsetTableWhenAsked) {
  const ImageDescription image = describe(8, 8, 1, 8, 8, 0, 2);
  DcmDataset dataset;
  putImageAttributes(dataset, image);
  EncapsulatedWriter writer(false);
  const Bytes odd{0xFF, 0xD8, 0x01, 0xFF, 0xD9};
  writer.addFrame(odd);
  writer.addFrame(odd);
  EXPECT_EQ(writer.compressedBytes(), 12u);
  writer.install(dataset, Syntax::jpeg_lossless);
  DcmPixelSequence* sequence = sequenceOf(dataset);
  DcmPixelItem* item = nullptr;
  ASSERT_TRUE(sequence->getItem(item, 0).good());
  EXPECT_EQ(item->getLength(), 0u);
  ASSERT_TRUE(sequence->getItem(item, 2).good());
  EXPECT_EQ(item->getLength(), 6u);
}

TEST(EncodedAttributes, LossyColourRecordsTransformRatioAndMethod) {
  ImageDescription image = describe(48, 64, 3, 8, 8, 0, 2);
  image.planarConfiguration = 1;
  MultiFrame source(Syntax::j2k, image);
  OFString value;
  EXPECT_TRUE(source.dataset.findAndGetOFString(DCM_PhotometricInterpretation, value).good());
  EXPECT_EQ(value, "YBR_ICT");
  Uint16 planar = 9;
  EXPECT_TRUE(source.dataset.findAndGetUint16(DCM_PlanarConfiguration, planar).good());
  EXPECT_EQ(planar, 0);
  EXPECT_TRUE(source.dataset.findAndGetOFString(DCM_LossyImageCompression, value).good());
  EXPECT_EQ(value, "01");
  EXPECT_TRUE(source.dataset.findAndGetOFString(DCM_LossyImageCompressionMethod, value).good());
  EXPECT_EQ(value, "ISO_15444_1");

  // The ratio is the native size over the stored items.
  ASSERT_TRUE(source.dataset.findAndGetOFString(DCM_LossyImageCompressionRatio, value).good());
  DcmPixelSequence* sequence = sequenceOf(source.dataset);
  double stored = 0;
  for (unsigned long i = 1; i < sequence->card(); ++i) {
    DcmPixelItem* item = nullptr;
    sequence->getItem(item, i);
    stored += item->getLength();
  }
  EXPECT_NEAR(std::atof(value.c_str()), static_cast<double>(source.frames.size()) / stored, 0.01);

  // The frames come back as RGB.
  const FrameReader reader(source.dataset, Syntax::j2k);
  Bytes out(image.frameBytes());
  EXPECT_EQ(reader.decode(1, out).photometric, "RGB");

  // A second lossy step keeps the first one's record.
  applyEncodedAttributes(source.dataset, {"YBR_FULL_422", 0, true, "ISO_10918_1"}, 5.0);
  EXPECT_TRUE(source.dataset.findAndGetOFStringArray(DCM_LossyImageCompressionMethod, value).good());
  EXPECT_EQ(value, "ISO_15444_1\\ISO_10918_1");
}

TEST(EncodedAttributes, LosslessLeavesTheLossyAttributesAlone) {
  MultiFrame source(Syntax::jpeg_lossless);
  EXPECT_FALSE(source.dataset.tagExists(DCM_LossyImageCompression));
  EXPECT_FALSE(source.dataset.tagExists(DCM_LossyImageCompressionRatio));
  OFString value;
  EXPECT_TRUE(source.dataset.findAndGetOFString(DCM_PhotometricInterpretation, value).good());
  EXPECT_EQ(value, "MONOCHROME2");
}

}  // namespace
}  // namespace zyl::codec::test
