// New data sets: the UID generator, create and clone, the meta group of data
// sets read without one, and writing a data set out on Commit.
#include <cstdio>
#include <ctime>
#include <exception>
#include <random>
#include <string>

#include "file_object.h"
#include "pixel_data.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"

namespace orvo::file {

const char* const kUuidRoot = "2.25.";

__extension__ typedef unsigned __int128 Uint128;

namespace {

constexpr size_t kMaxWritePiece = 0x400000;

uint32_t gObjectCounter = 1;

// Supplies the File Meta Information Version: the two bytes 00 01, at once.
MC_STATUS metaVersionSupplier(int /*id*/, uint32_t /*tag*/, void* /*userInfo*/, int /*isFirst*/, int* dataSize,
                              void** dataBuffer, int* isLast) noexcept {
  static unsigned char version[2] = {0x00, 0x01};
  *dataSize = 2;
  *dataBuffer = version;
  *isLast = 1;
  return MC_NORMAL_COMPLETION;
}

// Sets one string value; on failure says text with the toolkit's error text
// (code -1). False after a message with ReportMode::Inform.
bool setString(int id, uint32_t tag, const char* value, const Reporter& r, const char* failureText) {
  const MC_STATUS status = MC_Set_Value_From_String(id, tag, value);
  if (status == MC_NORMAL_COMPLETION) return true;
  r.say(kErrs2, failureText, errorText(status));
  return false;
}

bool setMetaVersion(int id, const Reporter& r) {
  const MC_STATUS status = MC_Set_Value_From_Function(id, zyl::tags::kMetaVersion, nullptr, metaVersionSupplier);
  if (status == MC_NORMAL_COMPLETION) return true;
  r.say(kErrs2, "Error: Unable to add file meta information version ", errorText(status));
  return false;
}

bool configString(MC_CONFIG_PARAMETER parameter, char (&buffer)[kUidBufferSize], const Reporter& r,
                  const char* failureText) {
  const MC_STATUS status = MC_Get_String_Config_Value(parameter, sizeof buffer, buffer);
  if (status == MC_NORMAL_COMPLETION) return true;
  r.say(kErrs2, failureText, errorText(status));
  return false;
}

bool syntaxUid(int syntax, char (&buffer)[kUidBufferSize], const Reporter& r) {
  const MC_STATUS status =
      MC_Get_Transfer_Syntax_From_Enum(static_cast<MC_TRANSFER_SYNTAX>(syntax), buffer, sizeof buffer);
  if (status == MC_NORMAL_COMPLETION) return true;
  r.say(kErrs2, "Error: Failed to translate transfer syntax ", errorText(status));
  return false;
}

// The write callback's context: the open stream and its unit.
struct WriteContext {
  FILE* stream = nullptr;
  int32_t unit = HOST_FILE_FAILED;
  bool created = false;  // the writer opened (and so truncated) the target
  std::string target;    // the file the toolkit wrote to, which may differ from the object's name

