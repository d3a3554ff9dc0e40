// StorageScpService of ZYLffOrvoCfg: start, stop or query the storage
// service through the service manager, answered with a status text.
#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "cfg_document.h"
#include "cfg_methods.h"
#include "format_text.h"
#include "method.h"
#include "startup.h"
#include "zyl/service.h"

namespace orvo::netconfig {
namespace {

namespace cfg = zyl::config;
namespace svc = zyl::service;

enum class Operation { Start, Stop, Status };

std::string startResult(int error) {
  switch (error) {
    case svc::kOk:
      return "start request issued";
    case svc::kErrorServiceAlreadyRunning:
      return "service already running";
    case svc::kErrorAccessDenied:
      return "start access denied";
    case svc::kErrorServiceLogonFailed:
      return "service logon failed ";
    case svc::kErrorServiceDisabled:
      return "service is disabled ";
    case svc::kErrorPathNotFound:
      return "path not found ";
    // The manager waited for a pending stop as long as the service said it
    // would take, and it had not ended.
    case svc::kErrorServiceCannotAcceptControl:
      return "service stop pending, start not issued";
    default:
      return "start request failed";
  }
}

std::string stopResult(int error, const svc::Status& status) {
  switch (error) {
    case svc::kOk:
      return status.currentState == svc::State::Stopped ? "service stopped" : "stop request issued";
    case svc::kErrorAccessDenied:
      return "stop access denied";
    case svc::kErrorServiceNotActive:
      return "service not running";
    default:
      return "stop request failed";
  }
}

std::string statusResult(int error, const svc::Status& status) {
  switch (error) {
    case svc::kOk:
      break;
    case svc::kErrorAccessDenied:
      return "query access denied";
    case svc::kErrorServiceDoesNotExist:
      return "service does not exist";
    default:
      return "query status failed";
  }
  switch (status.currentState) {
    case svc::State::Stopped:
      return "service not running";
    case svc::State::StartPending:
      return "service start pending";
    case svc::State::StopPending:
      return "service stop pending";
    case svc::State::Running:
      return "service running";
    case svc::State::PausePending:
      return "service pause pending";
    case svc::State::Paused:
      return "service paused";
    default:
      return "service status unknown";
  }
}

// The service-manager part: every failure becomes a text.
std::string control(Operation operation) {
  svc::Manager manager;
  if (svc::Manager::open(manager, svc::kManagerAllAccess) != svc::kOk)
    return "failed. administrator privileges maybe needed.";
  svc::Service service;
  if (manager.openService(service, cfg::kStorageServiceName,
                          svc::kServiceQueryStatus | svc::kServiceStart | svc::kServiceStop) != svc::kOk) {
    return formatText("failed, is %s service installed?", cfg::kStorageServiceName);
  }
  svc::Status status;
  switch (operation) {
    case Operation::Start:
      return startResult(service.start());
    case Operation::Stop: {
      const int error = service.control(svc::Control::Stop, status);
      return stopResult(error, status);
    }
    case Operation::Status: {
      const int error = service.queryStatus(status);
      return statusResult(error, status);
    }
  }
  return "unknown error";
}

HostVar* storageScpServiceWorker(MethodCall<CfgInstance, NoKeywords>& call) {
  HostVar* arg = call.arg(1);
  if (arg == nullptr || !arg->isScalarString()) fail(kErrs1, "Error: Argument must be a string");
  const std::string given(arg->text());
  std::string head = given.substr(0, 6);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  Operation operation{};
  if (head == "start")
    operation = Operation::Start;
  else if (head == "stop")
    operation = Operation::Stop;
  else if (head == "status")
    operation = Operation::Status;
  else
    fail(kErrs2, "Error: Invalid storage scp service parameter: ", given);

  // The system configuration must name the service's control port, although
  // the value itself is not used here.
  const std::string path = configFilePath(true);
  cfg::ConfigDocument document;
  AccessMessage message{};
  if (cfg::LoadConfig(path, document, message) != 0) failWith(message);
  std::array<char, 256> controlPort{};
  if (cfg::ReadParam(document, "StorScpCtrlPort", controlPort, path, message) != 0)
    fail(kErrs2, "Fatal Error reading StorScpCtrlPort in sys cfg file (file)", path);
  cfg::ReleaseConfig(document, path, message);

  return HostStringToVar(control(operation).substr(0, 255).c_str());
}

}  // namespace

MethodRows scpControlMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOCFG::STORAGESCPSERVICE", methodEntry<CfgInstance, NoKeywords, storageScpServiceWorker>, 2,
                  2, 0),
  };
  return kRows;
}

}  // namespace orvo::netconfig
