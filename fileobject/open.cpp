// Loading a data set from disk: format detection, DICOM files read through
// the toolkit's file reader, and data sets without preamble streamed with the
// syntax their meta group names or one found by trial.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>

#include "file_object.h"
#include "pixel_data.h"
#include "toolkit/file_values.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"

namespace orvo::file {
namespace {

constexpr int32_t kFullReadBuffer = 0x80000;       // full reads and streaming
constexpr int32_t kHeaderReadBuffer = 4096;        // reads that stop before the pixel data
constexpr uint32_t kLeaveInFileAbove = 64 * 1024;  // values read from a file when first used
constexpr uint32_t kTagPixelGroupStart = zyl::tags::kPixelDataGroupLength;
constexpr uint32_t kTagStreamStart = 0x00080000;
constexpr uint32_t kTagStreamStop = 0xFFFFFFFF;
constexpr size_t kMaxMetaSyntaxLength = 255;  // a meta Transfer Syntax UID is read into 256 bytes

const char* const kOddLengthWarning =
    "Warning: Invalid file length. \n Odd length files are not valid dicom files. \n Extra byte (0) appended "
    "to pixel data. \n Use this dicom data with caution. \n Use !Quiet to suppress this warning.\n";

// What the toolkit's read callbacks work with. The buffer is scratch memory
// with one byte to spare for the padding of an odd last chunk.
struct ReadContext {
  FILE* stream = nullptr;
  uint32_t delivered = 0;
  int32_t unit = HOST_FILE_FAILED;
  int32_t bufferSize = 0;
  int32_t oddLength = 0;
  unsigned char* buffer = nullptr;

  void closeUnit() {
    if (unit != HOST_FILE_FAILED) HostFileClose(unit);
    unit = HOST_FILE_FAILED;
    stream = nullptr;
  }
};

// A read context whose unit and scratch memory are released with it.
class ReadScratch {
 public:
  explicit ReadScratch(int32_t bufferSize) {
    context_.bufferSize = bufferSize;
    context_.buffer = static_cast<unsigned char*>(HostGetScratch(static_cast<size_t>(bufferSize) + 1));
  }
  ReadScratch(const ReadScratch&) = delete;
  ReadScratch& operator=(const ReadScratch&) = delete;
  ~ReadScratch() {
    context_.closeUnit();
    HostFreeScratch(context_.buffer);
  }
  ReadContext* get() { return &context_; }
  ReadContext* operator->() { return &context_; }

