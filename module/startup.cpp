#include "startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "ini_file.h"
#include "messages.h"
#include "toolkit/mc.h"
#include "zyl/host.h"

namespace orvo {

const char* const kUserDirReadme =
    "\n"
    "This directory is used to hold a local user copy of the: \n"
    "   1.) orvo configuration file. \n"
    "   2.) merge configuration files. \n"
    "   3.) merge log files. \n"
    "\n"
    "Each user of the ZYL Orvo functionality will have one of these \n"
    "directories. This directory or files in this directory can be deleted\n"
    "but local user configuration will be lost. When the ZYL Orvo \n"
    "functionality is used and this directory is not found it is created \n"
    "and populated with files from the system dir [zyl_install_dir]/bin.[platform]/orvo.\n"
    "When the ZYL Orvo functionality is used and files are missing \n"
    "from this directory the missing files are copied from the system dir\n"
    "[zyl_install_dir]/bin.[platform]/orvo. Always use the Orvo_Net UI\n"
    "to edit the orvocfg.xml file. Typically it is not necessary to edit\n"
    "the merge files in this directory but if you do edit these files be sure to\n"
    "make a back up copy first. \n"
    "\n"
    "Directory File List: \n"
    "orvocfg.xml - local user configuration (eg...Application Entities) \n"
    "merge.ini      - merge logging configuration, by defalut merge logging is disabled (except for errors)\n"
    "mergecom.app   - merge service lists \n"
    "mergecom.pro   - merge configuration \n"
    "mergecom.srv   - merge service definitions \n"
    "mrgcom3.dct    - merge data dictionary \n"
    "mrgcom3.msg    - merge message file \n"
    "Readme.txt     - this file \n"
    "merge.log      - local user merge log file...info/warnings/errors \n"
    "merge.L01      - backup merge log file \n"
    "\n"
    "NOTE:\n"
    "Files in this directory (local user orvo config) are NOT used by \n"
    "the Storage SCP Service.  The Storage SCP Service uses the configuration \n"
    "files found in the bin.xxx/orvo directory.  The bin.xxx/orvo directory \n"
    "holds the storscp.log and merge.log files for the Storage SCP service. \n";

namespace {

namespace cfg = zyl::config;

// What the module reported while starting, in order: kept so that a failed
// start can still be told to whoever tries to use the classes.
std::vector<std::string> gStartUpMessages;
bool gStartingUp = false;

// Reports as information, and notes the text (its parts joined as the
// message block's formats join them).
template <typename... Texts>
void inform(int code, const Texts&... texts) {
  report(code, HOST_MSG_INFO, texts...);
  if (!gStartingUp) return;
  std::string text;
  ((text += (text.empty() ? "" : ", "), text += detail::cstr(texts)), ...);
  gStartUpMessages.push_back(std::move(text));
}

constexpr size_t kPathBufferSize = 1025;
constexpr size_t kEnvironmentSize = 1024;
constexpr size_t kMessageSize = 512;
constexpr size_t kTitleSize = 32;  // terminator included
constexpr int kMaxApplicationTitles = 64;
// Files copied into the user folder are the user's alone: the configuration
// says where the user's storage client sends patient data.
constexpr mode_t kNewUserFileMode = 0600;
constexpr const char* kConfigFile = "orvocfg.xml";
constexpr const char* kModuleTitle = "ZYL_ORVO";

struct ApplicationRecord {
  std::string name;
  int id = 0;
};

int32_t gModuleApplicationId = -1;
// Slots fill from the first and are never emptied while the module is loaded.
std::array<std::optional<ApplicationRecord>, kMaxApplicationTitles> gApplications;

std::string pathFromRoot(const std::array<const char*, 2>& subdirs) {
  std::array<char, kPathBufferSize> buffer{};
  HostFilePathFromRoot(buffer.data(), buffer.size(), nullptr, subdirs.data(), static_cast<int>(subdirs.size()),
                       nullptr);
  return buffer.data();
}

// Paths are kept within the path buffer size the rest of the system assumes.
std::string joinPath(const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  if (path.size() >= kPathBufferSize) path.resize(kPathBufferSize - 1);
  return path;
}

bool isAcceptedInitStatus(MC_STATUS status) {
  return status == MC_NORMAL_COMPLETION || status == MC_LIBRARY_ALREADY_INITIALIZED;
}

// A file copied into the user folder now becomes readable and writable by
// its owner only; one that was there already loses write permission for
// group and others, and is never given more than it has.
void restrictUserFile(const std::string& path, bool copiedNow) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return;
  const mode_t mode = info.st_mode & 07777;
  const mode_t wanted = copiedNow ? (mode & kNewUserFileMode) : (mode & ~mode_t{S_IWGRP | S_IWOTH});
  if (wanted != mode) ::chmod(path.c_str(), wanted);
}

// The host gives "" when it could not make the folder; one it gave may still
// be unwritable.
bool isUsableFolder(const std::string& dir) {
  struct stat info {};
  return !dir.empty() && ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(dir.c_str(), W_OK | X_OK) == 0;
}

void reportNoUserFolder(const std::string& userDir) {
  inform(kErrs2,
         "Error: No usable per-user folder for the Orvo configuration files; ZYL_USER_DIR (or HOME) must name a "
         "folder this user can write (folder)",
         userDir);
}

// Loads the configuration at path and checks that it has a query SCU entity
// name, the test that a file is usable. Reports the reader's message.
bool loadUsableConfig(const std::string& path, cfg::ConfigDocument& document) {
  std::array<char, kMessageSize> message{};
  std::array<char, kMessageSize> value{};
  if (cfg::LoadConfig(path, document, message) != 0 ||
      cfg::ReadParam(document, "QRScuServiceAE", value, path, message) != 0) {
    inform(kErrs1, message.data());
    return false;
  }
  return true;
}

void reportCopyFailure(const char* file, const std::string& source, const std::string& destination) {
  inform(kErrs4, "Error: Failed to copy Orvo Cfg file: (file/src/dest) ", file, source, destination);
}

bool prepareUserConfig(const std::string& userDir, const std::string& systemDir) {
  const std::string userPath = joinPath(userDir, kConfigFile);
  const std::string systemPath = joinPath(systemDir, kConfigFile);
  bool isNew = false;
  if (!HostFileExists(userPath.c_str())) {
    HostCallFileCopy(systemPath.c_str(), userPath.c_str(), 0);
    isNew = true;
    if (!HostFileExists(userPath.c_str())) {
      reportCopyFailure(kConfigFile, systemPath, userPath);
      return false;
    }
  }
  restrictUserFile(userPath, isNew);
  cfg::ConfigDocument document;
  if (!loadUsableConfig(userPath, document)) return false;
  if (isNew) {
    std::array<char, kMessageSize> message{};
    if (cfg::SetParam(document, "SystemDir", systemDir, userPath, message) != 0) inform(kErrs1, message.data());
    if (cfg::WriteConfig(document, userPath, message) != 0) inform(kErrs1, message.data());
  }
  return true;
}

constexpr std::array<const char*, 6> kToolkitFiles = {"merge.ini",    "mergecom.app", "mergecom.pro",
                                                      "mergecom.srv", "mrgcom3.dct",  "mrgcom3.msg"};

// Copies the toolkit's files that the user directory lacks; *copied tells
// whether any was copied.
bool copyToolkitFiles(const std::string& userDir, const std::string& systemDir, bool* copied) {
  for (const char* file : kToolkitFiles) {
    const std::string destination = joinPath(userDir, file);
    const bool missing = !HostFileExists(destination.c_str());
    if (missing) {
      *copied = true;
      const std::string source = joinPath(systemDir, file);
      HostCallFileCopy(source.c_str(), destination.c_str(), 0);
      if (!HostFileExists(destination.c_str())) {
        reportCopyFailure(file, source, destination);
        return false;
      }
    }
    restrictUserFile(destination, missing);
  }
  return true;
}

// Points the toolkit's own files at the user directory, in this order; the
// first failed write fails the step.
bool pointToolkitFilesAt(const std::string& userDir) {
  const std::string ini = joinPath(userDir, "merge.ini");
  const std::string profile = joinPath(userDir, "mergecom.pro");
  struct Entry {
    const std::string& file;
    const char* section;
    const char* key;
    std::string value;
  };
  const Entry entries[] = {
      {ini, "MergeCOM3", "MERGECOM_3_PROFILE", profile},
      {ini, "MergeCOM3", "MERGECOM_3_SERVICES", joinPath(userDir, "mergecom.srv")},
      {ini, "MergeCOM3", "MERGECOM_3_APPLICATIONS", joinPath(userDir, "mergecom.app")},
      {ini, "MergeCOM3", "LOG_FILE", joinPath(userDir, "merge.log")},
      {profile, "MESSAGE_PARMS", "DICTIONARY_FILE", joinPath(userDir, "mrgcom3.dct")},
      {profile, "MESSAGE_PARMS", "MSG_INFO_FILE", joinPath(userDir, "mrgcom3.msg")},
      {profile, "MESSAGE_PARMS", "TEMP_FILE_DIRECTORY", userDir + "/"},
  };
  for (const Entry& e : entries)
    if (!writeIniValue(e.file, e.section, e.key, e.value)) return false;
  return true;
}

void setEnvironment(const char* prefix, const std::string& value) {
  std::string assignment = std::string(prefix) + value;
  if (assignment.size() >= kEnvironmentSize) assignment.resize(kEnvironmentSize - 1);
  HostSetEnv(assignment.c_str());
}

}  // namespace

