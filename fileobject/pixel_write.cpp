// SetPixelData: the image geometry keywords, then every frame or one frame
// of a multi-frame image, rows back in stored order, compressed where the
// file's syntax asks.
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "file_methods.h"
#include "file_object.h"
#include "method.h"
#include "pixel_data.h"
#include "transfer_syntax.h"

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
  {name, HOST_KW_REF, offsetof(SetPixelKeywords, field), offsetof(SetPixelKeywords, field##Given)}
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
  const MC_STATUS status = MC_Get_Value_Length(file.msgFileId, kTagPixelData, 1, &length);
  return status == MC_EMPTY_VALUE || status == MC_NULL_VALUE || status == MC_INVALID_TAG;
}

// The array's bytes: its length in bytes whatever its element type.
std::span<const unsigned char> arrayBytes(const FileInstance& file, HostVar* value) {
  if (value == nullptr || !value->isDefined())
    fail(kErrs2, "Error: Passed in pixel data arguement is undefined (file) ", fileName(file));
  if (!value->isArray() || !zyl::isNumeric(value->type()))
    fail(kErrs2, "Error: Unable to set pixel data.  Passed in pixel data must be a numeric array. (file)",
         fileName(file));
  return {reinterpret_cast<const unsigned char*>(value->array()->data()), value->array()->byteSize()};
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
  const std::span<const unsigned char> array = pixels();

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
    writePixels(self, [&] { return std::span<const unsigned char>(zeros); }, false, 0, true);
  }
  writePixels(self, [&] { return arrayBytes(self, call.arg(1)); }, frameGiven, frame, storedOrder);
  return nullptr;
}

}  // namespace

HostVar* setPixelData(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  return fileMethod<SetPixelKeywords, FileArgs<>, setPixelDataWorker>(argc, argv, argk);
}

}  // namespace orvo::file
