// The service manager: a registry of background services on this machine and
// the calls that install, configure, start, stop and query them, plus the
// calls a service program makes while it runs (dispatcher, control handler,
// status reports).
//
// The registry is a folder (kDefaultRoot, or the folder the environment
// variable ZYL_SERVICE_ROOT names). Each service has a subfolder holding its
// configuration, the process that runs it and the status it last reported.
// Names compare ignoring case. Start launches the service's program detached
// from the caller; the stop control reaches the running program as SIGTERM.
//
// Every call returns an error code: kOk (0) or one of the codes below; the
// numbers are those the callers print. Nothing throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zyl::service {

inline constexpr const char* kDefaultRoot = "/var/lib/zyl/services";
inline constexpr const char* kRootVariable = "ZYL_SERVICE_ROOT";

// Error codes.
enum : int {
  kOk = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorInvalidParameter = 87,
  kErrorInvalidName = 123,
  kErrorServiceAlreadyRunning = 1056,
  kErrorServiceDisabled = 1058,
  kErrorServiceDoesNotExist = 1060,
  kErrorServiceCannotAcceptControl = 1061,
  kErrorServiceNotActive = 1062,
  kErrorFailedServiceControllerConnect = 1063,  // the program was not started by the manager
  kErrorServiceLogonFailed = 1069,
  kErrorServiceMarkedForDelete = 1072,
  kErrorServiceExists = 1073,
  kErrorDuplicateServiceName = 1078,
  kErrorSystemBase = 10000,  // other failures: kErrorSystemBase + errno
};

// Access rights asked when opening the manager or a service.
enum : std::uint32_t {
  kManagerConnect = 0x0001,
  kManagerCreateService = 0x0002,
  kManagerAllAccess = 0xF003F,

  kServiceQueryConfig = 0x0001,
  kServiceChangeConfig = 0x0002,
  kServiceQueryStatus = 0x0004,
  kServiceStart = 0x0010,
  kServiceStop = 0x0020,
  kServiceDelete = 0x10000,
  kServiceAllAccess = 0xF01FF,
};

enum : std::uint32_t { kServiceOwnProcess = 0x10 };
enum : std::uint32_t { kStartAuto = 2, kStartDemand = 3, kStartDisabled = 4 };
enum : std::uint32_t { kErrorControlIgnore = 0, kErrorControlNormal = 1 };
enum : std::uint32_t { kAcceptStop = 0x1, kAcceptShutdown = 0x4 };

enum class State : std::uint32_t {
  Stopped = 1,
  StartPending = 2,
  StopPending = 3,
  Running = 4,
  ContinuePending = 5,
  PausePending = 6,
  Paused = 7,
};

enum class Control : std::uint32_t { Stop = 1, Interrogate = 4, Shutdown = 5 };

struct Status {
  std::uint32_t serviceType = kServiceOwnProcess;
  State currentState = State::Stopped;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t exitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

struct Config {
  std::uint32_t serviceType = kServiceOwnProcess;
  std::uint32_t startType = kStartDemand;
  std::uint32_t errorControl = kErrorControlNormal;
  // The program, optionally in double quotation marks, then its arguments
  // separated by spaces.
  std::string binaryPath;
  std::string displayName;
};

class Service;

// An open connection to the registry.
class Manager {
 public:
  Manager() = default;
  bool isOpen() const { return !root_.empty(); }
  const std::string& root() const { return root_; }

  // Opens the registry, creating its folder when missing and creation rights
  // are asked. kErrorAccessDenied when the caller may not use it as asked.
  static int open(Manager& manager, std::uint32_t access);

  int createService(Service& service, std::string_view name, const Config& config, std::uint32_t access);
  int openService(Service& service, std::string_view name, std::uint32_t access) const;

 private:
  std::string root_;
  std::uint32_t access_ = 0;
};

// An open service entry. The entry may be deleted while handles stay open.
class Service {
 public:
  Service() = default;
  bool isOpen() const { return !folder_.empty(); }
  const std::string& name() const { return name_; }

  // While the program is stopping (stop pending), waits for it to end and
  // then starts it, for as long as its wait hint (10 s without one, at most
  // 30 s); kErrorServiceCannotAcceptControl when it has not ended by then.
  int start();
  // Sends the control; `status` receives the state after it was sent. After
  // a stop the service is stop pending until its program reports otherwise.
  int control(Control control, Status& status);
  int queryStatus(Status& status) const;
  int queryConfig(Config& config) const;
  int changeConfig(const Config& config);
  int changeDescription(std::string_view description);
  std::string description() const;
  // Deletes the entry, or marks it for deletion while its program runs (the
  // entry goes when the program reports stopped or is found gone).
  int remove();

 private:
  friend class Manager;
  std::string folder_;
  std::string name_;
  std::uint32_t access_ = 0;
};

// ---- The running service ------------------------------------------------------

using ServiceMain = std::function<void(int argc, char** argv)>;
using ControlHandler = std::function<void(Control control)>;

// Runs `main` of the service `name` when this process was started by the
// manager for that service and returns when it has ended; controls reach the
// handler registered by the service main. kErrorFailedServiceControllerConnect
// when the process was not started by the manager (nothing is run).
int StartDispatcher(std::string_view name, const ServiceMain& main);

// Runs `main` in this process outside the manager: SIGTERM and SIGINT are
// delivered to the registered handler as the stop control; status reports are
// kept in the process only.
int RunInForeground(std::string_view name, const ServiceMain& main);

// Called by the service main: the handler runs on the dispatcher's thread.
// Returns false when no dispatcher runs the named service in this process.
bool RegisterControlHandler(std::string_view name, ControlHandler handler);

// Reports the service's status (to the manager when it started the process).
int SetStatus(const Status& status);

}  // namespace zyl::service
