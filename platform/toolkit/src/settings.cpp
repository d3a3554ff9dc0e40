// Start-up, configuration values, the service table and the dictionary.
#include "settings.h"
#include "net/net.h"

#include "access.h"
#include "dcmtk.h"
#include "limits.h"
#include "tables.h"

#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace zyl::toolkit {
namespace {

std::mutex configMutex;  // guards the values and the start-up
Configuration config;
std::string pendingMergeIni;
std::atomic<bool> initialized{false};

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string strip(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string current;
  for (char c : text + ",") {
    if (c == ',') {
      if (auto item = strip(current); !item.empty()) items.push_back(item);
      current.clear();
    } else {
      current += c;
    }
  }
  return items;
}

// Copies `text` into a caller's buffer, or reports that it does not fit.
MC_STATUS copyOut(const std::string& text, char* buffer, int bufferSize) {
  if (!buffer) return MC_NULL_POINTER_PARM;
  if (bufferSize <= 0 || text.size() + 1 > static_cast<std::size_t>(bufferSize)) return MC_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return MC_NORMAL_COMPLETION;
}

void loadServices(Configuration& c) {
  const IniFile file = IniFile::load(c.servicesPath, MC_CONFIG_INFO_ERROR);
  for (const auto& [name, value] : file.section("SYNTAX_LISTS")) c.syntaxLists[name] = splitList(value);
  for (const auto& [name, value] : file.section("SERVICES")) {
    const auto fields = splitList(value);
    if (fields.size() != 2 || !c.syntaxLists.count(fields[1])) fail(MC_CONFIG_INFO_ERROR);
    c.services.push_back({name, fields[0], fields[1]});
  }
  if (c.services.empty()) fail(MC_CONFIG_INFO_MISSING);
}

void loadApplications(Configuration& c) {
  const IniFile file = IniFile::load(c.applicationsPath, MC_CONFIG_INFO_ERROR);
  for (const auto& listName : splitList(file.value("SERVICE_LISTS", "NAMES").value_or(""))) {
    auto& services = c.serviceLists[listName];
    for (const auto& [key, value] : file.section(listName)) {
      (void)key;
      if (!findServiceByName(value)) fail(MC_CONFIG_INFO_ERROR);
      services.push_back(value);
    }
  }
}

// The dictionary files DCMTK loads by itself on first use: those its
// environment variable names, else its built-in default path.
std::vector<std::string> filesDcmtkLoaded() {
  const char* named = std::getenv(DCM_DICT_ENVIRONMENT_VARIABLE);
  const std::string list = named != nullptr && *named != '\0' ? named : DCM_DICT_DEFAULT_PATH;
  std::vector<std::string> files;
  std::string::size_type start = 0;
  for (;;) {
    const auto end = list.find(ENVIRONMENT_PATH_SEPARATOR, start);
    const std::string file = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!file.empty()) files.push_back(file);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return files;
}

bool sameFiles(const std::vector<std::string>& ours, const std::vector<std::string>& theirs) {
  if (ours.size() != theirs.size()) return false;
  std::error_code error;
  for (std::size_t i = 0; i < ours.size(); ++i)
    if (!std::filesystem::equivalent(ours[i], theirs[i], error) || error) return false;
  return true;
}

void loadDictionary(Configuration& c) {
  std::ifstream in(c.dictionaryPath);
  if (!in) fail(MC_DDFILE_ERROR);
  const std::string directory = std::filesystem::path(c.dictionaryPath).parent_path().string();
  for (std::string line; std::getline(in, line);) {
    line = strip(line);
    if (line.empty() || line[0] == '#') continue;
    std::filesystem::path path(line);
    if (path.is_relative()) path = std::filesystem::path(directory) / path;
    c.dictionaryFiles.push_back(path.string());
  }
  if (c.dictionaryFiles.empty()) fail(MC_DDFILE_ERROR);
  // Replace whatever DCMTK loaded from its environment with our files,
  // unless that is what it loaded: reading them twice doubles start-up.
  DcmDataDictionary& dictionary = dcmDataDict.wrlock();
  if (dictionary.isDictionaryLoaded() && sameFiles(c.dictionaryFiles, filesDcmtkLoaded())) {
    dcmDataDict.wrunlock();
    return;
  }
  dictionary.clear();
  bool loaded = true;
  for (const auto& file : c.dictionaryFiles) loaded = dictionary.loadDictionary(file.c_str()) && loaded;
  dcmDataDict.wrunlock();
  if (!loaded) fail(MC_DDFILE_ERROR);
}

void loadConfiguration(Configuration& c) {
  const IniFile mergeIni = IniFile::load(c.mergeIniPath, MC_NO_MERGE_INI);
  auto required = [&](const char* key) {
    auto value = mergeIni.path("MergeCOM3", key);
    if (!value) fail(MC_MISSING_CONFIG_PARM);
    return *value;
  };
  c.profilePath = required("MERGECOM_3_PROFILE");
  c.servicesPath = required("MERGECOM_3_SERVICES");
  c.applicationsPath = required("MERGECOM_3_APPLICATIONS");
  c.logPath = mergeIni.path("MergeCOM3", "LOG_FILE").value_or("");

  const IniFile profile = IniFile::load(c.profilePath, MC_NO_PROFILE);
  auto profilePath = [&](const char* key) {
    auto value = profile.path("MESSAGE_PARMS", key);
    if (!value) fail(MC_MISSING_CONFIG_PARM);
    return *value;
  };
  c.dictionaryPath = profilePath("DICTIONARY_FILE");
  c.messageInfoPath = profilePath("MSG_INFO_FILE");
  c.tempDirectory = profilePath("TEMP_FILE_DIRECTORY");
  for (const auto& row : tables::configValues())
    c.values[row.number] = profile.value(row.section, row.key).value_or(row.defaultValue);
  if (!std::ifstream(c.messageInfoPath)) fail(MC_MSGFILE_ERROR);

  loadServices(c);
  loadDictionary(c);
}

}  // namespace