std::string userDirectory() {
  std::string dir = HostCallUserAppDir("zyl", "Orvo Configuration Files", "orvo",
                                       "Local Copy of Orvo Configuration Files", kUserDirReadme, "1.00", "510");
  if (dir.size() >= kPathBufferSize) dir.resize(kPathBufferSize - 1);
  return dir;
}

std::string systemDirectory() {
  std::string dir = pathFromRoot({"resource", "orvo"});
  if (!dir.empty()) dir.pop_back();  // the trailing separator
  return dir;
}

std::string programDirectory() { return pathFromRoot({"bin", "bin.x86_64"}); }

std::string configFilePath(bool system) {
  const std::string dir = system ? systemDirectory() : userDirectory();
  // Without a folder there is no file, rather than one at the root.
  return dir.empty() ? std::string() : joinPath(dir, kConfigFile);
}

std::string startUpMessages() {
  std::string text;
  for (const std::string& message : gStartUpMessages) text += (text.empty() ? "" : " ") + message;
  return text;
}

bool startUp() {
  gStartUpMessages.clear();
  gStartingUp = true;
  struct EndOfStartUp {
    ~EndOfStartUp() { gStartingUp = false; }
  } endOfStartUp;
  if (gModuleApplicationId != -1) {
    inform(kErrs1, "Warning: InitDicomToolkit called when appid is not 0. ");
    return true;
  }
  const std::string userDir = userDirectory();
  const std::string systemDir = systemDirectory();
  if (!isUsableFolder(userDir)) {
    reportNoUserFolder(userDir);
    return false;
  }
  if (!prepareUserConfig(userDir, systemDir)) {
    inform(kErrs1, "Error: Local xml config file initialization errors.");
    return false;
  }
  bool copied = false;
  if (!copyToolkitFiles(userDir, systemDir, &copied)) {
    inform(kErrs1, "Error: Local merge config file initialization errors.");
    return false;
  }
  if (copied && !pointToolkitFilesAt(userDir)) {
    inform(kErrs1, "Error: Local merge config file update errors.");
    return false;
  }
  setEnvironment("ZYL_ORVO_CFG_DIR=", userDir);
  setEnvironment("SSMPATH=", programDirectory());
  if (std::getenv("ZYL_ORVO_CFG_DIR") == nullptr) {
    inform(kErrs1, "Error: ZYL_ORVO_CFG_DIR envirionment variable not set.");
    return false;
  }
  MC_STATUS status = MC_Set_MergeINI(joinPath(userDir, "merge.ini").c_str());
  if (!isAcceptedInitStatus(status)) {
    inform(kErrs2, "Error: MC_Set_MergeINI failed ", MC_Error_Message(status));
    return false;
  }
  status = MC_Library_Initialization(nullptr, nullptr, nullptr);
  if (!isAcceptedInitStatus(status)) {
    inform(kErrs2, "Error: MC_Library_Initialization failed ", MC_Error_Message(status));
    return false;
  }
  int id = 0;
  status = MC_Register_Application(&id, kModuleTitle);
  if (status != MC_NORMAL_COMPLETION)
    report(kErrs3, HOST_MSG_REPORT, "Error: MC_Register_Application failed, AppName = ", kModuleTitle,
           MC_Error_Message(status));
  gModuleApplicationId = id;
  return true;
}

