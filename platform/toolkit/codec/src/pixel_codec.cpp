#include "internal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <cstdio>
#include <limits>

namespace zyl::codec {

using detail::fail;

namespace {

E_TransferSyntax dcmtkSyntax(Syntax syntax) {
  const E_TransferSyntax xfer = detail::dcmtkSyntaxOf(syntax);
  if (xfer == EXS_Unknown) fail(Errc::unsupported_syntax, "unknown syntax");
  return xfer;
}

void checkSyntax(Syntax syntax) {
  if (uidOf(syntax).empty()) fail(Errc::unsupported_syntax, "unknown syntax");
}

}  // namespace

void checkEncodable(Syntax syntax, const ImageDescription& image) {
  checkSyntax(syntax);
  if (!canEncode(syntax)) fail(Errc::unsupported_syntax, std::string(uidOf(syntax)) + " is decoded only");
  checkImage(image);
  if (image.bitsAllocated > 16)
    fail(Errc::unsupported_image, "Bits Allocated " + std::to_string(image.bitsAllocated) + " (8 or 16 encoded)");
  const auto bits = std::to_string(image.bitsStored);
  switch (syntax) {
    case Syntax::jpeg_baseline:
      if (image.bitsStored > 8) fail(Errc::bit_depth_too_large, "JPEG Baseline takes 8 bits, not " + bits);
      break;
    case Syntax::jpeg_extended:
      if (image.bitsStored > 12) fail(Errc::bit_depth_too_large, "JPEG Extended takes 12 bits, not " + bits);
      break;
    case Syntax::jpeg_lossless:
      if (image.bitsStored < 2 || image.bitsStored > 16)
        fail(Errc::bit_depth_too_large, "JPEG Lossless takes 2 to 16 bits, not " + bits);
      break;
    case Syntax::j2k_lossless:
    case Syntax::j2k:
    case Syntax::rle:
    case Syntax::jpeg_ls_lossless:
    case Syntax::jpeg_ls_near_lossless:
      break;
  }
  if ((syntax == Syntax::jpeg_baseline || syntax == Syntax::jpeg_extended) && image.pixelRepresentation == 1)
    fail(Errc::signed_lossy_jpeg, "lossy JPEG cannot carry signed samples");
}

DecodedFormat decodeFrame(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> codestream,
                          std::span<std::uint8_t> out) {
  checkSyntax(syntax);
  checkImage(image);
  if (out.size() < image.frameBytes())
    fail(Errc::buffer_too_small,
         std::to_string(out.size()) + " bytes for a frame of " + std::to_string(image.frameBytes()));
  if (codestream.empty()) fail(Errc::corrupt_codestream, "empty codestream");
  out = out.first(image.frameBytes());
  if (syntax == Syntax::rle) return detail::decodeRle(image, codestream, out);
  if (image.bitsAllocated > 16)
    fail(Errc::unsupported_image, "Bits Allocated " + std::to_string(image.bitsAllocated) + " (8 or 16 decoded)");
  if (syntax == Syntax::jpeg_ls_lossless || syntax == Syntax::jpeg_ls_near_lossless)
    return detail::decodeJpegLs(syntax, image, codestream, out);
  return isJpeg2000(syntax) ? detail::decodeJ2k(image, codestream, out) : detail::decodeJpeg(image, codestream, out);
}

EncodedFrame encodeFrame(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> frame,
                         const EncodeOptions& options) {
  checkEncodable(syntax, image);
  if (frame.size() != image.frameBytes())
    fail(Errc::buffer_too_small,
         "frame of " + std::to_string(frame.size()) + " bytes, expected " + std::to_string(image.frameBytes()));
  std::vector<std::uint8_t> scratch;
  const auto pixels = detail::interleaved(image, frame, scratch);
  EncodedFrame encoded = isJpeg2000(syntax) ? detail::encodeJ2k(syntax, image, pixels, options)
                                            : detail::encodeJpeg(syntax, image, pixels, options);
  encoded.attributes.planarConfiguration = 0;
  return encoded;
}

// ---------------------------------------------------------------- writer

EncapsulatedWriter::EncapsulatedWriter(bool fillOffsetTable) : fillOffsetTable_(fillOffsetTable) {}
EncapsulatedWriter::~EncapsulatedWriter() = default;

void EncapsulatedWriter::addFrame(std::span<const std::uint8_t> codestream) {
  if (codestream.empty()) fail(Errc::corrupt_codestream, "empty frame");
  if (!sequence_) {
    // The offset table item comes first; install() fills it.
    auto sequence = std::make_unique<DcmPixelSequence>(DcmTag(DCM_PixelData, EVR_OB));
    auto table = std::make_unique<DcmPixelItem>(DcmTag(DCM_Item, EVR_OB));
    if (sequence->insert(table.get()).bad()) fail(Errc::codec_failure, "cannot insert the offset table");
    table.release();
    sequence_ = std::move(sequence);
  }
  // Items have even length; the offset table holds 32-bit offsets.
  const std::size_t padded = codestream.size() + (codestream.size() % 2);
  if (padded > std::numeric_limits<Uint32>::max() - 8 || nextOffset_ > std::numeric_limits<Uint32>::max())
    fail(Errc::invalid_image, "encapsulated pixel data exceeds 4 GiB");
  std::vector<Uint8> bytes(codestream.begin(), codestream.end());
  bytes.resize(padded, 0);
  auto item = std::make_unique<DcmPixelItem>(DcmTag(DCM_Item, EVR_OB));
  if (item->putUint8Array(bytes.data(), static_cast<Uint32>(bytes.size())).bad())
    fail(Errc::codec_failure, "cannot store a fragment");
  if (sequence_->insert(item.get()).bad()) fail(Errc::codec_failure, "cannot insert a fragment");
  item.release();  // owned by the sequence now
  offsets_.push_back(static_cast<std::uint32_t>(nextOffset_));
  nextOffset_ += 8 + padded;
  compressedBytes_ += padded;
}

void EncapsulatedWriter::install(DcmItem& dataset, Syntax syntax) {
  if (offsets_.empty()) fail(Errc::no_pixel_data, "no frames to install");
  if (fillOffsetTable_) {
    DcmPixelItem* table = nullptr;
    std::vector<Uint8> bytes(offsets_.size() * 4);
    for (std::size_t i = 0; i < offsets_.size(); ++i)
      for (std::size_t b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<Uint8>(offsets_[i] >> (8 * b));
    if (sequence_->getItem(table, 0).bad() ||
        table->putUint8Array(bytes.data(), static_cast<Uint32>(bytes.size())).bad())
      fail(Errc::codec_failure, "cannot store the offset table");
  }

  DcmElement* element = nullptr;
  DcmPixelData* pixelData = nullptr;
  if (dataset.findAndGetElement(DCM_PixelData, element).good()) pixelData = dynamic_cast<DcmPixelData*>(element);
  if (!pixelData) {
    auto created = std::make_unique<DcmPixelData>(DcmTag(DCM_PixelData, EVR_OB));
    if (dataset.insert(created.get(), OFTrue).bad()) fail(Errc::codec_failure, "cannot insert Pixel Data");
    pixelData = created.release();
  }
  pixelData->putOriginalRepresentation(dcmtkSyntax(syntax), nullptr, sequence_.release());
  offsets_.clear();
  nextOffset_ = 0;
  compressedBytes_ = 0;
}

void applyEncodedAttributes(DcmItem& dataset, const EncodedAttributes& attributes, double compressionRatio) {
  auto put = [&](const DcmTagKey& tag, const std::string& value) {
    if (dataset.putAndInsertString(tag, value.c_str()).bad())
      fail(Errc::codec_failure, "cannot set an image attribute");
  };
  put(DCM_PhotometricInterpretation, attributes.photometric);
  Uint16 samples = 1;
  if (dataset.findAndGetUint16(DCM_SamplesPerPixel, samples).good() && samples > 1 &&
      dataset.putAndInsertUint16(DCM_PlanarConfiguration, attributes.planarConfiguration).bad())
    fail(Errc::codec_failure, "cannot set Planar Configuration");
  if (!attributes.lossy) return;

  // A second lossy step keeps the history: ratios and methods accumulate.
  OFString wasLossy, ratios, methods;
  const bool compressedBefore =
      dataset.findAndGetOFString(DCM_LossyImageCompression, wasLossy).good() && wasLossy == "01";
  dataset.findAndGetOFStringArray(DCM_LossyImageCompressionRatio, ratios);
  dataset.findAndGetOFStringArray(DCM_LossyImageCompressionMethod, methods);
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.2f", compressionRatio);
  put(DCM_LossyImageCompression, "01");
  put(DCM_LossyImageCompressionRatio,
      compressedBefore && !ratios.empty() ? std::string(ratios) + "\\" + ratio : std::string(ratio));
  put(DCM_LossyImageCompressionMethod, compressedBefore && !methods.empty()
                                           ? std::string(methods) + "\\" + attributes.lossyMethod
                                           : attributes.lossyMethod);
}

void compressPixelData(DcmItem& dataset, Syntax syntax, std::span<const std::uint8_t> frames,
                       const EncodeOptions& options) {
  const ImageDescription image = describeImage(dataset);
  checkEncodable(syntax, image);
  const std::size_t frameBytes = image.frameBytes();
  if (frames.size() != frameBytes * image.frames)
    fail(Errc::buffer_too_small, "pixel data of " + std::to_string(frames.size()) + " bytes, expected " +
                                     std::to_string(frameBytes * image.frames));
  EncapsulatedWriter writer;
  EncodedAttributes attributes;
  for (std::uint32_t f = 0; f < image.frames; ++f) {
    EncodedFrame encoded = encodeFrame(syntax, image, frames.subspan(f * frameBytes, frameBytes), options);
    writer.addFrame(encoded.codestream);
    attributes = std::move(encoded.attributes);
  }
  const double ratio = static_cast<double>(frames.size()) / static_cast<double>(writer.compressedBytes());
  writer.install(dataset, syntax);
  applyEncodedAttributes(dataset, attributes, ratio);
}

// ---------------------------------------------------------------- reader

FrameReader::FrameReader(DcmItem& dataset, Syntax syntax) : syntax_(syntax) {
  checkSyntax(syntax);
  image_ = describeImage(dataset);
  checkImage(image_);

  DcmElement* element = nullptr;
  DcmPixelData* pixelData = nullptr;
  if (dataset.findAndGetElement(DCM_PixelData, element).good()) pixelData = dynamic_cast<DcmPixelData*>(element);
  if (!pixelData) fail(Errc::no_pixel_data, "no Pixel Data");
  E_TransferSyntax current = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixelData->getCurrentRepresentationKey(current, parameter);
  if (!DcmXfer(current).isEncapsulated()) {
    current = dcmtkSyntax(syntax);
    parameter = nullptr;
  }
  if (pixelData->getEncapsulatedRepresentation(current, parameter, sequence_).bad() || !sequence_)
    fail(Errc::no_pixel_data, "Pixel Data is not encapsulated");

  const unsigned long items = sequence_->card();
  if (items < 2) fail(Errc::fragments_mismatch, "encapsulated pixel data has no fragments");
  std::vector<std::uint32_t> offsetTable;
  DcmPixelItem* item = nullptr;
  if (sequence_->getItem(item, 0).good() && item->getLength() > 0 && item->getLength() % 4 == 0) {
    Uint8* bytes = nullptr;
    if (item->getUint8Array(bytes).good() && bytes)
      for (Uint32 i = 0; i + 4 <= item->getLength(); i += 4)
        offsetTable.push_back(static_cast<std::uint32_t>(bytes[i]) | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) |
                              (static_cast<std::uint32_t>(bytes[i + 3]) << 24));
  }
  for (unsigned long i = 1; i < items; ++i) {
    if (sequence_->getItem(item, i).bad()) fail(Errc::fragments_mismatch, "unreadable fragment");
    fragmentLengths_.push_back(item->getLength());
  }
  DcmPixelSequence* sequence = sequence_;
  index_ = FrameIndex::build(offsetTable, fragmentLengths_, image_.frames, [sequence](std::size_t i) {
    DcmPixelItem* fragment = nullptr;
    Uint8* bytes = nullptr;
    if (sequence->getItem(fragment, static_cast<unsigned long>(i + 1)).bad() || fragment->getUint8Array(bytes).bad() ||
        (!bytes && fragment->getLength() > 0))
      fail(Errc::fragments_mismatch, "unreadable fragment");
    return Fragment(bytes, bytes ? fragment->getLength() : 0);
  });
}

DecodedFormat FrameReader::decode(std::uint32_t frame, std::span<std::uint8_t> out) const {
  if (frame >= image_.frames)
    fail(Errc::frame_out_of_range, "frame " + std::to_string(frame) + " of " + std::to_string(image_.frames));
  const FrameIndex::Range range = index_.range(frame);
  std::vector<std::uint8_t> codestream;
  std::size_t total = 0;
  for (std::size_t i = range.first; i < range.first + range.count; ++i) total += fragmentLengths_[i];
  codestream.reserve(total);
  for (std::size_t i = range.first; i < range.first + range.count; ++i) {
    DcmPixelItem* fragment = nullptr;
    Uint8* bytes = nullptr;
    if (sequence_->getItem(fragment, static_cast<unsigned long>(i + 1)).bad() || fragment->getUint8Array(bytes).bad())
      fail(Errc::fragments_mismatch, "unreadable fragment");
    if (bytes) codestream.insert(codestream.end(), bytes, bytes + fragment->getLength());
  }
  return decodeFrame(syntax_, image_, codestream, out);
}

}  // namespace zyl::codec
