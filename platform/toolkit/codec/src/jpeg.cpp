// JPEG through the IJG builds inside DCMTK (8, 12 and 16 bits per sample),
// driven directly so that one frame's codestream is all a call needs.
#include "internal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmjpeg/djcparam.h>
#include <dcmtk/dcmjpeg/djdijg12.h>
#include <dcmtk/dcmjpeg/djdijg16.h>
#include <dcmtk/dcmjpeg/djdijg8.h>
#include <dcmtk/dcmjpeg/djeijg12.h>
#include <dcmtk/dcmjpeg/djeijg16.h>
#include <dcmtk/dcmjpeg/djeijg8.h>
#include <dcmtk/dcmjpeg/djutils.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace zyl::codec::detail {

static_assert(std::endian::native == std::endian::little, "the IJG 12/16-bit paths exchange samples in host order");

namespace {

struct JpegFrameHeader {
  unsigned precision = 0;
  unsigned rows = 0;
  unsigned columns = 0;
  unsigned components = 0;
};

// Walks the marker segments up to the frame header (SOFn). Throws on
// anything that is not a well-formed JPEG header within the buffer.
JpegFrameHeader readFrameHeader(std::span<const std::uint8_t> data) {
  if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8)
    fail(Errc::corrupt_codestream, "JPEG codestream does not start with SOI");
  std::size_t pos = 2;
  while (pos + 4 <= data.size()) {
    if (data[pos] != 0xFF) fail(Errc::corrupt_codestream, "JPEG marker expected");
    while (pos + 1 < data.size() && data[pos + 1] == 0xFF) ++pos;  // fill bytes
    if (pos + 4 > data.size()) break;
    const std::uint8_t marker = data[pos + 1];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      pos += 2;
      continue;
    }
    const std::size_t length = (std::size_t{data[pos + 2]} << 8) | data[pos + 3];
    if (length < 2 || pos + 2 + length > data.size())
      fail(Errc::corrupt_codestream, "JPEG marker segment runs past the data");
    const bool isFrameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (isFrameHeader) {
      if (length < 8) fail(Errc::corrupt_codestream, "JPEG frame header too short");
      const std::uint8_t* p = &data[pos + 4];
      return {p[0], (unsigned{p[1]} << 8) | p[2], (unsigned{p[3]} << 8) | p[4], p[5]};
    }
    if (marker == 0xDA || marker == 0xD9) break;
    pos += 2 + length;
  }
  fail(Errc::corrupt_codestream, "JPEG codestream has no frame header");
}

bool isYbr(const std::string& photometric) {
  return photometric == "YBR_FULL" || photometric == "YBR_FULL_422" || photometric == "YBR_PARTIAL_422";
}

DJCodecParameter codecParameters(bool lossyColour) {
  // Lossy colour is converted to YCbCr and subsampled 4:2:2; decoding converts
  // YCbCr to RGB when the Photometric Interpretation says YBR, output by pixel.
  return DJCodecParameter(ECC_lossyYCbCr, EDC_photometricInterpretation, EUC_never, EPC_colorByPixel, OFFalse, OFFalse,
                          OFFalse, OFFalse, 0, 0, 0, OFTrue, lossyColour ? ESS_422 : ESS_444);
}

}  // namespace

DecodedFormat decodeJpeg(const ImageDescription& image, std::span<const std::uint8_t> codestream,
                         std::span<std::uint8_t> out) {
  const JpegFrameHeader header = readFrameHeader(codestream);
  if (header.columns != image.columns || header.rows != image.rows || header.components != image.samplesPerPixel)
    fail(Errc::geometry_mismatch, "JPEG frame is " + std::to_string(header.columns) + "x" +
                                      std::to_string(header.rows) + "x" + std::to_string(header.components) +
                                      ", image is " + std::to_string(image.columns) + "x" + std::to_string(image.rows) +
                                      "x" + std::to_string(image.samplesPerPixel));
  if (header.precision < 2 || header.precision > 16)
    fail(Errc::corrupt_codestream, "JPEG precision " + std::to_string(header.precision));
  if (header.precision > 8 && image.bitsAllocated == 8)
    fail(Errc::geometry_mismatch,
         std::to_string(header.precision) + "-bit JPEG data in an image with 8 bits allocated");

  const DJCodecParameter parameters = codecParameters(false);
  const bool ybr = isYbr(image.photometric);
  std::unique_ptr<DJDecoder> decoder;
  if (header.precision <= 8)
    decoder = std::make_unique<DJDecompressIJG8Bit>(parameters, ybr);
  else if (header.precision <= 12)
    decoder = std::make_unique<DJDecompressIJG12Bit>(parameters, ybr);
  else
    decoder = std::make_unique<DJDecompressIJG16Bit>(parameters, ybr);

  // 8-bit codestreams in 16-bit storage are decoded to bytes, then widened.
  const bool widen = header.precision <= 8 && image.bitsAllocated == 16;
  const std::size_t decodedBytes = image.frameBytes() / (widen ? 2 : 1);
  std::vector<std::uint8_t> narrow(widen ? decodedBytes : 0);
  std::uint8_t* target = widen ? narrow.data() : out.data();

  // The IJG source manager takes a non-const pointer but only reads from it.
  auto* input = const_cast<Uint8*>(codestream.data());
  OFCondition status = decoder->init();
  if (status.good())
    status = decoder->decode(input, static_cast<Uint32>(codestream.size()), target, static_cast<Uint32>(decodedBytes),
                             image.pixelRepresentation == 1);
  if (status == EJ_Suspension) fail(Errc::corrupt_codestream, "JPEG codestream is truncated");
  if (status.bad()) fail(Errc::corrupt_codestream, std::string("JPEG decoding: ") + status.text());

  if (widen)
    for (std::size_t i = 0; i < decodedBytes; ++i) storeLe16(&out[2 * i], narrow[i]);

  DecodedFormat format{image.photometric, 0, image.bitsAllocated};
  switch (decoder->getDecompressedColorModel()) {
    case EPI_Monochrome2:
      format.photometric = "MONOCHROME2";
      break;
    case EPI_RGB:
      format.photometric = "RGB";
      break;
    case EPI_YBR_Full:
      format.photometric = "YBR_FULL";
      break;
    default:
      // Decoding undoes chroma subsampling.
      if (image.photometric == "YBR_FULL_422" || image.photometric == "YBR_PARTIAL_422")
        format.photometric = "YBR_FULL";
      break;
  }
  return format;
}

