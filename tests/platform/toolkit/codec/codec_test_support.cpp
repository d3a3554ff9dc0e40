#include "codec_test_support.h"

#include "support/process.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace zyl::codec::test {

namespace fs = std::filesystem;

ImageDescription describe(std::uint16_t rows, std::uint16_t columns, std::uint16_t samples, std::uint16_t bitsAllocated,
                          std::uint16_t bitsStored, std::uint16_t pixelRepresentation, std::uint32_t frames,
                          std::string photometric) {
  ImageDescription image;
  image.rows = rows;
  image.columns = columns;
  image.samplesPerPixel = samples;
  image.bitsAllocated = bitsAllocated;
  image.bitsStored = bitsStored;
  image.highBit = static_cast<std::uint16_t>(bitsStored - 1);
  image.pixelRepresentation = pixelRepresentation;
  image.frames = frames;
  image.photometric = !photometric.empty() ? photometric : samples == 3 ? "RGB" : "MONOCHROME2";
  return image;
}

Bytes syntheticFrame(const ImageDescription& image, unsigned seed) {
  const bool isSigned = image.pixelRepresentation == 1;
  const long lo = isSigned ? -(1L << (image.bitsStored - 1)) : 0;
  const long hi = isSigned ? (1L << (image.bitsStored - 1)) - 1 : (1L << image.bitsStored) - 1;
  const double range = static_cast<double>(hi - lo);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-2, 2);
  const std::size_t pixels = std::size_t{image.rows} * image.columns;
  const std::size_t spp = image.samplesPerPixel;
  const std::size_t bps = image.bytesPerSample();
  Bytes frame(image.frameBytes());
  for (std::size_t i = 0; i < pixels; ++i) {
    const double r = static_cast<double>(i / image.columns);
    const double c = static_cast<double>(i % image.columns);
    for (std::size_t s = 0; s < spp; ++s) {
      const double wave =
          0.5 + 0.45 * std::sin(r / 9.0 + static_cast<double>(s)) * std::cos(c / 13.0 + static_cast<double>(seed % 7));
      long value = lo + std::lround(wave * range) + noise(random);
      if (i == 0) value = lo;  // the extremes of the range occur
      if (i == 1) value = hi;
      value = std::clamp(value, lo, hi);
      const std::size_t at = image.planarConfiguration == 1 ? (s * pixels + i) * bps : (i * spp + s) * bps;
      const auto bits = static_cast<std::uint16_t>(value);  // two's complement, sign-extended
      frame[at] = static_cast<std::uint8_t>(bits);
      if (bps == 2) frame[at + 1] = static_cast<std::uint8_t>(bits >> 8);
    }
  }
  return frame;
}

long sampleAt(const ImageDescription& image, const Bytes& frame, std::size_t i) {
  const std::size_t bytes = image.bytesPerSample();
  long raw = 0;
  for (std::size_t b = bytes; b-- > 0;) raw = raw << 8 | frame[i * bytes + b];
  raw &= (1L << image.bitsStored) - 1;
  if (image.pixelRepresentation == 1 && (raw & (1L << (image.bitsStored - 1)))) raw -= 1L << image.bitsStored;
  return raw;
}

Difference compare(const ImageDescription& image, const Bytes& a, const Bytes& b) {
  Difference d;
  const std::size_t n = std::min(a.size(), b.size()) / image.bytesPerSample();
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const long diff = std::labs(sampleAt(image, a, i) - sampleAt(image, b, i));
    d.maxAbs = std::max(d.maxAbs, diff);
    sum += static_cast<double>(diff);
  }
  d.meanAbs = n ? sum / static_cast<double>(n) : 0;
  return d;
}

void putImageAttributes(DcmItem& dataset, const ImageDescription& image) {
  dataset.putAndInsertUint16(DCM_Rows, image.rows);
  dataset.putAndInsertUint16(DCM_Columns, image.columns);
  dataset.putAndInsertUint16(DCM_SamplesPerPixel, image.samplesPerPixel);
  dataset.putAndInsertUint16(DCM_BitsAllocated, image.bitsAllocated);
  dataset.putAndInsertUint16(DCM_BitsStored, image.bitsStored);
  dataset.putAndInsertUint16(DCM_HighBit, image.highBit);
  dataset.putAndInsertUint16(DCM_PixelRepresentation, image.pixelRepresentation);
  dataset.putAndInsertString(DCM_PhotometricInterpretation, image.photometric.c_str());
  if (image.samplesPerPixel > 1) dataset.putAndInsertUint16(DCM_PlanarConfiguration, image.planarConfiguration);
  if (image.frames > 1) dataset.putAndInsertString(DCM_NumberOfFrames, std::to_string(image.frames).c_str());
}

