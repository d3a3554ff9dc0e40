// Start-up of the storage service: the host for its directories, the log,
// the settings of the system copy of orvocfg.xml, and the toolkit with the
// service's own application entity.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "store.h"
#include "state.h"
#include "toolkit/mc.h"
#include "zyl/host.h"

namespace zyl::storscp {

namespace cfg = zyl::config;

namespace {

constexpr int kHostInitFlags = 0x1000;
constexpr std::size_t kMessageSize = 512;

void IgnoreHostOutput(int, const char*, int) {}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Text(std::span<const char> buffer) {
  return std::string(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
}

bool InitialiseToolkit(ServiceState& s) {
  const std::string mergeIni = s.configDir + "/merge.ini";
  if (::setenv("ZYL_ORVO_CFG_DIR", s.configDir.c_str(), 1) != 0) return false;
  if (::setenv("SSMPATH", s.hostDir.c_str(), 1) != 0) return false;
  if (std::getenv("ZYL_ORVO_CFG_DIR") == nullptr) return false;
  MC_STATUS status = MC_Set_MergeINI(mergeIni.c_str());
  if (status != MC_NORMAL_COMPLETION && status != MC_LIBRARY_ALREADY_INITIALIZED) return false;
  status = MC_Library_Initialization(nullptr, nullptr, nullptr);
  if (status != MC_NORMAL_COMPLETION && status != MC_LIBRARY_ALREADY_INITIALIZED) return false;
  status = MC_Set_Int_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, s.ownEntity.Port);
  if (status != MC_NORMAL_COMPLETION)
    LogLine("Failed to set merge tcp/ip listen port. err(%s)", MC_Error_Message(status));
  status = MC_Register_Application(&s.applicationId, s.ownEntity.AET.c_str());
  if (status != MC_NORMAL_COMPLETION) {
    LogLine("Failed to register application with merge lib. err(%s)", MC_Error_Message(status));
    return false;
  }
  return true;
}

// The configuration document, released on every path.
struct ConfigScope {
  cfg::ConfigDocument document;
  const std::string& path;
  ~ConfigScope() {
    char message[kMessageSize];
    cfg::ReleaseConfig(document, path, message);
  }
};

bool ReadSettings(ServiceState& s) {
  char message[kMessageSize];
  const char* file = s.configFile.c_str();
  ConfigScope scope{cfg::ConfigDocument{}, s.configFile};
  auto& doc = scope.document;
  if (cfg::LoadConfig(s.configFile, doc, message) != 0) {
    LogLine("Failed to load xml config file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  char aeName[kAeNameSize];
  if (cfg::ReadParam(doc, "StorScpServiceAE", aeName, s.configFile, message) != 0) {
    LogLine("Failed to read StorScpServiceAE from confg file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  if (cfg::ReadApplEntity(doc, Text(aeName), s.ownEntity, s.configFile, message) != 0) {
    LogLine("Failed to read VEL_AE_STOR_SCP application entity from xml config file. cfg file(%s), err(%s)", file,
            message);
    return false;
  }
  const auto& own = s.ownEntity;
  LogLine("Local Storage Scp Service Config: ae name(%s), aet(%s), host(%s), port(%d) service list(%s), type(%s)",
          own.Name.c_str(), own.AET.c_str(), own.Hostname.c_str(), own.Port, own.ServiceList.c_str(),
          own.ServiceType.c_str());
  int count = 0;
  if (cfg::CountApplEntities(doc, count, s.configFile, message) != 0) {
    LogLine("Failed to read application entity count from xml config file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  if (count > 0) {
    s.entities.assign(static_cast<std::size_t>(count), cfg::CfgApplEntity{});
    int read = 0;
    if (cfg::ReadApplEntities(doc, s.entities, read, false, "", s.configFile, message) != 0) {
      LogLine("Failed to read applicaiton entities from xml config file. cfg file(%s), err(%s)", file, message);
      return false;
    }
    s.entities.resize(static_cast<std::size_t>(read));
  }
  char acceptAny[kShortParamSize];
  if (cfg::ReadParam(doc, "AcceptAny", acceptAny, s.configFile, message) != 0) {
    LogLine("Failed to read AcceptAny from xml config file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  s.acceptAny = Text(acceptAny);
  char extension[kShortParamSize];
  if (cfg::ReadParam(doc, "FileExtension", extension, s.configFile, message) != 0) {
    LogLine("Failed to read FileExtension from xml config file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  s.fileExtension = Text(extension);
  char storageDir[kPathSize];
  if (cfg::ReadParam(doc, "StorScpDir", storageDir, s.configFile, message) != 0) {
    LogLine("Failed to read StorScpDir from xml config file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  char ctrlPort[kCtrlPortSize];
  if (cfg::ReadParam(doc, "StorScpCtrlPort", ctrlPort, s.configFile, message) != 0) {
    LogLine("Failed to read StorScpCtrlPort from xml config file. cfg file(%s), err(%s)", file, message);
    return false;
  }
  std::string storage = Text(storageDir);
  if (storage.empty()) {
    LogLine("Error: StorScpDir config param is not set. cfg file(%s), err(%s)", file, "");
    return false;
  }
  // A relative storage directory lies in the folder of the file that named it.
  if (storage.front() != '/') storage = s.configDir + "/" + storage;
  s.storageDir = WithoutTrailingSeparator(storage);
  LogLine("StorScpDir = (%s). cfg file(%s)", s.storageDir.c_str(), file);
  s.depotDir = s.storageDir + "/depot";
  return true;
}

}  // namespace

bool StartUp() {
  ServiceState& s = State();
  s.log.close();
  s.initialised = false;
  s.entities.clear();
  s.ownEntity = cfg::CfgApplEntity{};
  s.applicationId = 0;
  s.threadCount = 0;

  HostRegisterCallback(IgnoreHostOutput);
  if (HostInitialize(kHostInitFlags, 0, nullptr) != 1) return false;
  s.hostDir = HostDirectoryPath(HOST_DIR_ROOT, "");
  const char* const subdirs[] = {"resource", "orvo"};
  s.configDir = WithoutTrailingSeparator(HostSubdirectoryPath(HOST_DIR_ROOT, subdirs, 2));
  s.configFile = s.configDir + "/orvocfg.xml";
  s.logPaths[0] = s.configDir + "/storscp1.log";
  s.logPaths[1] = s.configDir + "/storscp2.log";

  s.log.open(s.logPaths[0], s.logPaths[1]);
  LogLine("--------------------------------------------------------------");
  LogLine("ZYL Orvo Storage SCP Service Started");
  // A peer that goes away mid-write must not end the process.
  ::signal(SIGPIPE, SIG_IGN);
  HostStartupOption(1);

  if (!ReadSettings(s)) return false;
  RemoveStaleDepotFiles(s.depotDir);
  if (!InitialiseToolkit(s)) {
    LogLine("Error: Merge Initilization Failed.");
    return false;
  }
  s.initialised = true;
  return true;
}

}  // namespace zyl::storscp
