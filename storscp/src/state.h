// The storage service's shared state: what start-up read, the log, and the
// count of association threads. Filled once on the service main thread;
// afterwards only the log and the thread count change.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/orvo_config.h"

namespace zyl::storscp {

inline constexpr const char* kServiceName = zyl::config::kStorageServiceName;
inline constexpr long kLogSwitchBytes = 250000;    // a log file this size or more is full
inline constexpr std::size_t kLogLineSize = 512;   // a formatted line, terminator included
inline constexpr std::size_t kParamSize = 256;     // buffer of a configuration parameter
inline constexpr std::size_t kShortParamSize = 8;  // AcceptAny, FileExtension
inline constexpr std::size_t kPathSize = 1025;     // StorScpDir
inline constexpr std::size_t kCtrlPortSize = 64;   // StorScpCtrlPort
inline constexpr std::size_t kAeNameSize = 32;     // StorScpServiceAE

// The two alternating log files. Writing a line and switching files happen
// under one lock; a failure ends logging for good.
class ServiceLog {
 public:
  ServiceLog() = default;
  ~ServiceLog();
  ServiceLog(const ServiceLog&) = delete;
  ServiceLog& operator=(const ServiceLog&) = delete;

  // Opens the current file: the first, unless it is full; then the second,
  // unless that is full too, when the first is emptied and used.
  void open(const std::string& firstPath, const std::string& secondPath);
  void line(std::string_view message);
  void close();
  bool isOpen() const;
  int index() const;  // 1 or 2

 private:
  bool openCurrent(bool empty);
  void closeLocked();

  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  int index_ = 1;
  std::string paths_[2];
};

struct ServiceState {
  bool initialised = false;
  std::string configDir;  // ends without a separator
  std::string hostDir;
  std::string configFile;
  config::CfgApplEntity ownEntity{};
  std::vector<config::CfgApplEntity> entities;
  std::string acceptAny;
  std::string fileExtension;
  std::string storageDir;
  std::string depotDir;
  std::string logPaths[2];
  int applicationId = 0;
  std::atomic<int> threadCount{0};
  ServiceLog log;
};

ServiceState& State();

// Appends one formatted line to the service log (nothing when it is closed).
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text from outside (titles, UIDs) made safe for one log line: printable
// ASCII kept, everything else as \xNN, cut to `limit` characters.
std::string Printable(std::string_view text, std::size_t limit = 80);

// Start-up: directories, log, configuration, toolkit. False when the service
// must stop; the reason is in the log where there is one.
bool StartUp();

// One step of the listener: start-up on the first call, then one wait for an
// association. Stop when the service must stop (its start-up failed); Caller
// when a caller was served or turned away, so that the next step may follow
// at once; Idle otherwise.
enum class StepResult { Stop, Idle, Caller };
StepResult ListenerStep();

// The body of one association thread; it has been counted already.
void AssociationThread(int associationId);

// Waits until no association thread runs or `milliseconds` have passed.
void WaitForAssociationThreads(int milliseconds);

}  // namespace zyl::storscp