void writeCompressedFile(const fs::path& file, const ImageDescription& image, const Bytes& frames, Syntax syntax,
                         const EncodeOptions& options) {
  DcmFileFormat fileFormat;
  DcmDataset& dataset = *fileFormat.getDataset();
  char uid[100];
  // Multi-frame images need a multi-frame storage class, or GDCM will not write them.
  const char* sopClass = image.frames == 1            ? UID_SecondaryCaptureImageStorage
                         : image.samplesPerPixel == 3 ? UID_MultiframeTrueColorSecondaryCaptureImageStorage
                         : image.bitsAllocated == 8   ? UID_MultiframeGrayscaleByteSecondaryCaptureImageStorage
                                                      : UID_MultiframeGrayscaleWordSecondaryCaptureImageStorage;
  dataset.putAndInsertString(DCM_SOPClassUID, sopClass);
  dataset.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT));
  dataset.putAndInsertString(DCM_StudyInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_STUDY_UID_ROOT));
  dataset.putAndInsertString(DCM_SeriesInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_SERIES_UID_ROOT));
  dataset.putAndInsertString(DCM_Modality, "OT");
  dataset.putAndInsertString(DCM_PatientName, "Codec^Test");
  putImageAttributes(dataset, image);
  compressPixelData(dataset, syntax, frames, options);
  const E_TransferSyntax xfer = DcmXfer(std::string(uidOf(syntax)).c_str()).getXfer();
  const OFCondition status = fileFormat.saveFile(file.c_str(), xfer);
  if (status.bad()) throw std::runtime_error(std::string("saveFile: ") + status.text());
}

int run(const std::string& command, const fs::path& log) {
  return zyl::test::RunShell(command + " > " + zyl::test::ShellQuote(log.string()) + " 2>&1").exitCode;
}

bool toolAvailable(const char* path) { return path && *path && access(path, X_OK) == 0; }

NativePixels readNativeFile(const fs::path& file) {
  DcmFileFormat fileFormat;
  const OFCondition status = fileFormat.loadFile(file.c_str());
  if (status.bad()) throw std::runtime_error("cannot load " + file.string() + ": " + status.text());
  DcmDataset& dataset = *fileFormat.getDataset();
  NativePixels native{describeImage(dataset), {}};
  const std::size_t total = native.image.frameBytes() * native.image.frames;
  // 16-bit words as little endian bytes, `total` of them.
  auto appendWords = [&](const Uint16* words) {
    for (std::size_t i = 0; i < total / 2; ++i) {
      native.bytes.push_back(static_cast<std::uint8_t>(words[i]));
      native.bytes.push_back(static_cast<std::uint8_t>(words[i] >> 8));
    }
  };
  if (native.image.bitsAllocated == 32) {
    const Uint32* words = nullptr;
    unsigned long count = 0;
    if (dataset.findAndGetUint32Array(DCM_PixelData, words, &count).bad() || count * 4 < total) {
      // OW Pixel Data: 16-bit words, two to a sample.
      const Uint16* halves = nullptr;
      if (dataset.findAndGetUint16Array(DCM_PixelData, halves, &count).bad() || count * 2 < total)
        throw std::runtime_error("no 32-bit Pixel Data in " + file.string());
      appendWords(halves);
    } else {
      for (std::size_t i = 0; i < total / 4; ++i)
        for (int b = 0; b < 4; ++b) native.bytes.push_back(static_cast<std::uint8_t>(words[i] >> (8 * b)));
    }
  } else if (native.image.bitsAllocated == 16) {
    const Uint16* words = nullptr;
    unsigned long count = 0;
    if (dataset.findAndGetUint16Array(DCM_PixelData, words, &count).bad() || count * 2 < total)
      throw std::runtime_error("no 16-bit Pixel Data in " + file.string());
    appendWords(words);
  } else {
    const Uint8* bytes = nullptr;
    unsigned long count = 0;
    if (dataset.findAndGetUint8Array(DCM_PixelData, bytes, &count).bad() || count < total)
      throw std::runtime_error("no 8-bit Pixel Data in " + file.string());
    native.bytes.assign(bytes, bytes + total);
  }
  return native;
}

std::pair<const char*, const char*> referenceTool(Syntax syntax) {
  if (isJpeg2000(syntax)) return {ZYL_GDCMCONV, " --raw "};
  if (syntax == Syntax::rle) return {ZYL_DCMDRLE, " "};
  if (syntax == Syntax::jpeg_ls_lossless || syntax == Syntax::jpeg_ls_near_lossless) return {ZYL_DCMDJPLS, " "};
  return {ZYL_DCMDJPEG, " "};
}

Bytes toColourByPixel(const ImageDescription& image, const Bytes& frames) {
  if (image.samplesPerPixel == 1 || image.planarConfiguration == 0) return frames;
  Bytes out(frames.size());
  const std::size_t bps = image.bytesPerSample();
  const std::size_t pixels = std::size_t{image.rows} * image.columns;
  const std::size_t spp = image.samplesPerPixel;
  const std::size_t frameBytes = image.frameBytes();
  for (std::size_t f = 0; f < image.frames; ++f)
    for (std::size_t s = 0; s < spp; ++s)
      for (std::size_t i = 0; i < pixels; ++i)
        for (std::size_t b = 0; b < bps; ++b)
          out[f * frameBytes + (i * spp + s) * bps + b] = frames[f * frameBytes + (s * pixels + i) * bps + b];
  return out;
}

}  // namespace zyl::codec::test
