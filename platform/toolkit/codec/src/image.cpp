#include "internal.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <array>
#include <cstring>
#include <utility>

namespace zyl::codec {

using detail::fail;

namespace {

// DCMTK's syntax of each; its UID and whether it is lossy come from DCMTK's
// table of syntaxes.
constexpr std::array<std::pair<Syntax, E_TransferSyntax>, 8> kDcmtkSyntaxes{{
    {Syntax::jpeg_baseline, EXS_JPEGProcess1},
    {Syntax::jpeg_extended, EXS_JPEGProcess2_4},
    {Syntax::jpeg_lossless, EXS_JPEGProcess14SV1},
    {Syntax::j2k_lossless, EXS_JPEG2000LosslessOnly},
    {Syntax::j2k, EXS_JPEG2000},
    {Syntax::rle, EXS_RLELossless},
    {Syntax::jpeg_ls_lossless, EXS_JPEGLSLossless},
    {Syntax::jpeg_ls_near_lossless, EXS_JPEGLSLossy},
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

E_TransferSyntax detail::dcmtkSyntaxOf(Syntax syntax) noexcept {
  for (const auto& [candidate, xfer] : kDcmtkSyntaxes)
    if (candidate == syntax) return xfer;
  return EXS_Unknown;
}

std::optional<Syntax> syntaxFromUid(std::string_view uid) noexcept {
  while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.remove_suffix(1);
  for (const auto& [syntax, xfer] : kDcmtkSyntaxes)
    if (uid == DcmXfer(xfer).getXferID()) return syntax;
  return std::nullopt;
}

std::string_view uidOf(Syntax syntax) noexcept {
  const E_TransferSyntax xfer = detail::dcmtkSyntaxOf(syntax);
  return xfer == EXS_Unknown ? std::string_view() : DcmXfer(xfer).getXferID();
}

bool isLossy(Syntax syntax) noexcept {
  const E_TransferSyntax xfer = detail::dcmtkSyntaxOf(syntax);
  return xfer != EXS_Unknown && DcmXfer(xfer).isLossy();
}

bool canEncode(Syntax syntax) noexcept {
  return syntax != Syntax::rle && syntax != Syntax::jpeg_ls_lossless && syntax != Syntax::jpeg_ls_near_lossless;
}

bool isJpeg2000(Syntax syntax) noexcept { return syntax == Syntax::j2k_lossless || syntax == Syntax::j2k; }

ImageDescription describeImage(DcmItem& dataset) {
  ImageDescription image;
  image.rows = requiredUint16(dataset, DCM_Rows, "Rows");
  image.columns = requiredUint16(dataset, DCM_Columns, "Columns");
  image.samplesPerPixel = requiredUint16(dataset, DCM_SamplesPerPixel, "Samples per Pixel");
  image.bitsAllocated = requiredUint16(dataset, DCM_BitsAllocated, "Bits Allocated");
  image.bitsStored = optionalUint16(dataset, DCM_BitsStored, image.bitsAllocated);
  image.highBit =
      optionalUint16(dataset, DCM_HighBit, static_cast<std::uint16_t>(image.bitsStored ? image.bitsStored - 1 : 0));
  image.pixelRepresentation = optionalUint16(dataset, DCM_PixelRepresentation, 0);
  image.planarConfiguration = optionalUint16(dataset, DCM_PlanarConfiguration, 0);

  Sint32 frames = 1;
  if (dataset.findAndGetSint32(DCM_NumberOfFrames, frames).bad()) frames = 1;
  if (frames < 1) fail(Errc::invalid_image, "Number of Frames " + std::to_string(frames));
  image.frames = static_cast<std::uint32_t>(frames);

  OFString photometric;
  if (dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric).good() && !photometric.empty())
    image.photometric = photometric;
  else
    image.photometric = image.samplesPerPixel == 3 ? "RGB" : "MONOCHROME2";
  return image;
}

void checkImage(const ImageDescription& image) {
  if (image.rows == 0 || image.columns == 0) fail(Errc::invalid_image, "zero rows or columns");
  if (image.samplesPerPixel != 1 && image.samplesPerPixel != 3)
    fail(Errc::unsupported_image, "Samples per Pixel " + std::to_string(image.samplesPerPixel) + " (1 or 3 supported)");
  if (image.bitsAllocated != 8 && image.bitsAllocated != 16 && image.bitsAllocated != 32)
    fail(Errc::unsupported_image, "Bits Allocated " + std::to_string(image.bitsAllocated) + " (8, 16 or 32 supported)");
  if (image.bitsStored == 0 || image.bitsStored > image.bitsAllocated)
    fail(Errc::invalid_image, "Bits Stored " + std::to_string(image.bitsStored) + " with Bits Allocated " +
                                  std::to_string(image.bitsAllocated));
  if (image.pixelRepresentation > 1)
    fail(Errc::invalid_image, "Pixel Representation " + std::to_string(image.pixelRepresentation));
  if (image.frameBytes() > detail::kMaxFrameBytes)
    fail(Errc::invalid_image, "frame of " + std::to_string(image.frameBytes()) + " bytes exceeds the limit");
}

namespace detail {

std::span<const std::uint8_t> interleaved(const ImageDescription& image, std::span<const std::uint8_t> frame,
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