  void closeUnit() {
    if (unit != HOST_FILE_FAILED) HostFileClose(unit);
    unit = HOST_FILE_FAILED;
    stream = nullptr;
  }
};

MC_STATUS fileWriter(const char* name, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                     int isLast) noexcept {
  try {
    auto& ctx = *static_cast<WriteContext*>(userInfo);
    if (isFirst) {
      ctx.closeUnit();
      ctx.unit = HostFileOpen(name, HOST_FILE_WRITE, HOST_FILE_STDIO);
      if (ctx.unit == HOST_FILE_FAILED) {
        report(kErrs2, HOST_MSG_INFO, "Error: Failed to open file ", name);
        return MC_CANNOT_COMPLY;
      }
      ctx.created = true;
      ctx.target = name;
      ctx.stream = HostFileStat(ctx.unit);
      if (ctx.stream == nullptr) {
        report(kErrs2, HOST_MSG_INFO, "Error: Failed to get file ptr ", name);
        return MC_CANNOT_COMPLY;
      }
    }
    if (ctx.stream == nullptr || dataSize < 0 || (dataSize > 0 && dataBuffer == nullptr)) return MC_CANNOT_COMPLY;
    const auto* bytes = static_cast<const unsigned char*>(dataBuffer);
    for (size_t done = 0, total = static_cast<size_t>(dataSize); done < total;) {
      const size_t piece = std::min(kMaxWritePiece, total - done);
      if (std::fwrite(bytes + done, 1, piece, ctx.stream) != piece) {
        report(kErrs2, HOST_MSG_INFO, "Error: fwrite failed ", name);
        return MC_CANNOT_COMPLY;
      }
      done += piece;
    }
    if (isLast) {
      // A failing flush on close is a failed write as well.
      if (std::fflush(ctx.stream) != 0) {
        report(kErrs2, HOST_MSG_INFO, "Error: fwrite failed ", name);
        return MC_CANNOT_COMPLY;
      }
      ctx.closeUnit();
    }
    return MC_NORMAL_COMPLETION;
  } catch (...) {
    return MC_CANNOT_COMPLY;
  }
}

}  // namespace

uint32_t nextObjectNumber() { return ++gObjectCounter; }
uint32_t objectCounter() { return gObjectCounter; }

// "2.25." and the decimal form of a random (version 4) UUID: the arc admits
// nothing else, and 128 bits need no organisation root to be unique.
int generateUid(char* buffer, size_t size) {
  std::random_device entropy;
  Uint128 uuid = 0;
  for (int i = 0; i < 4; ++i) uuid = uuid << 32 | entropy();
  // Version 4 (random) in bits 76-79, variant 10 in bits 62-63.
  uuid &= ~((static_cast<Uint128>(0xF) << 76) | (static_cast<Uint128>(0x3) << 62));
  uuid |= (static_cast<Uint128>(0x4) << 76) | (static_cast<Uint128>(0x2) << 62);
  char digits[40];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + static_cast<int>(uuid % 10));
    uuid /= 10;
  } while (uuid != 0);
  std::string uid = kUuidRoot;
  while (n > 0) uid += digits[--n];
  if (size > 0) std::snprintf(buffer, size, "%s", uid.c_str());
  return 1;
}

void createDataSet(FileInstance& file) {
  const Reporter r(ReportMode::Fail);
  const std::string service = text(file.sopClass);
  if (service.empty()) fail(kErrs1, "Error: Invalid SOP Class UID.");
  MC_STATUS status = MC_Create_File(&file.msgFileId, fileName(file).c_str(), service.c_str(), MC_CMD_C_STORE_RQ);
  if (status != MC_NORMAL_COMPLETION) {
    file.msgFileId = -1;
    fail(kErrs3, "Error: Failed to create file - ", fileName(file), errorText(status));
  }
  const int id = file.msgFileId;
  setMetaVersion(id, r);
  char syntax[kUidBufferSize] = {};
  syntaxUid(MC_TS_EXPLICIT_LITTLE_ENDIAN, syntax, r);
  setString(id, zyl::tags::kTransferSyntaxUid, syntax, r,
            "Error: Unable to set transfer syntax UID in group 2 elements ");
  char sopClassUid[kUidBufferSize] = {};
  status = MC_Get_UID_From_MergeCOM_Service(service.c_str(), sopClassUid, sizeof sopClassUid);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Unable to convert SOP Class name to SOP Class UID ", errorText(status));
  setString(id, zyl::tags::kMediaSopClassUid, sopClassUid, r, "Error: Unable to add media storage SOP Class UID ");
  char instanceUid[kUidBufferSize] = {};
  generateUid(instanceUid, sizeof instanceUid);
  setString(id, zyl::tags::kMediaSopInstanceUid, instanceUid, r,
            "Error: Unable to add media storage SOP instance UID ");
  setString(id, zyl::tags::kSopClassUid, sopClassUid, r, "Error: Unable to set SOP Class UID ");
  setString(id, zyl::tags::kSopInstanceUid, instanceUid, r, "Error: Unable to set SOP instance UID ");
  setString(id, zyl::tags::kSourceAeTitle, kAppName, r, "Error: Unable to set meta data AET ");
}

