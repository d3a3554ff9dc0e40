// JPEG-LS frames through DCMTK's JPEG-LS decoder (CharLS inside). Its frame
// call reads the image from a data set and the codestream from a pixel
// sequence, so one frame gets a small item of its own with both; the decoder
// checks the codestream's geometry against the image and writes at most the
// buffer it is given.
#include "internal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmjpls/djcodecd.h>
#include <dcmtk/dcmjpls/djcparam.h>
#include <dcmtk/dcmjpls/djlsutil.h>

#include <limits>
#include <memory>

namespace zyl::codec::detail {

namespace {

// The Image Pixel attributes the decoder reads, for one frame.
void putFrameAttributes(DcmItem& item, const ImageDescription& image) {
  const bool good = item.putAndInsertUint16(DCM_Rows, image.rows).good() &&
                    item.putAndInsertUint16(DCM_Columns, image.columns).good() &&
                    item.putAndInsertUint16(DCM_SamplesPerPixel, image.samplesPerPixel).good() &&
                    item.putAndInsertUint16(DCM_BitsAllocated, image.bitsAllocated).good() &&
                    item.putAndInsertUint16(DCM_BitsStored, image.bitsStored).good() &&
                    item.putAndInsertUint16(DCM_HighBit, image.highBit).good() &&
                    item.putAndInsertUint16(DCM_PixelRepresentation, image.pixelRepresentation).good() &&
                    item.putAndInsertUint16(DCM_PlanarConfiguration, 0).good() &&
                    item.putAndInsertString(DCM_PhotometricInterpretation, image.photometric.c_str()).good();
  if (!good) fail(Errc::codec_failure, "cannot describe the frame to the JPEG-LS decoder");
}

// A pixel sequence of an empty offset table and the frame as one fragment.
void putFragment(DcmPixelSequence& sequence, std::span<const std::uint8_t> codestream) {
  if (codestream.size() > std::numeric_limits<Uint32>::max() - 1)
    fail(Errc::corrupt_codestream, "JPEG-LS codestream exceeds 4 GiB");
  auto table = std::make_unique<DcmPixelItem>(DcmTag(DCM_Item, EVR_OB));
  if (sequence.insert(table.get()).bad()) fail(Errc::codec_failure, "cannot insert the offset table");
  table.release();
  auto fragment = std::make_unique<DcmPixelItem>(DcmTag(DCM_Item, EVR_OB));
  if (fragment->putUint8Array(codestream.data(), static_cast<Uint32>(codestream.size())).bad() ||
      sequence.insert(fragment.get()).bad())
    fail(Errc::codec_failure, "cannot store the JPEG-LS codestream");
  fragment.release();
}

// Signed samples fill the word, as the other decoders deliver them.
void signExtend(const ImageDescription& image, std::span<std::uint8_t> out) {
  const unsigned bits = image.bitsStored;
  if (image.pixelRepresentation != 1 || bits >= 8 * image.bytesPerSample()) return;
  const unsigned sign = 1u << (bits - 1);
  const unsigned mask = (1u << bits) - 1;
  if (image.bytesPerSample() == 1) {
    for (std::uint8_t& sample : out) sample = static_cast<std::uint8_t>(((sample & mask) ^ sign) - sign);
    return;
  }
  for (std::size_t i = 0; i + 1 < out.size(); i += 2)
    storeLe16(&out[i], static_cast<std::uint16_t>(((loadLe16(&out[i]) & mask) ^ sign) - sign));
}

}  // namespace

DecodedFormat decodeJpegLs(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> codestream,
                           std::span<std::uint8_t> out) {
  if (image.bitsStored > 16) fail(Errc::unsupported_image, "JPEG-LS takes at most 16 bits");
  if (out.size() > std::numeric_limits<Uint32>::max()) fail(Errc::invalid_image, "frame exceeds 4 GiB");
  DcmItem frame;
  putFrameAttributes(frame, image);
  DcmPixelSequence sequence(DcmTag(DCM_PixelData, EVR_OB));
  putFragment(sequence, codestream);

  // Colour by pixel whatever the codestream's interleave; the one fragment is the frame.
  const DJLSCodecParameter parameters(EJLSUC_never, EJLSPC_colorByPixel, OFTrue, OFFalse);
  Uint32 startFragment = 1;
  OFString colourModel;
  const DJLSLosslessDecoder lossless;
  const DJLSNearLosslessDecoder nearLossless;
  const DJLSDecoderBase& decoder = syntax == Syntax::jpeg_ls_lossless
                                       ? static_cast<const DJLSDecoderBase&>(lossless)
                                       : static_cast<const DJLSDecoderBase&>(nearLossless);
  const OFCondition status = decoder.decodeFrame(nullptr, &sequence, &parameters, &frame, 0, startFragment, out.data(),
                                                 static_cast<Uint32>(out.size()), colourModel);
  if (status == EC_JLSImageDataMismatch)
    fail(Errc::geometry_mismatch, "JPEG-LS frame disagrees with the image attributes");
  if (status.bad()) fail(Errc::corrupt_codestream, std::string("JPEG-LS decoding: ") + status.text());
  signExtend(image, out);
  return {image.photometric, 0, image.bitsAllocated};
}

}  // namespace zyl::codec::detail
