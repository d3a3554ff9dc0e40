// Init, Cleanup and Commit of ZYLffOrvo, and the open-on-demand step that the
// other methods share.
#include <cstddef>
#include <string>

#include "file_methods.h"
#include "file_object.h"
#include "method.h"
#include "startup.h"

namespace orvo {

void openFileOnDemand(FileInstance& file) { file::openOnDemand(file, file::Source::FileName, file::ReportMode::Fail); }

namespace file {
namespace {

struct InitKeywords {
  zyl::HostString clone;
  int cloneGiven;
  int32_t create;
  int createGiven;
  int32_t nonConforming;
  int32_t noPixelData;
  zyl::HostString sopClass;
  int sopClassGiven;
  static const HostKeyword table[];
};
const HostKeyword InitKeywords::table[] = {
    {"CLONE", HOST_KW_STRING, offsetof(InitKeywords, clone), offsetof(InitKeywords, cloneGiven)},
    {"CREATE", HOST_KW_INT, offsetof(InitKeywords, create), offsetof(InitKeywords, createGiven)},
    {"NON_CONFORMING", HOST_KW_INT, offsetof(InitKeywords, nonConforming), HOST_KW_NO_GIVEN},
    {"NO_PIXEL_DATA", HOST_KW_INT, offsetof(InitKeywords, noPixelData), HOST_KW_NO_GIVEN},
    {"SOP_CLASS", HOST_KW_STRING, offsetof(InitKeywords, sopClass), offsetof(InitKeywords, sopClassGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* initWorker(MethodCall<FileInstance, InitKeywords>& call) {
  FileInstance& self = call.self();
  const InitKeywords& kw = call.keywords();

  // A second Init on the same object must not lose the data set it holds.
  if (hasDataSet(self)) MC_Free_File(self.msgFileId);
  assign(self.appName, kAppName);
  self.appId = moduleApplicationId();
  nextObjectNumber();
  self.msgFileId = -1;
  self.nonConforming = kw.nonConforming != 0 ? 1 : 0;

  HostVar* nameArg = call.arg(1);
  HostEnsureSimple(nameArg);
  if (!nameArg->isScalarString()) fail(kErrs1, "Error: The filename argument must be a parameter.");
  assign(self.fileName, nameArg->text());
  const std::string name = fileName(self);

  self.fileMode = kw.cloneGiven ? kModeCloned : kModeOpened;
  if (kw.createGiven && kw.create != 0) self.fileMode = kModeCreated;
  if (kw.cloneGiven && kw.createGiven) fail(kErrs1, "Error: the clone and create keywords are mutually exclusive.");
  if (self.fileMode != kModeCreated && kw.sopClassGiven)
    fail(kErrs1, "Error: When providing the SOP_CLASS keyword you must also supply the Create keyword.");
  if (self.fileMode == kModeOpened && !HostFileExists(name.c_str()))
    fail(kErrs2, "Error: Unable to locate file (filename argument) ", name);
  if (self.fileMode != kModeOpened && HostFileExists(name.c_str()))
    fail(kErrs2, "Error: File already exists (filename argument)", name);
  if (self.fileMode == kModeCloned) {
    const std::string source = text(kw.clone);
    if (source.empty() || !HostFileExists(source.c_str()))
      fail(kErrs2, "Error: Unable to locate file (CLONE keyword) ", source);
    assign(self.fileCloned, source);
  }
  if (kw.sopClassGiven) assign(self.sopClass, text(kw.sopClass));
  if (self.fileMode == kModeCreated && !kw.sopClassGiven)
    fail(kErrs1, "Error: When creating a new file you must set the SOP_CLASS keyword.");
  self.noPixelData = kw.noPixelData != 0 ? 1 : 0;
  if (self.noPixelData && kw.createGiven) fail(kErrs1, "Error: The Create and No_Pixel_Data keywords are exclusive.");
  if (self.noPixelData && kw.cloneGiven) fail(kErrs1, "Error: The Clone and No_Pixel_Data keywords are exclusive.");

  switch (self.fileMode) {
    case kModeOpened:
      openOnDemand(self, Source::FileName, ReportMode::Fail);
      break;
    case kModeCreated:
      createDataSet(self);
      break;
    default:
      cloneDataSet(self);
      break;
  }
  return HostTempLong(1);
}

HostVar* cleanupWorker(MethodCall<FileInstance, NoKeywords>& call) {
  FileInstance& self = call.self();
  if (hasDataSet(self)) {
    const MC_STATUS status = MC_Free_File(self.msgFileId);
    self.msgFileId = -1;
    if (status != MC_NORMAL_COMPLETION)
      report(kErrs2, HOST_MSG_INFO, "Warning: Free file failed ", MC_Error_Message(status));
  }
  self.msgFileId = -1;
  return nullptr;
}

HostVar* commitWorker(MethodCall<FileInstance, NoKeywords>& call) {
  FileInstance& self = call.self();
  if (self.fileMode == kModeOpened) fail(kErrs2, "Error: Can not overwrite the original input file.", fileName(self));
  commitDataSet(self);
  return nullptr;
}

}  // namespace

MethodRows lifecycleMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVO::INIT", methodEntry<FileInstance, InitKeywords, initWorker>, 2, 2, HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVO::CLEANUP", methodEntry<FileInstance, NoKeywords, cleanupWorker>, 1, 1, 0),
      procedureRow("ZYLFFORVO::COMMIT", methodEntry<FileInstance, NoKeywords, commitWorker>, 1, 1, 0),
  };
  return kRows;
}

}  // namespace file
}  // namespace orvo