void cloneDataSet(FileInstance& file) {
  const Reporter r(ReportMode::Fail);
  openOnDemand(file, Source::Cloned, ReportMode::Fail);
  const int id = file.msgFileId;
  const MC_STATUS status = MC_Reset_Filename(id, fileName(file).c_str());
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to reset filename when cloning existing file ", fileName(file), errorText(status));
  char instanceUid[kUidBufferSize] = {};
  generateUid(instanceUid, sizeof instanceUid);
  setString(id, zyl::tags::kMediaSopInstanceUid, instanceUid, r,
            "Error: Unable to set meta data media storage SOP instance UID ");
  char value[kUidBufferSize] = {};
  configString(MC_CFG_IMPLEMENTATION_VERSION, value, r, "Error: Unable to get impl version config value.  ");
  setString(id, zyl::tags::kImplementationVersionName, value, r, "Error: Unable to set meta data impl version ");
  configString(MC_CFG_IMPLEMENTATION_CLASS_UID, value, r, "Error: Unable to get impl UID config value.  ");
  setString(id, zyl::tags::kImplementationClassUid, value, r, "Error: Unable to set meta data impl UID ");
  setString(id, zyl::tags::kSopInstanceUid, instanceUid, r, "Error: Unable to set SOP instance UID ");
  setString(id, zyl::tags::kSourceAeTitle, kAppName, r, "Error: Unable to set meta data AET ");
}

int writeStreamMeta(FileInstance& file, int syntax, ReportMode mode) {
  const Reporter r(mode);
  const int id = file.msgFileId;
  char uid[kUidBufferSize] = {};
  MC_STATUS status = MC_Get_Value_To_String(id, zyl::tags::kSopClassUid, sizeof uid, uid);
  if (status != MC_NORMAL_COMPLETION) return r.say(kErrs2, "Error: Unable to get SOP Class UID ", errorText(status)), 0;
  if (!setString(id, zyl::tags::kMediaSopClassUid, uid, r, "Error: Unable to add media storage SOP Class UID "))
    return 0;
  status = MC_Get_Value_To_String(id, zyl::tags::kSopInstanceUid, sizeof uid, uid);
  if (status != MC_NORMAL_COMPLETION)
    return r.say(kErrs2, "Error: Unable to get SOP instance UID ", errorText(status)), 0;
  if (!setString(id, zyl::tags::kMediaSopInstanceUid, uid, r,
                 "Error: Unable to set meta data media storage SOP instance UID "))
    return 0;
  char value[kUidBufferSize] = {};
  if (!syntaxUid(syntax, value, r)) return 0;
  if (!setString(id, zyl::tags::kTransferSyntaxUid, value, r,
                 "Error: Unable to set transfer syntax UID in group 2 elements "))
    return 0;
  if (!setMetaVersion(id, r)) return 0;
  if (!configString(MC_CFG_IMPLEMENTATION_VERSION, value, r, "Error: Unable to impl version config value.  ")) return 0;
  if (!setString(id, zyl::tags::kImplementationVersionName, value, r, "Error: Unable to set meta data impl version "))
    return 0;
  if (!configString(MC_CFG_IMPLEMENTATION_CLASS_UID, value, r, "Error: Unable to get impl class UID config value.  "))
    return 0;
  if (!setString(id, zyl::tags::kImplementationClassUid, value, r, "Error: Unable to set meta data impl class UID "))
    return 0;
  if (!setString(id, zyl::tags::kSourceAeTitle, kAppName, r, "Error: Unable to set meta data AET ")) return 0;
  return 1;
}

void commitDataSet(FileInstance& file) {
  if (!hasDataSet(file)) fail(kErrs1, "Error: File Id is null. ");
  // The data set is freed after the write, so the words stay swapped.
  if (currentSyntax(file) == MC_TS_EXPLICIT_BIG_ENDIAN) swapWordPairsOf32BitPixels(file);
  WriteContext ctx;
  const MC_STATUS status = MC_Write_File(file.msgFileId, &ctx, fileWriter);
  ctx.closeUnit();
  // A partly written file is not left behind as if it were a DICOM file.
  if (status != MC_NORMAL_COMPLETION && ctx.created) std::remove(ctx.target.c_str());
  // The data set is released whatever the outcome.
  const MC_STATUS freed = MC_Free_File(file.msgFileId);
  file.msgFileId = -1;
  if (status != MC_NORMAL_COMPLETION) fail(kErrs2, "Error: Failed to write file ", errorText(status));
  if (freed != MC_NORMAL_COMPLETION) fail(kErrs2, "Error: Failed to free file - ", errorText(freed));
}

}  // namespace orvo::file