EncodedFrame encodeJpeg(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> pixels,
                        const EncodeOptions& options) {
  EP_Interpretation interpretation = EPI_Monochrome2;
  if (image.samplesPerPixel == 3) {
    if (image.photometric == "RGB")
      interpretation = EPI_RGB;
    else if (image.photometric == "YBR_FULL")
      interpretation = EPI_YBR_Full;
    else
      fail(Errc::unsupported_image, "JPEG encoding of Photometric Interpretation " + image.photometric);
  }
  const bool lossless = syntax == Syntax::jpeg_lossless;
  const bool colour = image.samplesPerPixel == 3;
  const DJCodecParameter parameters = codecParameters(!lossless && colour);
  const auto quality = static_cast<Uint8>(std::clamp(options.jpegQuality, 1, 100));
  const EJ_Mode mode = syntax == Syntax::jpeg_baseline   ? EJM_baseline
                       : syntax == Syntax::jpeg_extended ? EJM_sequential
                                                         : EJM_lossless;
  // Lossy: bits above Bits Stored are not pixel data and must not reach the
  // quantiser. Lossless keeps every bit of the stored sample.
  const unsigned sampleMask = (1u << image.bitsStored) - 1;
  const auto columns = image.columns;
  const auto rows = image.rows;
  const auto spp = image.samplesPerPixel;

  Uint8* encoded = nullptr;
  Uint32 length = 0;
  OFCondition status;
  // Lossy data of at most 8 bits is coded with 8-bit precision whatever its
  // storage, as Baseline requires; it decodes back into 16-bit storage.
  if (image.bitsAllocated == 8 || (!lossless && image.bitsStored <= 8)) {
    const std::size_t bps = image.bytesPerSample();
    std::vector<std::uint8_t> samples(pixels.size() / bps);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const unsigned value = bps == 1 ? pixels[i] : loadLe16(&pixels[2 * i]);
      samples[i] = static_cast<std::uint8_t>(lossless ? value : value & sampleMask);
    }
    auto compressor = lossless ? std::make_unique<DJCompressIJG8Bit>(parameters, mode, 1, 0)
                               : std::make_unique<DJCompressIJG8Bit>(parameters, mode, quality);
    status = compressor->encode(columns, rows, interpretation, spp, samples.data(), encoded, length);
  } else {
    std::vector<Uint16> samples(pixels.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] = loadLe16(&pixels[2 * i]);
      if (!lossless) samples[i] = static_cast<Uint16>(samples[i] & sampleMask);
    }
    if (lossless) {
      DJCompressIJG16Bit compressor(parameters, mode, 1, 0);
      status = compressor.encode(columns, rows, interpretation, spp, samples.data(), encoded, length);
    } else {
      DJCompressIJG12Bit compressor(parameters, mode, quality);
      status = compressor.encode(columns, rows, interpretation, spp, samples.data(), encoded, length);
    }
  }
  const std::unique_ptr<Uint8[]> owned(encoded);
  if (status.bad() || !owned || length == 0) fail(Errc::codec_failure, std::string("JPEG encoding: ") + status.text());

  EncodedFrame frame;
  frame.codestream.assign(owned.get(), owned.get() + length);
  if (frame.codestream.size() % 2) frame.codestream.push_back(0);
  frame.attributes.photometric = (!lossless && colour) ? "YBR_FULL_422" : image.photometric;
  frame.attributes.lossy = !lossless;
  if (!lossless) frame.attributes.lossyMethod = "ISO_10918_1";
  return frame;
}

}  // namespace zyl::codec::detail