int32_t moduleApplicationId() { return gModuleApplicationId; }

int refreshUserConfig() {
  const std::string userDir = userDirectory();
  if (!isUsableFolder(userDir)) {
    reportNoUserFolder(userDir);
    return 0;
  }
  const std::string userPath = joinPath(userDir, kConfigFile);
  const std::string systemPath = configFilePath(true);
  // The system copy is read and checked whole before it replaces anything, so
  // a missing, unreadable or broken one leaves the user's copy as it was.
  cfg::ConfigDocument document;
  if (!loadUsableConfig(systemPath, document)) return 0;
  // Unchanged since loading, the document is written byte for byte, through
  // a temporary file renamed over the user's copy (which keeps its mode).
  const bool isNew = !HostFileExists(userPath.c_str());
  std::array<char, kMessageSize> message{};
  if (cfg::WriteConfig(document, userPath, message) != 0) {
    reportCopyFailure(kConfigFile, systemPath, userPath);
    return 0;
  }
  restrictUserFile(userPath, isNew);
  return 1;
}

int readUserApplEntity(const std::string& name, cfg::CfgApplEntity& entity) {
  const std::string path = configFilePath(false);
  std::array<char, kMessageSize> message{};
  cfg::ConfigDocument document;
  int status = cfg::LoadConfig(path, document, message);
  if (status == 0) status = cfg::ReadApplEntity(document, name, entity, path, message);
  if (status != 0) report(kErrs1, HOST_MSG_INFO, message.data());
  return status;
}