 private:
  ReadContext context_;
};

// Reads the next chunk into the context's buffer; false on a stream error.
bool readChunk(ReadContext& ctx, int* size, int* isLast) {
  const size_t n = std::fread(ctx.buffer, 1, static_cast<size_t>(ctx.bufferSize), ctx.stream);
  if (std::ferror(ctx.stream)) return false;
  *size = static_cast<int>(n);
  if (n < static_cast<size_t>(ctx.bufferSize)) {
    *isLast = 1;
    ctx.closeUnit();
  }
  return true;
}

// The toolkit's reader of DICOM files. Pads an odd last chunk with one
// zero byte and notes that it did.
MC_STATUS part10Reader(const char* name, void* userInfo, int* dataSize, void** dataBuffer, int isFirst,
                       int* isLast) noexcept {
  try {
    auto& ctx = *static_cast<ReadContext*>(userInfo);
    *dataSize = 0;
    *isLast = 0;
    if (isFirst) {
      ctx.delivered = 0;
      ctx.closeUnit();
      ctx.unit = HostFileOpen(name, HOST_FILE_READ, HOST_FILE_STDIO);
      if (ctx.unit == HOST_FILE_FAILED) {
        report(kErrs2, HOST_MSG_INFO, "Error: Failed to open file ", name);
        return MC_CANNOT_COMPLY;
      }
      ctx.stream = HostFileStat(ctx.unit);
      if (ctx.stream == nullptr) {
        report(kErrs2, HOST_MSG_INFO, "Error: Failed to get file ptr ", name);
        return MC_CANNOT_COMPLY;
      }
    }
    if (ctx.stream == nullptr) return MC_CANNOT_COMPLY;
    int size = 0;
    if (!readChunk(ctx, &size, isLast)) return MC_CANNOT_COMPLY;
    ctx.oddLength = 0;
    if (size % 2 != 0) {
      ctx.buffer[size++] = 0;
      ctx.oddLength = 1;
    }
    ctx.delivered += static_cast<uint32_t>(size);
    *dataSize = size;
    *dataBuffer = ctx.buffer;
    return MC_NORMAL_COMPLETION;
  } catch (...) {
    return MC_CANNOT_COMPLY;
  }
}

// The toolkit's reader of raw data sets: the stream is open and positioned.
MC_STATUS streamReader(int /*messageId*/, void* userInfo, int /*isFirst*/, int* dataSize, void** dataBuffer,
                       int* isLast) noexcept {
  auto& ctx = *static_cast<ReadContext*>(userInfo);
  *dataSize = 0;
  *isLast = 0;
  if (ctx.stream == nullptr) return MC_CANNOT_COMPLY;
  if (!readChunk(ctx, dataSize, isLast)) return MC_CANNOT_COMPLY;
  ctx.delivered += static_cast<uint32_t>(*dataSize);
  *dataBuffer = ctx.buffer;
  return MC_NORMAL_COMPLETION;
}

// A file whose last value needs no pad byte (an odd one is read through the
// padding reader, which warns); false also when it cannot be examined.
bool isEvenSizedFile(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size % 2 == 0;
}

bool readExact(FILE* f, void* out, size_t n) { return std::fread(out, 1, n, f) == n; }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Format numbers 2 to 9 are the written syntaxes in their order.
constexpr int kFirstSyntaxFormat = 2;

std::optional<MC_TRANSFER_SYNTAX> syntaxOfFormat(int format) {
  const int index = format - kFirstSyntaxFormat;
  if (index < 0 || index >= static_cast<int>(kWrittenSyntaxes.size())) return std::nullopt;
  return kWrittenSyntaxes[static_cast<size_t>(index)];
}

std::optional<int> formatOfUid(std::string_view uid) {
  const std::optional<MC_TRANSFER_SYNTAX> syntax = writtenSyntaxOfUid(uid);
  if (!syntax) return std::nullopt;
  const auto at = std::find(kWrittenSyntaxes.begin(), kWrittenSyntaxes.end(), *syntax);
  return kFirstSyntaxFormat + static_cast<int>(at - kWrittenSyntaxes.begin());
}

struct Detection {
  int format = 0;
  int64_t dataSetOffset = 0;
  bool rebuildMeta = false;
};

// A UID of 1 to 64 characters: numbers without leading zeros joined by dots.
bool holdsValidUid(int id, uint32_t tag) {
  char uid[kUidBufferSize] = {};
  if (MC_Get_Value_To_String(id, tag, sizeof uid, uid) != MC_NORMAL_COMPLETION) return false;
  const std::string_view text(uid);
  if (text.empty() || text.size() > 64) return false;
  size_t start = 0;
  for (;;) {
    const size_t dot = std::min(text.find('.', start), text.size());
    const std::string_view part = text.substr(start, dot - start);
    if (part.empty() || (part.size() > 1 && part[0] == '0')) return false;
    for (const char c : part)
      if (c < '0' || c > '9') return false;
    if (dot == text.size()) return true;
    start = dot + 1;
  }
}

// Streams the file (from offset) with one syntax and judges whether the
// result is plausible: 1 accept, 0 the stream could not be read, -1 read but
// not plausible.
int probe(const std::string& name, int64_t offset, MC_TRANSFER_SYNTAX syntax) {
  zyl::toolkit::MessageHandle message;
  if (MC_Open_Empty_Message(message.out()) != MC_NORMAL_COMPLETION) return 0;
  {
    ReadScratch ctx(kFullReadBuffer);
    ctx->unit = HostFileOpen(name.c_str(), HOST_FILE_READ, HOST_FILE_STDIO);
    if (ctx->unit == HOST_FILE_FAILED || (offset > 0 && HostFileSeek(ctx->unit, offset) != 1)) return 0;
    ctx->stream = HostFileStat(ctx->unit);
    if (ctx->stream == nullptr) return 0;
    if (MC_Stream_To_Message(message.get(), kTagStreamStart, kTagStreamStop, syntax, ctx.get(), streamReader) !=
        MC_NORMAL_COMPLETION)
      return 0;
  }
  // A data set read with the wrong syntax has no valid SOP Class and Instance UIDs.
  const int id = message.get();
  if (!holdsValidUid(id, zyl::tags::kSopClassUid) || !holdsValidUid(id, zyl::tags::kSopInstanceUid)) return -1;
  unsigned long anyLength = 0;
  if (MC_Get_Value_Length(id, zyl::tags::kPixelData, 1, &anyLength) == MC_INVALID_TAG) return 1;  // no image
  unsigned samples = 1, rows = 0, columns = 0, frames = 1, bitsAllocated = 0;
  bool read = MC_Get_Value_To_UInt(id, zyl::tags::kSamplesPerPixel, &samples) == MC_NORMAL_COMPLETION;
  read = MC_Get_Value_To_UInt(id, zyl::tags::kRows, &rows) == MC_NORMAL_COMPLETION && read;
  read = MC_Get_Value_To_UInt(id, zyl::tags::kColumns, &columns) == MC_NORMAL_COMPLETION && read;
  if (MC_Get_Value_To_UInt(id, zyl::tags::kNumberOfFrames, &frames) != MC_NORMAL_COMPLETION) frames = 1;
  read = MC_Get_Value_To_UInt(id, zyl::tags::kBitsAllocated, &bitsAllocated) == MC_NORMAL_COMPLETION && read;
  unsigned long pixelLength = 0;
  read = MC_Get_Value_Length(id, zyl::tags::kPixelData, 1, &pixelLength) == MC_NORMAL_COMPLETION && read;
  if (!read) return -1;
  // The stored length: bits packed for Bits Allocated 1, two samples per pixel for YBR_FULL_422.
  char photometric[kUidBufferSize] = {};
  MC_Get_Value_To_String(id, zyl::tags::kPhotometricInterpretation, sizeof photometric, photometric);
  const uint64_t pixels = static_cast<uint64_t>(frames) * columns * rows;
  const uint64_t expected = bitsAllocated == 1 ? (pixels * samples + 7) / 8
                            : std::string_view(photometric) == "YBR_FULL_422" && bitsAllocated == 8
                                ? pixels * 2
                                : pixels * samples * ((bitsAllocated + 7) / 8);
  if (pixelLength >= expected) return 1;
  report(kErrs2, HOST_MSG_INFO,
         "Error: Unable to open files with compressed pixel data that that do not have metadata. ", name);
  return -1;
}

// Finds how the file is encoded. False after a message.
bool detectFormat(const std::string& name, const Reporter& r, Detection& d) {
  HostUnit unit(HostFileOpen(name.c_str(), HOST_FILE_READ, HOST_FILE_STDIO));
  if (!unit.open()) return r.say(kErrs2, "Error: Failed to open file ", name), false;
  if (HostFileSeek(unit.get(), 128) != 1) return r.say(kErrs2, "Error: Failed to seek to file postion ", name), false;
  FILE* f = unit.stream();
  if (f == nullptr) return r.say(kErrs2, "Error: Failed to get file ptr ", name), false;
  char magic[4];
  if (!readExact(f, magic, 4)) return r.say(kErrs2, "Error: Failed to read 4 bytes from file ", name), false;
  if (std::memcmp(magic, "DICM", 4) == 0) {
    d.format = 1;
    return true;
  }

  // No preamble: walk the leading elements as explicit VR little endian.
  if (HostFileSeek(unit.get(), 0) != 1) return r.say(kErrs2, "Error: Failed to seek to file postion ", name), false;
  const char* const kTagReadFailed = "Error: Failed to read tag from Metadata while parsing file without preamble ";
  bool syntaxFound = false;
  for (;;) {
    unsigned char header[12];
    if (!readExact(f, header, 6)) return r.say(kErrs2, kTagReadFailed, name), false;
    const uint16_t group = le16(header);
    const uint16_t element = le16(header + 2);
    const char vr[3] = {static_cast<char>(header[4]), static_cast<char>(header[5]), 0};
    const std::string_view vrName(vr, 2);
    const bool longForm = vrName == "OB" || vrName == "OW" || vrName == "SQ" || vrName == "UN" || vrName == "UT";
    uint32_t length = 0;
    int headerSize = 8;
    if (longForm) {
      if (!readExact(f, header + 6, 6)) return r.say(kErrs2, kTagReadFailed, name), false;
      length = le32(header + 8);
      headerSize = 12;
    } else {
      if (!readExact(f, header + 6, 2)) return r.say(kErrs2, kTagReadFailed, name), false;
      length = le16(header + 6);
    }
    if (group != 0x0002) {
      const off_t position = ftello(f);
      if (position < 0)
        return r.say(kErrs2, "Error: Failed to scan Metadata (1) while parsing file without preamble ", name), false;
      d.dataSetOffset = static_cast<int64_t>(position) - headerSize;
      break;
    }
    if (element == 0x0010) {
      if (vrName != "UI") break;
      std::string uid(std::min<size_t>(length, kMaxMetaSyntaxLength), '\0');
      if (!readExact(f, uid.data(), uid.size()))
        return r.say(kErrs2, "Error: Failed to read transfer syntax while parsing file without preamble ", name), false;
      // UI values are padded to even length with a NUL; some writers use a space.
      if (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.pop_back();
      const std::optional<int> format = length > kMaxMetaSyntaxLength ? std::nullopt : formatOfUid(uid);
      if (!format) {
        r.say(kErrs3, "Error: Failed unsupported transfer syntax while parsing file without preamble (syntax/file)",
              uid.c_str(), name);
        return false;
      }
      d.format = *format;
      syntaxFound = true;
      continue;
    }
    const off_t position = ftello(f);
    if (position < 0)
      return r.say(kErrs2, "Error: Failed to scan Metadata (2) while parsing file without preamble ", name), false;
    if (fseeko(f, position + static_cast<off_t>(length), SEEK_SET) != 0)
      return r.say(kErrs2, "Error: Failed to scan Metadata (3) while parsing file without preamble ", name), false;
  }
  d.rebuildMeta = true;
  unit.close();
  if (syntaxFound) return true;

  // No syntax named: try them in turn, from where the data set starts.
  constexpr std::pair<MC_TRANSFER_SYNTAX, int> kTrials[] = {
      {MC_TS_IMPLICIT_LITTLE_ENDIAN, 2}, {MC_TS_EXPLICIT_BIG_ENDIAN, 4}, {MC_TS_EXPLICIT_LITTLE_ENDIAN, 3}};
  for (const auto& [syntax, format] : kTrials) {
    const int verdict = probe(name, d.dataSetOffset, syntax);
    if (verdict == 1) {
      d.format = format;
      return true;
    }
  }
  r.say(kErrs2,
        "Error: Failed to read file. The file is not a valid part 10 dicom file; it is missing the preamble and "
        "metadata headers.",
        name);
  return false;
}

// The message for a failed read of a DICOM file.
void sayOpenFailed(const Reporter& r, const std::string& name, MC_STATUS status) {
  r.say(kErrs3,
        status == MC_INVALID_FILE ? "Error: MC_Open_File failed - invalid Dicom Part 10 file"
                                  : "Error: MC_Open_File failed - unable to read file from media",
        name, MC_Error_Message(status));
}

// The service name of the SOP class of a clone's source, "" when unknown.
// False when the source cannot be read at all.
bool sourceService(const FileInstance& file, const std::string& name, const Reporter& r, std::string& service) {
  zyl::toolkit::FileHandle pre;
  MC_STATUS status = MC_Create_Empty_File(pre.out(), name.c_str());
  if (status != MC_NORMAL_COMPLETION)
    return r.say(kErrs3, "Error: MC_Create_Empty_File failed ", name, MC_Error_Message(status)), false;
  {
    ReadScratch ctx(kHeaderReadBuffer);
    status = MC_Open_File_Upto_Tag(file.appId, pre.get(), ctx.get(), kTagPixelGroupStart, part10Reader);
  }
  if (status != MC_NORMAL_COMPLETION) return sayOpenFailed(r, name, status), false;
  char uid[kUidBufferSize] = {};
  status = MC_Get_Value_To_String(pre.get(), zyl::tags::kSopClassUid, sizeof uid, uid);
  if (status != MC_NORMAL_COMPLETION) {
    report(kErrs3, HOST_MSG_INFO, "Warning Unable to read SOP Class UID from file ", name, MC_Error_Message(status));
    return true;
  }
  char serviceName[kUidBufferSize] = {};
  status = MC_Get_MergeCOM_Service(uid, serviceName, sizeof serviceName);
  if (status != MC_NORMAL_COMPLETION) {
    report(kErrs4, HOST_MSG_INFO, "Warning: Unable to convert SOP Class UID to a service (file/SOPClassUID/err) ", name,
           uid, MC_Error_Message(status));
    return true;
  }
  service = serviceName;
  return true;
}

int readPart10(FileInstance& file, const std::string& name, const Reporter& r) {
  file.msgFileId = -1;
  std::string service;
  if (file.fileMode == kModeCloned && file.nonConforming == 0 && !sourceService(file, name, r, service)) return 0;

  zyl::toolkit::FileHandle id;
  MC_STATUS status = MC_NORMAL_COMPLETION;
  if (file.nonConforming == 0 && !service.empty()) {
    status = MC_Create_File(id.out(), name.c_str(), service.c_str(), MC_CMD_C_STORE_RQ);
    if (status != MC_NORMAL_COMPLETION)
      return r.say(kErrs3, "Error: MC_Create_File failed ", name, MC_Error_Message(status)), 0;
  } else {
    status = MC_Create_Empty_File(id.out(), name.c_str());
    if (status != MC_NORMAL_COMPLETION)
      return r.say(kErrs3, "Error: MC_Create_Empty_File failed ", name, MC_Error_Message(status)), 0;
  }
  bool padded = false;
  if (file.noPixelData == 0 && isEvenSizedFile(name)) {
    // Long values stay in the file until used: an open costs its attributes,
    // a frame its own bytes, a send one pass over the file.
    status = ZYL_Open_File_Leaving_Values(file.appId, id.get(), name.c_str(), kLeaveInFileAbove);
  } else {
    ReadScratch ctx(file.noPixelData != 0 ? kHeaderReadBuffer : kFullReadBuffer);
    status = file.noPixelData != 0
                 ? MC_Open_File_Upto_Tag(file.appId, id.get(), ctx.get(), kTagPixelGroupStart, part10Reader)
                 : MC_Open_File(file.appId, id.get(), ctx.get(), part10Reader);
    padded = ctx->oddLength != 0;
  }
  if (status != MC_NORMAL_COMPLETION) {
    id.reset();
    return sayOpenFailed(r, name, status), 0;
  }
  if (padded) report(kErrs2, HOST_MSG_INFO_QUIET, kOddLengthWarning, name);
  file.msgFileId = id.release();
  char uid[kUidBufferSize] = {};
  status = MC_Get_Value_To_String(file.msgFileId, zyl::tags::kTransferSyntaxUid, sizeof uid, uid);
  if (status != MC_NORMAL_COMPLETION)
    return r.say(kErrs3, "Error: MC_Get_Value_To_String failed - failed to get transfer syntax from file", name,
                 MC_Error_Message(status)),
           0;
  return 1;
}

int streamDataSet(FileInstance& file, const std::string& name, const Detection& d, ReportMode mode) {
  const Reporter r(mode);
  const std::optional<MC_TRANSFER_SYNTAX> syntax = syntaxOfFormat(d.format);
  if (!syntax) return r.say(kErrs2, "Error: Failed to convert transfer syntax", name), 0;
  zyl::toolkit::MessageHandle message;
  MC_STATUS status = MC_Open_Empty_Message(message.out());
  if (status != MC_NORMAL_COMPLETION)
    return r.say(kErrs3, "Error: Failed to open empty msg when loading file (file/err)", name,
                 MC_Error_Message(status)),
           0;
  {
    ReadScratch ctx(kFullReadBuffer);
    ctx->unit = HostFileOpen(name.c_str(), HOST_FILE_READ, HOST_FILE_STDIO);
    if (ctx->unit == HOST_FILE_FAILED) return r.say(kErrs2, "Error: Failed to open file ", name), 0;
    if (d.dataSetOffset > 0 && HostFileSeek(ctx->unit, d.dataSetOffset) != 1)
      return r.say(kErrs2, "Error: Failed to seek to file postion ", name), 0;
    ctx->stream = HostFileStat(ctx->unit);
    if (ctx->stream == nullptr) return r.say(kErrs2, "Error: Failed to get file ptr ", name), 0;
    status = MC_Stream_To_Message(message.get(), kTagStreamStart, kTagStreamStop, *syntax, ctx.get(), streamReader);
  }
  if (status != MC_NORMAL_COMPLETION) {
    message.reset();
    return r.say(kErrs3, "Error: Failed to stream file into memory (file/err)", name, MC_Error_Message(status)), 0;
  }
  file.msgFileId = message.release();
  status = MC_Message_To_File(file.msgFileId, name.c_str());
  if (status != MC_NORMAL_COMPLETION)
    return r.say(kErrs3, "Error: Failed to stream to file (file/err)", name, MC_Error_Message(status)), 0;
  if (d.rebuildMeta) return writeStreamMeta(file, *syntax, mode);
  return 1;
}

}  // namespace

int openOnDemand(FileInstance& file, Source source, ReportMode mode) {
  const Reporter r(mode);
  const std::string name = source == Source::FileName ? fileName(file) : text(file.fileCloned);
  if (name.empty()) return r.say(kErrs1, "Error: Invalid file string."), 0;
  if (hasDataSet(file)) return 1;
  file.msgFileId = -1;

  Detection d;
  int ok = 0;
  if (!detectFormat(name, r, d)) {
    r.say(kErrs2, "Error: Failed to determine format of file.", name);
  } else if (d.format == 0) {
    r.say(kErrs2,
          "Error: Failed to determine transfer syntax while parsing a file that was missing the preamble or metadata",
          name);
  } else if (d.format == 1) {
    ok = readPart10(file, name, r);
    if (!ok) r.say(kErrs2, "Error: Failed to read file ", name);
  } else {
    ok = streamDataSet(file, name, d, mode);
    if (!ok)
      r.say(kErrs2, "Error: Failed to read stream file while parsing a file that was missing the preamble or metadata",
            name);
  }
  // 32-bit pixels read from big endian data are made native (see pixel_data.h).
  if (ok && file.noPixelData == 0 && currentSyntax(file) == MC_TS_EXPLICIT_BIG_ENDIAN) swapWordPairsOf32BitPixels(file);
  if (ok) return 1;
  r.say(kErrs2, "Error: Unable to read file", name);
  return 0;
}

}  // namespace orvo::file