// ---- IniFile ----------------------------------------------------------------

IniFile IniFile::load(const std::string& path, MC_STATUS failure) {
  std::ifstream in(path);
  if (!in) fail(failure);
  IniFile file;
  file.directory_ = std::filesystem::path(path).parent_path().string();
  std::string section;
  for (std::string line; std::getline(in, line);) {
    if (line.size() > limits::kMaxConfigLineLength) fail(MC_CONFIG_INFO_ERROR);
    line = strip(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') fail(MC_CONFIG_INFO_ERROR);
      section = lowered(strip(line.substr(1, line.size() - 2)));
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) fail(MC_CONFIG_INFO_ERROR);
    file.sections_[section].emplace_back(strip(line.substr(0, equals)), strip(line.substr(equals + 1)));
  }
  return file;
}

std::optional<std::string> IniFile::value(const std::string& section, const std::string& key) const {
  auto it = sections_.find(lowered(section));
  if (it == sections_.end()) return std::nullopt;
  for (const auto& [name, value] : it->second)
    if (lowered(name) == lowered(key)) return value;
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniFile::section(const std::string& name) const {
  auto it = sections_.find(lowered(name));
  return it == sections_.end() ? std::vector<std::pair<std::string, std::string>>{} : it->second;
}

std::optional<std::string> IniFile::path(const std::string& section, const std::string& key) const {
  auto text = value(section, key);
  if (!text || text->empty()) return std::nullopt;
  std::filesystem::path path(*text);
  if (path.is_relative()) path = std::filesystem::path(directory_) / path;
  return path.string();
}

// ---- Shared look-ups ----------------------------------------------------------

const Configuration& configuration() { return config; }

const Service* findServiceByName(const std::string& name) {
  for (const auto& service : config.services)
    if (service.name == name) return &service;
  return nullptr;
}

const Service* findServiceByUid(const std::string& uid) {
  for (const auto& service : config.services)
    if (service.sopClassUid == uid) return &service;
  return nullptr;
}

bool libraryInitialized() { return initialized.load(std::memory_order_acquire); }

void requireInitialized() {
  if (!libraryInitialized()) fail(MC_LIBRARY_NOT_INITIALIZED);
}

}  // namespace zyl::toolkit

using namespace zyl::toolkit;