int readUserParam(const std::string& name, std::span<char> value) {
  const std::string path = configFilePath(false);
  std::array<char, kMessageSize> message{};
  cfg::ConfigDocument document;
  int status = cfg::LoadConfig(path, document, message);
  if (status == 0) status = cfg::ReadParam(document, name, value, path, message);
  if (status != 0) report(kErrs1, HOST_MSG_INFO, message.data());
  return status;
}

int applicationIdFor(const std::string& title) {
  auto& slots = gApplications;
  size_t slot = 0;
  for (; slot < slots.size() && slots[slot]; ++slot)
    if (slots[slot]->name == title) return slots[slot]->id;
  if (slot == slots.size()) fail(kErrs1, "Error: Ran out of App Id structures.");
  ApplicationRecord& record = slots[slot].emplace();
  record.name = title.substr(0, kTitleSize - 1);
  if (title.empty()) fail(kErrs1, "Error: Invalid String length");
  int id = 0;
  const MC_STATUS status = MC_Register_Application(&id, title.c_str());
  if (status != MC_NORMAL_COMPLETION)
    report(kErrs3, HOST_MSG_REPORT, "Error: MC_Register_Application failed, AppName = ", title,
           MC_Error_Message(status));
  // Kept even after a failed registration: later requests for the title get
  // the same value without registering again.
  record.id = id;
  return id;
}

}  // namespace orvo
