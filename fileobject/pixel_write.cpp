// SetPixelData: the image geometry keywords, then every frame or one frame
// of a multi-frame image, rows back in stored order, compressed where the
// file's syntax asks.
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "pixel_data.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"
#include "whole_numbers.h"

namespace orvo::file {
namespace {

struct SetPixelKeywords {
  HostVar* bitsAllocated;
  int bitsAllocatedGiven;
  HostVar* columns;
  int columnsGiven;
  HostVar* numberOfFrames;
  int numberOfFramesGiven;
  HostVar* pixelRepresentation;
  int pixelRepresentationGiven;
  HostVar* planarConfiguration;
  int planarConfigurationGiven;
  HostVar* rows;
  int rowsGiven;
  HostVar* samplesPerPixel;
  int samplesPerPixelGiven;
  HostVar* photometric;
  int photometricGiven;
  int32_t frame;
  int frameGiven;
  int32_t order;
  static const HostKeyword table[];
};
#define ZYL_REF_KEYWORD(name, field) \
  { name, HOST_KW_REF, offsetof(SetPixelKeywords, field), offsetof(SetPixelKeywords, field##Given) }
const HostKeyword SetPixelKeywords::table[] = {
    ZYL_REF_KEYWORD("BITS_ALLOCATED", bitsAllocated),
    ZYL_REF_KEYWORD("COLUMNS", columns),
    ZYL_REF_KEYWORD("NUMBER_OF_FRAMES", numberOfFrames),
    ZYL_REF_KEYWORD("PIXEL_REPRESENTATION", pixelRepresentation),
    ZYL_REF_KEYWORD("PLANAR_CONFIGURATION", planarConfiguration),
    ZYL_REF_KEYWORD("ROWS", rows),
    ZYL_REF_KEYWORD("SAMPLES_PER_PIXEL", samplesPerPixel),
    ZYL_REF_KEYWORD("PHOTOMETRIC_INTERPRETATION", photometric),
    {"FRAME", HOST_KW_INT, offsetof(SetPixelKeywords, frame), offsetof(SetPixelKeywords, frameGiven)},
    {"ORDER", HOST_KW_INT, offsetof(SetPixelKeywords, order), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};
#undef ZYL_REF_KEYWORD

// The geometry keywords in the order they are applied.
void applyGeometry(FileInstance& file, const SetPixelKeywords& kw) {
  struct Geometry {
    HostVar* value;
    int given;
    const char* tag;
    const char* vr;
  };
  const Geometry geometry[] = {
      {kw.bitsAllocated, kw.bitsAllocatedGiven, "0028,0100", "US"},
      {kw.columns, kw.columnsGiven, "0028,0011", "US"},
      {kw.numberOfFrames, kw.numberOfFramesGiven, "0028,0008", "IS"},
      {kw.pixelRepresentation, kw.pixelRepresentationGiven, "0028,0103", "US"},
      {kw.planarConfiguration, kw.planarConfigurationGiven, "0028,0006", "US"},
      {kw.rows, kw.rowsGiven, "0028,0010", "US"},
      {kw.samplesPerPixel, kw.samplesPerPixelGiven, "0028,0002", "US"},
      {kw.photometric, kw.photometricGiven, "0028,0004", "CS"},
  };
  for (const Geometry& g : geometry)
    if (g.given) setAttributeValue(file, 0, g.tag, g.vr, g.value);
}

bool pixelDataHasNoValue(const FileInstance& file) {
  unsigned long length = 0;
  const MC_STATUS status = MC_Get_Value_Length(file.msgFileId, zyl::tags::kPixelData, 1, &length);
  return status == MC_EMPTY_VALUE || status == MC_NULL_VALUE || status == MC_INVALID_TAG;
}

// The array's elements as samples of the image: its memory when the
// elements have the sample's size, else each converted when it fits the
// sample (signed when Pixel Representation is 1); a value that does not is
// refused, never cut.
Samples arraySamples(const FileInstance& file, HostVar* value, const ImageDescription& image) {
  if (value == nullptr || !value->isDefined())
    fail(kErrs2, "Error: Passed in pixel data arguement is undefined (file) ", fileName(file));
  if (!value->isArray() || !zyl::isNumeric(value->type()))
    fail(kErrs2, "Error: Unable to set pixel data.  Passed in pixel data must be a numeric array. (file)",
         fileName(file));
  const uint32_t bits = 8 * image.bytesPerSample;
  const IntegerRange range = image.pixelRepresentation == 1
                                 ? IntegerRange{-(int64_t{1} << (bits - 1)), (int64_t{1} << (bits - 1)) - 1}
                                 : IntegerRange{0, (int64_t{1} << bits) - 1};
  Samples samples = samplesOf(value, image.bytesPerSample, range);
  if (!samples.misfit.empty())
    fail(kErrs4, "Error: Unable to set pixel data.  A value does not fit the image's samples (file/value/range) ",
         fileName(file), samples.misfit, rangeText(range));
  return samples;
}

// `pixels` gives the array's bytes once the frame and syntax checks passed.
template <typename Pixels>
void writePixels(FileInstance& file, Pixels pixels, bool frameGiven, uint32_t frame, bool storedOrder) {
  const ImageDescription image = readImageDescription(file);
  const int syntax = currentSyntax(file);
  if (frameGiven && frame >= image.frames) fail(kErrs1, "Error: Failed frame number is out of range.");
  if (isLossy(syntax) && image.frames >= 2 && frameGiven)
    fail(kErrs4,
         "Error: Can not write a single frame into a multi-frame image that uses lossy jpeg compression "
         "(file/syntax/syntax) ",
         fileName(file), currentSyntaxUid(file), transferSyntaxName(syntax));
  const Samples samples = pixels(image);
  const std::span<const unsigned char> array = samples.bytes;

  if (frameGiven && image.frames > 1) {
    if (array.size() != image.frameBytes)
      fail(kErrs2,
           "Error: Unable to set pixel data.  Passed in pixel data array length is not equal to the length of one "
           "frame. (file)",
           fileName(file));
    // The frame goes into the image as it stands, which is then stored whole.
    const PixelArray all = readPixelData(file, false, 0, true);
    const HostTemporary owned(all.array);
    auto* bytes = reinterpret_cast<unsigned char*>(all.array->array()->data());
    unsigned char* target = bytes + size_t{frame} * image.frameBytes;
    std::memcpy(target, array.data(), array.size());
    if (!storedOrder) flipFrames(target, image, 1, bytes + image.totalBytes);
    storePixelData(file, image, bytes);
    return;
  }
  const uint64_t expected = image.frames > 1 ? image.totalBytes : image.frameBytes;
  if (array.size() != expected)
    fail(kErrs2,
         image.frames > 1 ? "Error: Unable to set pixel data.  Passed in pixel data array is not equal to the length "
                            "of all the frames in this multi-frame image. (file)"
                          : "Error: Unable to set pixel data.  Passed in pixel data array length is not equal to the "
                            "length of one frame. (file)",
         fileName(file));
  if (storedOrder) return storePixelData(file, image, array.data());
  std::vector<unsigned char> flipped(array.begin(), array.end());
  flipFrames(flipped.data(), image, image.frames, flipped.data() + flipped.size());
  storePixelData(file, image, flipped.data());
}

HostVar* setPixelDataWorker(MethodCall<FileInstance, SetPixelKeywords>& call) {
  FileInstance& self = call.self();
  const SetPixelKeywords& kw = call.keywords();
  applyGeometry(self, kw);
  const bool storedOrder = static_cast<int16_t>(kw.order) != 0;
  const bool frameGiven = kw.frameGiven != 0;
  const auto frame = static_cast<uint32_t>(kw.frame);

  const ImageDescription image = readImageDescription(self);
  // A new multi-frame image gets all its frames, zero, before the first
  // frame is placed.
  if (frameGiven && image.frames >= 2 && self.fileMode == kModeCreated && pixelDataHasNoValue(self)) {
    const std::vector<unsigned char> zeros(image.totalBytes, 0);
    writePixels(
        self,
        [&](const ImageDescription&) {
          return Samples{zeros, {}, {}, 0};
        },
        false, 0, true);
  }
  writePixels(
      self, [&](const ImageDescription& image) { return arraySamples(self, call.arg(1), image); }, frameGiven, frame,
      storedOrder);
  return nullptr;
}

}  // namespace

MethodRows pixelWriteMethods() {
  static const MethodRow kRows[] = {
      procedureRow("ZYLFFORVO::SETPIXELDATA", fileMethodEntry<SetPixelKeywords, FileArgs<>, setPixelDataWorker>, 2, 2,
                   HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file
