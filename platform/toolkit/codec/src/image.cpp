#include "internal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <array>
#include <cstring>
#include <utility>

namespace zyl::codec {

using detail::fail;

namespace {

constexpr std::array<std::pair<Syntax, std::string_view>, 8> kSyntaxUids{{
    {Syntax::jpeg_baseline, "1.2.840.10008.1.2.4.50"},
    {Syntax::jpeg_extended, "1.2.840.10008.1.2.4.51"},
    {Syntax::jpeg_lossless, "1.2.840.10008.1.2.4.70"},
    {Syntax::j2k_lossless, "1.2.840.10008.1.2.4.90"},
    {Syntax::j2k, "1.2.840.10008.1.2.4.91"},
    {Syntax::rle, "1.2.840.10008.1.2.5"},
    {Syntax::jpeg_ls_lossless, "1.2.840.10008.1.2.4.80"},
    {Syntax::jpeg_ls_near_lossless, "1.2.840.10008.1.2.4.81"},
}};

std::uint16_t requiredUint16(DcmItem& dataset, const DcmTagKey& tag, const char* name) {
  Uint16 value = 0;
  if (dataset.findAndGetUint16(tag, value).bad()) fail(Errc::missing_attribute, name);
  return value;
}

std::uint16_t optionalUint16(DcmItem& dataset, const DcmTagKey& tag, std::uint16_t fallback) {
  Uint16 value = 0;
  return dataset.findAndGetUint16(tag, value).good() ? value : fallback;
}

}  // namespace

std::optional<Syntax> syntaxFromUid(std::string_view uid) noexcept {
  while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.remove_suffix(1);
  for (const auto& [syntax, text] : kSyntaxUids)
    if (uid == text) return syntax;
  return std::nullopt;
}

std::string_view uidOf(Syntax syntax) noexcept {
  for (const auto& [candidate, text] : kSyntaxUids)
    if (candidate == syntax) return text;
  return {};
}

bool isLossy(Syntax syntax) noexcept {
  return syntax == Syntax::jpeg_baseline || syntax == Syntax::jpeg_extended || syntax == Syntax::j2k ||
         syntax == Syntax::jpeg_ls_near_lossless;
}

bool canEncode(Syntax syntax) noexcept {
  return syntax != Syntax::rle && syntax != Syntax::jpeg_ls_lossless && syntax != Syntax::jpeg_ls_near_lossless;
}

bool isJpeg2000(Syntax syntax) noexcept {
  return syntax == Syntax::j2k_lossless || syntax == Syntax::j2k;
}

ImageDescription describeImage(DcmItem& dataset) {
  ImageDescription image;
  image.rows = requiredUint16(dataset, DCM_Rows, "Rows");
  image.columns = requiredUint16(dataset, DCM_Columns, "Columns");
  image.samplesPerPixel = requiredUint16(dataset, DCM_SamplesPerPixel, "Samples per Pixel");
  image.bitsAllocated = requiredUint16(dataset, DCM_BitsAllocated, "Bits Allocated");
  image.bitsStored = optionalUint16(dataset, DCM_BitsStored, image.bitsAllocated);
  image.highBit = optionalUint16(dataset, DCM_HighBit,
                                 static_cast<std::uint16_t>(image.bitsStored ? image.bitsStored - 1 : 0));
  image.pixelRepresentation = optionalUint16(dataset, DCM_PixelRepresentation, 0);
  image.planarConfiguration = optionalUint16(dataset, DCM_PlanarConfiguration, 0);

  Sint32 frames = 1;
  if (dataset.findAndGetSint32(DCM_NumberOfFrames, frames).bad()) frames = 1;
  if (frames < 1) fail(Errc::invalid_image, "Number of Frames " + std::to_string(frames));
  image.frames = static_cast<std::uint32_t>(frames);

  OFString photometric;
  if (dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric).good() &&
      !photometric.empty())
    image.photometric = photometric;
  else
    image.photometric = image.samplesPerPixel == 3 ? "RGB" : "MONOCHROME2";
  return image;
}

void checkImage(const ImageDescription& image) {
  if (image.rows == 0 || image.columns == 0) fail(Errc::invalid_image, "zero rows or columns");
  if (image.samplesPerPixel != 1 && image.samplesPerPixel != 3)
    fail(Errc::unsupported_image,
         "Samples per Pixel " + std::to_string(image.samplesPerPixel) + " (1 or 3 supported)");
  if (image.bitsAllocated != 8 && image.bitsAllocated != 16 && image.bitsAllocated != 32)
    fail(Errc::unsupported_image,
         "Bits Allocated " + std::to_string(image.bitsAllocated) + " (8, 16 or 32 supported)");
  if (image.bitsStored == 0 || image.bitsStored > image.bitsAllocated)
    fail(Errc::invalid_image, "Bits Stored " + std::to_string(image.bitsStored) +
                                  " with Bits Allocated " + std::to_string(image.bitsAllocated));
  if (image.pixelRepresentation > 1)
    fail(Errc::invalid_image, "Pixel Representation " + std::to_string(image.pixelRepresentation));
  if (image.frameBytes() > detail::kMaxFrameBytes)
    fail(Errc::invalid_image, "frame of " + std::to_string(image.frameBytes()) + " bytes exceeds the limit");
}

namespace detail {

std::span<const std::uint8_t> interleaved(const ImageDescription& image,
                                          std::span<const std::uint8_t> frame,
                                          std::vector<std::uint8_t>& scratch) {
  if (image.samplesPerPixel == 1 || image.planarConfiguration == 0) return frame;
  const std::size_t bps = image.bytesPerSample();
  const std::size_t pixels = std::size_t{image.rows} * image.columns;
  const std::size_t spp = image.samplesPerPixel;
  scratch.resize(frame.size());
  for (std::size_t s = 0; s < spp; ++s)
    for (std::size_t i = 0; i < pixels; ++i)
      std::memcpy(&scratch[(i * spp + s) * bps], &frame[(s * pixels + i) * bps], bps);
  return scratch;
}

}  // namespace detail
}  // namespace zyl::codec
