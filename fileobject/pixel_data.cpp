#include "pixel_data.h"

#include <cstring>
#include <exception>

#include "file_object.h"

namespace orvo::file {

MC_STATUS copyValuePiece(int /*id*/, uint32_t /*tag*/, void* userInfo, int dataSize, void* dataBuffer,
                         int /*isFirst*/, int /*isLast*/) noexcept {
  try {
    auto& copy = *static_cast<ValueCopy*>(userInfo);
    const long long room = static_cast<long long>(copy.capacity) - static_cast<long long>(copy.offset);
    if (room < 0 || dataSize < 0) {
      report(kErrs1, HOST_MSG_INFO, "Error: Failed to read in data...data size is negative");
      return MC_CANNOT_COMPLY;
    }
    const size_t n = std::min(static_cast<size_t>(dataSize), static_cast<size_t>(room));
    if (n > 0 && dataBuffer != nullptr) std::memcpy(copy.data + copy.offset, dataBuffer, n);
    copy.offset += n;
    return MC_NORMAL_COMPLETION;
  } catch (...) {
    return MC_CANNOT_COMPLY;
  }
}

namespace {

const char* errorText(MC_STATUS status) { return MC_Error_Message(status); }

// An image attribute read as an unsigned number; a missing or empty one is 1
// where `defaultsToOne`, else a failure with its message.
uint32_t imageNumber(int id, uint32_t tag, bool defaultsToOne, const char* failText, const std::string& tagString) {
  unsigned long length = 0;
  const MC_STATUS lengthStatus = MC_Get_Value_Length(id, tag, 1, &length);
  if (defaultsToOne &&
      (lengthStatus == MC_EMPTY_VALUE || lengthStatus == MC_INVALID_TAG || lengthStatus == MC_NULL_VALUE))
    return 1;
  unsigned long value = 0;
  const MC_STATUS status = MC_Get_Value_To_ULongInt(id, tag, &value);
  if (status != MC_NORMAL_COMPLETION) fail(kErrs3, failText, tagString, errorText(status));
  return static_cast<uint32_t>(value);
}

}  // namespace

HostVar* readCompressedPixelData(const FileInstance& file, int id, const std::string& tagString) {
  const uint32_t frames =
      imageNumber(id, 0x00280008, true, "Error: Failed to get number of frames for image (tag/err) ", tagString);
  const uint32_t samples = imageNumber(id, 0x00280002, true,
                                       "Error: Failed to get number of samplesperpixel for image (tag/err) ", tagString);
  const uint32_t bits =
      imageNumber(id, 0x00280100, false, "Error: Failed to get number of bits allocated for image (tag/err) ", tagString);
  const uint32_t rows =
      imageNumber(id, 0x00280010, false, "Error: Failed to get number of rows for image (tag/err) ", tagString);
  const uint32_t columns =
      imageNumber(id, 0x00280011, false, "Error: Failed to get number of columns for image (tag/err) ", tagString);
  const uint64_t bytesPerSample = bits < 9 ? 1 : 2;
  const uint64_t total = uint64_t{rows} * columns * bytesPerSample * samples * frames;
  // The attributes come from the file: a product no image can have is refused
  // before memory is taken for it.
  if (total > (uint64_t{1} << 32))
    fail(kErrs3, "Error: Failed to read compressed binary data (OB/OW) from file (tag/err) ", tagString,
         errorText(MC_VALUE_TOO_LARGE));
  const zyl::Type type = bytesPerSample == 1 ? zyl::Type::Byte : zyl::Type::Int16;
  void* data = nullptr;
  HostVar* result = HostMakeTempVector(type, static_cast<int64_t>(total / bytesPerSample), 1, &data);
  struct Release {
    HostVar* v;
    ~Release() {
      if (v != nullptr) HostFreeTemporary(v);
    }
  } guard{result};

  const int fileId = file.msgFileId;
  MC_STATUS status = MC_Register_Compression_Callbacks(fileId, MC_Standard_Compressor, MC_Standard_Decompressor);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to register compressor/decompressor (tag/err) ", tagString, errorText(status));
  ValueCopy copy{static_cast<unsigned char*>(data), static_cast<size_t>(total), 0};
  status = MC_Get_Encapsulated_Value_To_Function(fileId, kTagPixelData, &copy, copyValuePiece);
  while (status == MC_END_OF_FRAME)
    status = MC_Get_Next_Encapsulated_Value_To_Function(fileId, kTagPixelData, &copy, copyValuePiece);
  if (status != MC_NORMAL_COMPLETION && status != MC_NO_MORE_VALUES)
    fail(kErrs3, "Error: Failed to read compressed binary data (OB/OW) from file (tag/err) ", tagString,
         errorText(status));
  guard.v = nullptr;
  return result;
}


}  // namespace orvo::file
