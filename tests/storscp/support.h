// Test support for the storage service: a temporary installation tree, the
// service run as a real process, DCMTK tools as callers, and a raw DICOM
// peer for requests that no well-behaved caller sends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace storscp_test {

namespace fs = std::filesystem;

using namespace zyl::test;  // temporary folders, processes and bounded waits

// Settings of the test orvocfg.xml; an element whose value is nullopt is left out.
struct Settings {
  int port = 0;
  std::optional<std::string> acceptAny = "no";
  std::optional<std::string> fileExtension = "dcm";
  std::optional<std::string> storScpDir = "storage";
  std::optional<std::string> storScpCtrlPort = "11113";
  std::string ownAet = "ZYL_STOR_SCP";
  std::vector<std::string> knownAets = {"ZYL_STOR_SCU", "KNOWN_SCU"};
};

// The settings on a free port, taking callers of any title when `acceptAny` is "yes".
Settings OnFreePort(std::optional<std::string> acceptAny = "no");

// <root>/resource/orvo with the toolkit's files and an orvocfg.xml.
class Installation {
 public:
  explicit Installation(const Settings& settings);
  const fs::path& root() const { return dir_.path(); }
  fs::path systemDir() const { return root() / "resource" / "orvo"; }
  fs::path storageDir() const;  // where the configured StorScpDir lands
  fs::path registry() const { return root() / "registry"; }
  void writeConfig(const std::string& xml) const;
  std::string log() const;  // both log files, the older first
  const Settings& settings() const { return settings_; }

 private:
  TempDir dir_;
  Settings settings_;
};
std::string ConfigXml(const Settings& settings);

// The service program run in the foreground; stopped with SIGTERM, then
// killed, when the object goes.
class ServiceProcess {
 public:
  explicit ServiceProcess(const Installation& installation, std::vector<std::string> extraEnv = {});
  pid_t pid() const { return process_.pid(); }
  // Waits until the port takes connections.
  bool waitListening(std::chrono::milliseconds limit = std::chrono::seconds(15)) const {
    return WaitListening(port_, limit);
  }
  // Waits for the process to end; its exit status, or nullopt on time-out.
  std::optional<int> waitExit(std::chrono::milliseconds limit) { return process_.waitExit(limit); }
  void stop() { process_.stop(); }  // SIGTERM

 private:
  int port_ = 0;
  ChildProcess process_;
};

// An installation with the service started on it; the test waits for
// service.waitListening() before it calls.
struct RunningService {
  explicit RunningService(const Settings& settings) : inst(settings), service(inst) {}
  int port() const { return inst.settings().port; }
  Installation inst;
  ServiceProcess service;
};

// dcmdump of a file without its meta group: every data set line, long values in full.
std::string DataSetDump(const fs::path& file);
// The lines of group 0002 in dcmdump's output.
std::string MetaDump(const fs::path& file);

// A process's open descriptors, and a numeric field of /proc/<pid>/status
// ("Threads", "VmRSS" in KiB); -1 when it cannot be read.
std::size_t OpenDescriptors(pid_t pid);
long ProcessStatus(pid_t pid, const std::string& field);

// Files in a folder (not recursing), by name.
std::vector<std::string> FileNames(const fs::path& dir);
// The objects being written (or left behind) in a storage folder's depot.
std::vector<std::string> DepotFiles(const fs::path& storageDir);

// Program paths from the build.
fs::path ServiceProgram();
fs::path SystemResources();
fs::path SampleFiles();

// ---- A raw DICOM peer ----------------------------------------------------------

struct AssociateResult {
  int pduType = 0;  // 2 accepted, 3 rejected, 0 connection lost
  int result = 0, source = 0, reason = 0;
  int contextResult = -1;  // of presentation context 1
};

// Elements in implicit VR little endian.
std::string Element(std::uint16_t group, std::uint16_t element, const std::string& value);
std::string ElementUS(std::uint16_t group, std::uint16_t element, std::uint16_t value);
// One element in explicit VR little endian.
std::string ExplicitElement(std::uint16_t group, std::uint16_t element, const std::string& vr,
                            const std::string& value);
std::string UidValue(const std::string& uid);  // padded with NUL to even length
std::string StoreCommand(const std::string& sopClass, const std::string& sopInstance, std::uint16_t messageId);

inline constexpr const char* kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";
inline constexpr const char* kImplicitLittleEndian = "1.2.840.10008.1.2";
inline constexpr const char* kExplicitLittleEndian = "1.2.840.10008.1.2.1";

// A PDU of `type` around `body`; an A-ASSOCIATE-RQ proposing each (abstract
// syntax, transfer syntax) pair as a context of its own (ids 1, 3, 5...).
std::string Pdu(std::uint8_t type, const std::string& body);
std::string AssociateRequest(const std::string& calling, const std::string& called,
                             const std::vector<std::pair<std::string, std::string>>& contexts);

// A small secondary capture data set with the given UID and patient name.
std::string SmallDataSet(const std::string& sopInstance, const std::string& patientName, std::size_t pixelBytes = 64);

// A DICOM file around `dataSet` (encoded in `transferSyntax`), its meta
// group naming the given SOP class and instance.
std::string Part10File(const std::string& sopClass, const std::string& sopInstance, const std::string& dataSet,
                       const std::string& transferSyntax = kImplicitLittleEndian);

class RawPeer {
 public:
  explicit RawPeer(int port);
  ~RawPeer();
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;
  bool connected() const { return fd_ >= 0; }

  AssociateResult associate(const std::string& calling, const std::string& called = "ZYL_STOR_SCP",
                            const std::string& sopClass = kSecondaryCapture,
                            const std::string& transferSyntax = kImplicitLittleEndian);
  // Sends an A-ASSOCIATE-RQ made by the caller and reads the answer.
  AssociateResult requestAssociation(const std::string& request);
  // Sends one PDV (command or data set) in one P-DATA PDU.
  bool sendPdv(const std::string& bytes, bool command, bool last);
  bool sendStore(const std::string& sopInstance, const std::string& dataSet, std::uint16_t messageId = 1,
                 const std::string& commandUid = "\x01");
  // The status of the next C-STORE response; nullopt when the peer aborted
  // or closed instead, or on time-out (see lastPduType()).
  std::optional<std::uint16_t> readStatus(int timeoutSeconds = 20);
  int lastPduType() const { return lastPduType_; }
  bool release(int timeoutSeconds = 10);
  void abort();
  // Waits until the service aborts or closes the connection.
  bool waitClosedByPeer(int timeoutSeconds);
  bool sendRaw(const std::string& bytes);

 private:
  bool readPdu(int& type, std::string& body, int timeoutSeconds);
  int fd_ = -1;
  int lastPduType_ = 0;
};

}  // namespace storscp_test
