#include "pixel_data.h"

#include "toolkit/file_values.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "tags.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"

namespace orvo::file {

MC_STATUS copyValuePiece(int /*id*/, uint32_t /*tag*/, void* userInfo, int dataSize, void* dataBuffer, int /*isFirst*/,
                         int /*isLast*/) noexcept {
  try {
    auto& copy = *static_cast<ValueCopy*>(userInfo);
    const long long room = static_cast<long long>(copy.capacity) - static_cast<long long>(copy.offset);
    if (room < 0 || dataSize < 0) {
      report(kErrs1, HOST_MSG_INFO, "Error: Failed to read in data...data size is negative");
      return MC_CANNOT_COMPLY;
    }
    auto piece = static_cast<const unsigned char*>(dataBuffer);
    const size_t n = std::min(static_cast<size_t>(dataSize), static_cast<size_t>(room));
    if (n > 0 && piece != nullptr) std::memcpy(copy.data + copy.offset, piece, n);
    copy.offset += n;
    return MC_NORMAL_COMPLETION;
  } catch (...) {
    return MC_CANNOT_COMPLY;
  }
}

MC_STATUS supplyValue(int, uint32_t, void* userInfo, int isFirst, int* dataSize, void** dataBuffer,
                      int* isLast) noexcept {
  auto& supply = *static_cast<ValueSupply*>(userInfo);
  if (isFirst) supply.handed = 0;
  if (!(supply.padOddOb && supply.length % 2 == 1)) {
    *dataBuffer = const_cast<unsigned char*>(supply.data);
    *dataSize = static_cast<int>(supply.length);
    *isLast = 1;
    return MC_NORMAL_COMPLETION;
  }
  if (supply.handed == 0 && supply.length > 1) {
    supply.handed = supply.length - 1;
    *dataBuffer = const_cast<unsigned char*>(supply.data);
    *dataSize = static_cast<int>(supply.handed);
    *isLast = 0;
    return MC_NORMAL_COMPLETION;
  }
  supply.tail[0] = supply.data[supply.length - 1];
  supply.tail[1] = 0;
  supply.handed = supply.length;
  *dataBuffer = supply.tail;
  *dataSize = 2;
  *isLast = 1;
  return MC_NORMAL_COMPLETION;
}

namespace {

// An image attribute read as an unsigned number; a missing or empty one
// takes the fallback when there is one, else fails with its message naming
// `subject` (the tag string or the file).
uint32_t imageNumber(int id, uint32_t tag, std::optional<uint32_t> fallback, const char* failText,
                     const std::string& subject) {
  unsigned long length = 0;
  const MC_STATUS lengthStatus = MC_Get_Value_Length(id, tag, 1, &length);
  if (fallback && (lengthStatus == MC_EMPTY_VALUE || lengthStatus == MC_INVALID_TAG || lengthStatus == MC_NULL_VALUE))
    return *fallback;
  unsigned long value = 0;
  const MC_STATUS status = MC_Get_Value_To_ULongInt(id, tag, &value);
  if (status != MC_NORMAL_COMPLETION) fail(kErrs3, failText, subject, errorText(status));
  return static_cast<uint32_t>(value);
}

// Swaps rows i and rows-1-i of every plane of one frame.
void flipFrame(unsigned char* frame, const ImageDescription& image, const unsigned char* end) {
  const bool planar = image.samples > 1 && image.planarConfiguration == 1;
  const size_t rowLength = size_t{image.columns} * image.bytesPerSample * (planar ? 1 : image.samples);
  const uint32_t planes = planar ? image.samples : 1;
  std::vector<unsigned char> row(rowLength);
  for (uint32_t p = 0; p < planes; ++p) {
    unsigned char* plane = frame + size_t{p} * image.rows * rowLength;
    for (uint32_t i = 0, j = image.rows - 1; i < j; ++i, --j) {
      unsigned char* upper = plane + size_t{i} * rowLength;
      unsigned char* lower = plane + size_t{j} * rowLength;
      if (lower + rowLength > end) fail(kErrs1, "Error: Address overrun error when flipping rows, dest > data");
      std::memcpy(row.data(), upper, rowLength);
      std::memcpy(upper, lower, rowLength);
      std::memcpy(lower, row.data(), rowLength);
    }
  }
}

}  // namespace

HostVar* readCompressedPixelData(const FileInstance& file, int id, const std::string& tagString) {
  const uint32_t frames = imageNumber(id, zyl::tags::kNumberOfFrames, 1,
                                      "Error: Failed to get number of frames for image (tag/err) ", tagString);
  const uint32_t samples =
      imageNumber(id, zyl::tags::kSamplesPerPixel, 1,
                  "Error: Failed to get number of samplesperpixel for image (tag/err) ", tagString);
  const uint32_t bits = imageNumber(id, zyl::tags::kBitsAllocated, std::nullopt,
                                    "Error: Failed to get number of bits allocated for image (tag/err) ", tagString);
  const uint32_t rows = imageNumber(id, zyl::tags::kRows, std::nullopt,
                                    "Error: Failed to get number of rows for image (tag/err) ", tagString);
  const uint32_t columns = imageNumber(id, zyl::tags::kColumns, std::nullopt,
                                       "Error: Failed to get number of columns for image (tag/err) ", tagString);
  const uint64_t bytesPerSample = bits < 9 ? 1 : bits < 17 ? 2 : 4;
  const uint64_t total = uint64_t{rows} * columns * bytesPerSample * samples * frames;
  // Read as the OW value a native file holds: 16-bit words.
  const uint64_t elementBytes = bytesPerSample == 1 ? 1 : 2;
  // The attributes come from the file: a product no image can have is refused
  // before memory is taken for it.
  if (total > (uint64_t{1} << 32))
    fail(kErrs3, "Error: Failed to read compressed binary data (OB/OW) from file (tag/err) ", tagString,
         errorText(MC_VALUE_TOO_LARGE));
  const zyl::Type type = elementBytes == 1 ? zyl::Type::Byte : zyl::Type::Int16;
  void* data = nullptr;
  HostTemporary result(HostMakeTempVector(type, static_cast<int64_t>(total / elementBytes), 1, &data));

  const int fileId = file.msgFileId;
  MC_STATUS status = MC_Register_Compression_Callbacks(fileId, MC_Standard_Compressor, MC_Standard_Decompressor);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to register compressor/decompressor (tag/err) ", tagString, errorText(status));
  ValueCopy copy{static_cast<unsigned char*>(data), static_cast<size_t>(total), 0};
  status = MC_Get_Encapsulated_Value_To_Function(fileId, zyl::tags::kPixelData, &copy, copyValuePiece);
  while (status == MC_END_OF_FRAME)
    status = MC_Get_Next_Encapsulated_Value_To_Function(fileId, zyl::tags::kPixelData, &copy, copyValuePiece);
  if (status != MC_NORMAL_COMPLETION && status != MC_NO_MORE_VALUES)
    fail(kErrs3, "Error: Failed to read compressed binary data (OB/OW) from file (tag/err) ", tagString,
         errorText(status));
  return result.release();
}

// The largest image the reader takes: what the file claims is checked
// before memory is taken for it.
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 32;

ImageDescription readImageDescription(const FileInstance& file) {
  const int id = file.msgFileId;
  const std::string name = fileName(file);
  ImageDescription image{};
  image.frames = imageNumber(id, zyl::tags::kNumberOfFrames, 1,
                             "Error: Failed to get number of frames for image (file/err) ", name);
  image.samples = imageNumber(id, zyl::tags::kSamplesPerPixel, std::nullopt,
                              "Error: Failed to get samples per pixel for image (file/err) ", name);
  image.bitsAllocated = imageNumber(id, zyl::tags::kBitsAllocated, std::nullopt,
                                    "Error: Failed to get number of bits allocated for image (file/err) ", name);
  image.rows = imageNumber(id, zyl::tags::kRows, std::nullopt,
                           "Error: Failed to get number of rows for image (file/err) ", name);
  image.columns = imageNumber(id, zyl::tags::kColumns, std::nullopt,
                              "Error: Failed to get number of columns for image (file/err) ", name);
  image.pixelRepresentation = imageNumber(id, zyl::tags::kPixelRepresentation, 0,
                                          "Error: Failed to get value for pixel representation (file/err) ", name);
  image.planarConfiguration = imageNumber(id, zyl::tags::kPlanarConfiguration, 0,
                                          "Error: Failed to get value for planar configuration (file/err) ", name);
  image.bytesPerSample = image.bitsAllocated < 9 ? 1 : image.bitsAllocated < 17 ? 2 : 4;
  image.frameBytes = uint64_t{image.samples} * image.columns * image.bytesPerSample * image.rows;
  image.totalBytes = image.frameBytes * image.frames;

  // The packing of the value in a native syntax; decoders give every sample.
  const uint64_t pixels = uint64_t{image.columns} * image.rows * image.frames;
  image.packing = Packing::None;
  image.storedBytes = image.totalBytes;
  if (!isDecodable(currentSyntax(file))) {
    char photometric[kUidBufferSize] = {};
    MC_Get_Value_To_String(id, zyl::tags::kPhotometricInterpretation, sizeof photometric, photometric);
    if (image.bitsAllocated == 1) {
      image.packing = Packing::Bits;
      image.storedBytes = (pixels * image.samples + 7) / 8;
    } else if (std::string_view(photometric) == "YBR_FULL_422" && image.samples == 3 && image.bitsAllocated == 8 &&
               image.planarConfiguration == 0) {
      image.packing = Packing::Ybr422;
      image.storedBytes = pixels * 2;
    }
  }

  // Shapes the host arrays cannot take are refused by name.
  std::string problem;
  if (image.samples != 1 && image.samples != 3 && image.samples != 4)
    problem = "Samples per Pixel " + std::to_string(image.samples) + " (1, 3 or 4 are read)";
  else if (image.bitsAllocated == 0 || (image.bitsAllocated > 16 && image.bitsAllocated != 32))
    problem = "Bits Allocated " + std::to_string(image.bitsAllocated) + " (1 to 16 and 32 are read)";
  else if (image.rows == 0 || image.columns == 0 || image.frames == 0)
    problem = "an image without pixels";
  else if (image.totalBytes > kMaxPixelBytes)
    problem = "Pixel Data over 4 GiB";
  else if (image.packing == Packing::Ybr422 && uint64_t{image.columns} * image.rows % 2 != 0)
    problem = "YBR_FULL_422 with an odd number of pixels";
  if (!problem.empty()) fail(kErrs3, "Error: Failed to get pixel data, unsupported image (file/err) ", name, problem);
  return image;
}

namespace {

// The stored bytes from `offset` on, `length` of them; a value that ends
// early leaves zeros.
std::vector<unsigned char> storedBytes(int id, const std::string& name, uint64_t offset, uint64_t length) {
  std::vector<unsigned char> stored(static_cast<size_t>(length), 0);
  ValueCopy copy{stored.data(), stored.size(), 0};
  const MC_STATUS status =
      ZYL_Get_Value_Range_To_Function(id, zyl::tags::kPixelData, offset, length, &copy, copyValuePiece);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to read pixel data from file (file/err) ", name, errorText(status));
  return stored;
}

// `count` frames from `first` of a packed native value, one byte per sample.
void readPackedFrames(int id, const std::string& name, const ImageDescription& image, uint32_t first, uint32_t count,
                      unsigned char* out) {
  const uint64_t frameSamples = uint64_t{image.rows} * image.columns * image.samples;
  if (image.packing == Packing::Bits) {
    // The first pixel is the lowest bit; frames follow each other bit by bit.
    const uint64_t firstBit = frameSamples * first;
    const uint64_t bits = frameSamples * count;
    const uint64_t shift = firstBit % 8;
    const std::vector<unsigned char> stored = storedBytes(id, name, firstBit / 8, (shift + bits + 7) / 8);
    for (uint64_t i = 0; i < bits; ++i) out[i] = (stored[(shift + i) / 8] >> ((shift + i) % 8)) & 1;
    return;
  }
  // YBR_FULL_422: Y1 Y2 Cb Cr for each two pixels.
  const uint64_t framePairs = frameSamples / 6;
  const std::vector<unsigned char> stored = storedBytes(id, name, framePairs * 4 * first, framePairs * 4 * count);
  for (uint64_t pair = 0; pair < framePairs * count; ++pair) {
    const unsigned char* in = stored.data() + pair * 4;
    unsigned char* two = out + pair * 6;
    two[0] = in[0], two[1] = in[2], two[2] = in[3];
    two[3] = in[1], two[4] = in[2], two[5] = in[3];
  }
}

// Every frame of `data` (one byte per sample) packed as the native value
// stores it; an empty result names what cannot be packed in `problem`.
std::vector<unsigned char> packFrames(const ImageDescription& image, const unsigned char* data, std::string& problem) {
  std::vector<unsigned char> packed(static_cast<size_t>(image.storedBytes), 0);
  const uint64_t samples = image.totalBytes;
  if (image.packing == Packing::Bits) {
    for (uint64_t i = 0; i < samples; ++i) {
      if (data[i] > 1) {
        problem = "a sample of a 1-bit image is " + std::to_string(data[i]);
        return {};
      }
      packed[i / 8] = static_cast<unsigned char>(packed[i / 8] | data[i] << (i % 8));
    }
    return packed;
  }
  for (uint64_t pair = 0; pair < samples / 6; ++pair) {
    const unsigned char* two = data + pair * 6;
    if (two[1] != two[4] || two[2] != two[5]) {
      problem = "YBR_FULL_422 pixels " + std::to_string(pair * 2) + " and " + std::to_string(pair * 2 + 1) +
                " differ in Cb or Cr";
      return {};
    }
    unsigned char* out = packed.data() + pair * 4;
    out[0] = two[0], out[1] = two[3], out[2] = two[1], out[3] = two[2];
  }
  return packed;
}

}  // namespace

PixelArray readPixelData(const FileInstance& file, bool frameGiven, uint32_t frame, bool storedOrder) {
  const ImageDescription image = readImageDescription(file);
  const uint32_t count = frameGiven ? 1 : image.frames;
  if (frameGiven && frame >= image.frames) fail(kErrs1, "Error: Failed requested frame is out of range.");

  const bool signedPixels = image.pixelRepresentation == 1;
  const zyl::Type type = image.bytesPerSample == 1   ? zyl::Type::Byte
                         : image.bytesPerSample == 2 ? (signedPixels ? zyl::Type::Int16 : zyl::Type::UInt16)
                                                     : (signedPixels ? zyl::Type::Int32 : zyl::Type::UInt32);
  std::array<int64_t, 4> dims{};
  int ndims = 0;
  if (image.samples == 1) {
    dims = {image.columns, image.rows, 0, 0};
    ndims = 2;
  } else if (image.planarConfiguration == 0) {
    dims = {image.samples, image.columns, image.rows, 0};
    ndims = 3;
  } else {
    dims = {image.columns, image.rows, image.samples, 0};
    ndims = 3;
  }
  // Like the host's arrays, a trailing dimension of one is dropped: a
  // single-frame image is [columns, rows].
  if (!frameGiven && image.frames > 1) dims[static_cast<size_t>(ndims++)] = image.frames;
  void* data = nullptr;
  HostTemporary result(HostMakeTempArray(type, ndims, dims.data(), 1, &data));
  auto* bytes = static_cast<unsigned char*>(data);
  const size_t filled = static_cast<size_t>(image.frameBytes) * count;

  // One frame alone costs one frame: the decoder starts at it, the raw
  // reader passes over the frames before it.
  const int syntax = currentSyntax(file);
  const int id = file.msgFileId;
  const std::string name = fileName(file);
  ValueCopy copy{bytes, filled, 0};
  if (isDecodable(syntax)) {
    MC_STATUS status = MC_Register_Compression_Callbacks(id, MC_Standard_Compressor, MC_Standard_Decompressor);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to register compressor/decompressor (file/err) ", name, errorText(status));
    if (frameGiven) {
      status = MC_Get_Encapsulated_Frame_To_Function(id, zyl::tags::kPixelData, frame, &copy, copyValuePiece);
    } else {
      status = MC_Get_Encapsulated_Value_To_Function(id, zyl::tags::kPixelData, &copy, copyValuePiece);
      while (status == MC_END_OF_FRAME)
        status = MC_Get_Next_Encapsulated_Value_To_Function(id, zyl::tags::kPixelData, &copy, copyValuePiece);
    }
    if (status != MC_NORMAL_COMPLETION && status != MC_NO_MORE_VALUES && status != MC_END_OF_FRAME)
      fail(kErrs3, "Error: Failed to read pixel data from file (file/err) ", name, errorText(status));
  } else if (isUnsupportedCompression(syntax)) {
    fail(kErrs4, "Error: Failed to get pixel data, unsupported compression format (file/syntax/syntax) ", name,
         currentSyntaxUid(file), transferSyntaxName(syntax));
  } else if (image.packing == Packing::None) {
    // Only the frames asked for are read, from the file when the value is
    // still there.
    const uint64_t first = frameGiven ? uint64_t{image.frameBytes} * frame : 0;
    const MC_STATUS status =
        ZYL_Get_Value_Range_To_Function(id, zyl::tags::kPixelData, first, filled, &copy, copyValuePiece);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to read pixel data from file (file/err) ", name, errorText(status));
  } else {
    readPackedFrames(id, name, image, frameGiven ? frame : 0, count, bytes);
  }

  if (!storedOrder) flipFrames(bytes, image, count, bytes + filled);
  return {result.release(), count};
}

void flipFrames(unsigned char* data, const ImageDescription& image, uint64_t count, const unsigned char* end) {
  for (uint64_t f = 0; f < count; ++f) flipFrame(data + f * image.frameBytes, image, end);
}

void storePixelData(FileInstance& file, const ImageDescription& image, const unsigned char* data) {
  const int syntax = currentSyntax(file);
  const std::string name = fileName(file);
  const int id = file.msgFileId;
  if (isStandardCompressed(syntax)) {
    compressFrames(
        id, data, static_cast<size_t>(image.frameBytes), image.frames, [&](CompressStep step, MC_STATUS status) {
          const char* text =
              step == CompressStep::Register     ? "Error: Failed to register compression callbacks (file/err) "
              : step == CompressStep::FirstFrame ? "Error: Failed to compress and set pixel data. (file/err) "
              : step == CompressStep::LaterFrame
                  ? "Error: Failed to compress and set pixel data, where frame num > 1, (file/err) "
                  : "Error: Failed to close pixel data tag when setting compressed pixel data,(file/err) ";
          fail(kErrs3, text, name, errorText(status));
        });
  } else if (isUnsupportedCompression(syntax) || isDecodeOnly(syntax)) {
    fail(kErrs4, "Error: Failed to set pixel data, unsupported compression format (file/syntax/syntax) ", name,
         currentSyntaxUid(file), transferSyntaxName(syntax));
  } else {
    std::vector<unsigned char> packed;
    if (image.packing != Packing::None) {
      std::string problem;
      packed = packFrames(image, data, problem);
      if (!problem.empty()) fail(kErrs3, "Error: Unable to set pixel data.  (file/err) ", name, problem);
      data = packed.data();
    }
    ValueSupply supply{data, static_cast<size_t>(image.storedBytes), image.bytesPerSample == 1};
    if (MC_Set_Value_From_Function(id, zyl::tags::kPixelData, &supply, supplyValue) != MC_NORMAL_COMPLETION)
      fail(kErrs2, "Error: Failed to set pixel data (file)", name);
  }
  if (file.fileMode == kModeCreated) MC_Add_Standard_Attribute(id, zyl::tags::kPixelDataGroupLength);
}

void swapWordPairsOf32BitPixels(FileInstance& file) {
  const int id = file.msgFileId;
  unsigned bits = 0;
  MC_VR vr = MC_VR_UNKNOWN;
  int count = 0;
  if (MC_Get_Value_To_UInt(id, zyl::tags::kBitsAllocated, &bits) != MC_NORMAL_COMPLETION || bits != 32) return;
  if (MC_Get_Attribute_Info(id, zyl::tags::kPixelData, &vr, &count) != MC_NORMAL_COMPLETION || vr != MC_VR_OW ||
      count < 1)
    return;
  unsigned long length = 0;
  if (MC_Get_Value_Length(id, zyl::tags::kPixelData, 1, &length) != MC_NORMAL_COMPLETION || length % 4 != 0) return;
  std::vector<unsigned char> words(length);
  ValueCopy copy{words.data(), words.size(), 0};
  if (MC_Get_Value_To_Function(id, zyl::tags::kPixelData, &copy, copyValuePiece) != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Failed to read pixel data from file (file/err) ", fileName(file));
  for (size_t i = 0; i < words.size(); i += 4) {
    std::swap(words[i], words[i + 2]);
    std::swap(words[i + 1], words[i + 3]);
  }
  ValueSupply supply{words.data(), words.size(), false};
  if (MC_Set_Value_From_Function(id, zyl::tags::kPixelData, &supply, supplyValue) != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Failed to set pixel data (file)", fileName(file));
}

namespace {

struct PixelKeywords {
  int32_t frame;
  int frameGiven;
  int32_t order;
  HostVar* count;
  int countGiven;
  static const HostKeyword table[];
};
const HostKeyword PixelKeywords::table[] = {
    {"FRAME", HOST_KW_INT, offsetof(PixelKeywords, frame), offsetof(PixelKeywords, frameGiven)},
    {"ORDER", HOST_KW_INT, offsetof(PixelKeywords, order), HOST_KW_NO_GIVEN},
    {"COUNT", HOST_KW_REF, offsetof(PixelKeywords, count), offsetof(PixelKeywords, countGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

// The pixel-data switch is looked at before the file is opened.
struct PixelArgs {
  static void check(const MethodCall<FileInstance, PixelKeywords>& call) {
    guardPixelData(call.self(), zyl::tags::kPixelData);
  }
};

HostVar* getPixelDataWorker(MethodCall<FileInstance, PixelKeywords>& call) {
  const PixelKeywords& kw = call.keywords();
  const PixelArray pixels = readPixelData(call.self(), kw.frameGiven != 0, static_cast<uint32_t>(kw.frame),
                                          static_cast<int16_t>(kw.order) != 0);
  if (kw.countGiven) storeUInt32(kw.count, pixels.frames);
  return pixels.array;
}

}  // namespace

MethodRows pixelDataMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVO::GETPIXELDATA", fileMethodEntry<PixelKeywords, PixelArgs, getPixelDataWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file
