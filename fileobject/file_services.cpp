#include "fileobject/file_services.h"

#include <utility>

#include "file_object.h"
#include "startup.h"

namespace orvo::file {
namespace {

// A file-object record of our own, never seen by the host; its strings go
// with it, and so does its data set unless it was handed on.
class TransientFile {
 public:
  TransientFile(const std::string& path, const char* appName, int32_t mode, int32_t messageId) {
    record_.msgFileId = messageId;
    assign(record_.fileName, path);
    assign(record_.appName, appName);
    record_.appId = moduleApplicationId();
    record_.fileMode = mode;
  }
  ~TransientFile() {
    if (record_.msgFileId > 0) MC_Free_File(record_.msgFileId);
    for (zyl::HostString* s : {&record_.fileName, &record_.appName, &record_.fileCloned, &record_.sopClass})
      HostStringDelete(s);
  }
  TransientFile(const TransientFile&) = delete;
  TransientFile& operator=(const TransientFile&) = delete;
  FileInstance& get() { return record_; }
  // The data set, which the record no longer releases.
  int release() { return std::exchange(record_.msgFileId, -1); }

 private:
  FileInstance record_{};
};

}  // namespace

HostVar* readMessageAttribute(int messageId, const std::string& tagString) {
  FileInstance record{};
  record.msgFileId = messageId;
  struct Release {
    FileInstance& f;
    ~Release() { HostStringDelete(&f.fileName); }
  } release{record};
  assign(record.fileName, "");
  return readAttribute(record, 0, tagString);
}

int openFile(const std::string& path, const char* appName) {
  TransientFile file(path, appName, kModeOpened, -1);
  if (!openOnDemand(file.get(), Source::FileName, ReportMode::Inform)) return -1;
  return file.release();
}

void convertFile(int messageId, const std::string& sourcePath, const std::string& targetPath, const std::string& uid,
                 const char* appName) {
  TransientFile record(sourcePath, appName, kModeCloned, messageId);
  MC_Reset_Filename(messageId, targetPath.c_str());
  // The change writes the data set to targetPath and releases it.
  convertTransferSyntax(record.get(), uid, false);
}

}  // namespace orvo::file