extern "C" {

const char* MC_Error_Message(MC_STATUS status) {
  // A network failure's own detail (the peer's reason, the unreachable
  // host and port) says more than the status's fixed text.
  if (const char* detail = zyl::toolkit::net::lastDetail(status)) return detail;
  const auto* row = tables::findStatus(status);
  return row ? row->text : "Unknown status";
}

const char* MC_Status_Name(MC_STATUS status) {
  const auto* row = tables::findStatus(status);
  return row ? row->name : nullptr;
}

const char* MC_Transfer_Syntax_Name(MC_TRANSFER_SYNTAX syntax) { return tables::syntaxName(syntax); }

MC_STATUS MC_Get_Transfer_Syntax_Coding(MC_TRANSFER_SYNTAX syntax, MC_PIXEL_CODING* coding, MC_CODEC_SUPPORT* codec) {
  if (!coding || !codec) return MC_NULL_POINTER_PARM;
  const auto* row = tables::findSyntax(syntax);
  if (!row) return MC_INVALID_TRANSFER_SYNTAX;
  *coding = row->coding;
  *codec = row->codec;
  return MC_NORMAL_COMPLETION;
}

const char* MC_VR_Name(MC_VR vr) {
  for (const auto& row : tables::vrs())
    if (row.code == vr) return row.name;
  return nullptr;
}

MC_VR MC_VR_From_Name(const char* name) {
  if (!name) return MC_VR_UNKNOWN;
  for (const auto& row : tables::vrs())
    if (std::strcmp(row.name, name) == 0) return row.code;
  return MC_VR_UNKNOWN;
}

MC_STATUS MC_Set_MergeINI(const char* iniPath) {
  return guarded([&] {
    if (!iniPath || !*iniPath) return MC_NULL_POINTER_PARM;
    std::lock_guard lock(configMutex);
    if (initialized) return MC_LIBRARY_ALREADY_INITIALIZED;
    pendingMergeIni = iniPath;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Library_Initialization(const void*, const void*, const void*) {
  return guarded([&] {
    std::lock_guard lock(configMutex);
    if (initialized) return MC_LIBRARY_ALREADY_INITIALIZED;
    if (pendingMergeIni.empty()) return MC_NO_MERGE_INI;
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);  // statuses report, DCMTK stays quiet
    Configuration loaded;
    loaded.mergeIniPath = pendingMergeIni;
    config = loaded;  // the service look-ups below read the shared table
    loadConfiguration(config);
    loadApplications(config);
    initialized.store(true, std::memory_order_release);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Register_Application(int* applicationId, const char* applicationTitle) {
  return guarded([&] {
    requireInitialized();
    if (!applicationId || !applicationTitle) return MC_NULL_POINTER_PARM;
    const std::string title = applicationTitle;
    if (title.empty() || title.size() > 16) return MC_INVALID_LENGTH_FOR_TITLE;
    if (title.find('\\') != std::string::npos || strip(title).empty()) return MC_INVALID_APPLICATION_TITLE;
    std::lock_guard lock(configMutex);  // one registration per title, also across threads
    if (auto existing = IdTable::instance().findApplication(title)) {
      *applicationId = *existing;
      return MC_ALREADY_REGISTERED;
    }
    auto id = IdTable::instance().add({IdKind::Application, nullptr, nullptr, title});
    if (!id) return MC_NO_FREE_ID;
    *applicationId = *id;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_String_Config_Value(MC_CONFIG_PARAMETER parameter, int bufferSize, char* buffer) {
  return guarded([&] {
    requireInitialized();
    if (!tables::findConfig(parameter)) return MC_INVALID_PARAMETER_NAME;
    std::lock_guard lock(configMutex);
    return copyOut(config.values[parameter], buffer, bufferSize);
  });
}

MC_STATUS MC_Set_Int_Config_Value(MC_CONFIG_PARAMETER parameter, int value) {
  return guarded([&] {
    requireInitialized();
    const auto* row = tables::findConfig(parameter);
    if (!row) return MC_INVALID_PARAMETER_NAME;
    if (row->type != tables::ConfigType::Integer) return MC_INVALID_DATA_TYPE;
    if (parameter == MC_CFG_TCPIP_LISTEN_PORT && (value <= 0 || value > 65535)) return MC_INVALID_PORT_NUMBER;
    std::lock_guard lock(configMutex);
    config.values[parameter] = std::to_string(value);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Cleanup_Memory(int) { return MC_NORMAL_COMPLETION; }

MC_STATUS MC_Get_MergeCOM_Service(const char* sopClassUid, char* serviceName, int bufferSize) {
  return guarded([&] {
    requireInitialized();
    if (!sopClassUid) return MC_NULL_POINTER_PARM;
    std::string uid = sopClassUid;
    while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.pop_back();
    const Service* service = findServiceByUid(uid);
    if (!service) return MC_INVALID_SOP_CLASS_UID;
    return copyOut(service->name, serviceName, bufferSize);
  });
}

MC_STATUS MC_Get_UID_From_MergeCOM_Service(const char* serviceName, char* uid, int bufferSize) {
  return guarded([&] {
    requireInitialized();
    if (!serviceName) return MC_NULL_POINTER_PARM;
    const Service* service = findServiceByName(serviceName);
    if (!service) return MC_INVALID_SERVICE_NAME;
    return copyOut(service->sopClassUid, uid, bufferSize);
  });
}

MC_STATUS MC_Get_Transfer_Syntax_From_Enum(MC_TRANSFER_SYNTAX syntax, char* uid, int bufferSize) {
  return guarded([&] {
    auto xfer = tables::dcmtkFromSyntax(syntax);
    if (!xfer) return MC_INVALID_TRANSFER_SYNTAX;
    return copyOut(DcmXfer(*xfer).getXferID(), uid, bufferSize);
  });
}

MC_STATUS MC_Get_Enum_From_Transfer_Syntax(const char* uid, MC_TRANSFER_SYNTAX* syntax) {
  return guarded([&] {
    if (!uid || !syntax) return MC_NULL_POINTER_PARM;
    auto number = tables::syntaxFromUid(uid);
    if (!number) return MC_INVALID_TRANSFER_SYNTAX;
    *syntax = *number;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_Tag_Info(uint32_t tag, char* description, int bufferSize) {
  return guarded([&] {
    requireInitialized();
    if (!description || bufferSize <= 0) return MC_NULL_POINTER_PARM;
    description[0] = '\0';
    const DcmTagKey key = tagKey(tag);
    std::string name;
    if (key.getElement() == 0x0000) {
      name = "Group Length";
    } else {
      DcmTag entry(key);
      if (entry.getEVR() == EVR_UNKNOWN) return MC_INVALID_TAG;
      const char* tagName = entry.getTagName();
      if (!tagName || std::strcmp(tagName, DcmTag_ERROR_TagName) == 0) return MC_INVALID_TAG;
      name = tagName;
    }
    // A short buffer gets the name cut, as descriptions are for display.
    std::strncpy(description, name.c_str(), static_cast<std::size_t>(bufferSize) - 1);
    description[bufferSize - 1] = '\0';
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"
