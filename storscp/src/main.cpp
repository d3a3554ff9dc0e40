// zyl_orvostorscp: the storage service program. Without an argument it runs
// the service (under the service manager, or in the foreground when started
// directly); "/install", "/uninstall" and "/help" manage its registration.
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "service_main.h"
#include "state.h"
#include "zyl/service.h"

namespace svc = zyl::service;
using zyl::storscp::kServiceName;

namespace {

constexpr const char* kDescription = "Listens at a port for incoming dicom files and writes them to disk.";

std::string ProgramName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "zyl_orvostorscp";
  if (const auto slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
  if (const auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string OwnPath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  return path;
}

svc::Config ServiceConfig() {
  svc::Config config;
  config.serviceType = svc::kServiceOwnProcess;
  config.startType = svc::kStartDemand;
  config.errorControl = svc::kErrorControlNormal;
  config.binaryPath = "\"" + OwnPath() + "\"";
  config.displayName = kServiceName;
  return config;
}

bool OpenManager(svc::Manager& manager) {
  const int error = svc::Manager::open(manager, svc::kManagerAllAccess);
  if (error == svc::kErrorAccessDenied) {
    std::printf("SCM access denied (administrative rights required)\n");
    return false;
  }
  if (error != svc::kOk) {
    std::printf("Unable to open the SCM, error %d\n", error);
    return false;
  }
  std::printf("SCM opened\n");
  return true;
}

// Says how opening the service's entry went; true when it is open.
bool SayOpened(int error) {
  if (error != svc::kOk) {
    std::printf("Unable to open the service entry, error %d\n", error);
    return false;
  }
  std::printf("Service entry opened\n");
  return true;
}

// Stops the service, saying so, and returns the stop's error; a service that
// was not running is left for the caller to mention.
int StopService(svc::Service& service) {
  svc::Status status;
  const int error = service.control(svc::Control::Stop, status);
  if (error == svc::kOk)
    std::printf("Service stopped\n");
  else if (error != svc::kErrorServiceNotActive)
    std::printf("Unable to stop the service, error %d\n", error);
  return error;
}

void Install() {
  std::printf("Attempting to install and start the service...\n");
  svc::Manager manager;
  if (!OpenManager(manager)) return;
  svc::Service service;
  const svc::Config config = ServiceConfig();
  int error = manager.createService(service, kServiceName, config, svc::kServiceAllAccess);
  if (error == svc::kOk) {
    std::printf("Service entry created\n");
  } else if (error == svc::kErrorServiceExists || error == svc::kErrorDuplicateServiceName) {
    std::printf("Service entry already exists, error %d\n", error);
    if (!SayOpened(manager.openService(service, kServiceName, svc::kServiceAllAccess))) return;
    error = StopService(service);
    if (error != svc::kOk && error != svc::kErrorServiceNotActive) return;
    if ((error = service.changeConfig(config)) != svc::kOk) {
      std::printf("Unable to update the service entry, error %d\n", error);
      return;
    }
    std::printf("Service entry updated\n");
  } else {
    std::printf("Unable to create the service entry, error %d\n", error);
    return;
  }
  if (service.changeDescription(kDescription) == svc::kOk)
    std::printf("Updated the service description\n");
  else
    std::printf("Failed to update service description\n");
  error = service.start();
  if (error == svc::kOk)
    std::printf("Service started\n");
  else if (error == svc::kErrorServiceAlreadyRunning)
    std::printf("Service already running\n");
  else
    std::printf("Unable to start the service, error %d\n", error);
}

void Uninstall() {
  std::printf("Attempting to uninstall the service...\n");
  svc::Manager manager;
  if (!OpenManager(manager)) return;
  svc::Service service;
  int error = manager.openService(service, kServiceName, svc::kServiceStop | svc::kServiceDelete);
  if (error == svc::kErrorServiceDoesNotExist) {
    std::printf("Service not installed\n");
    return;
  }
  if (!SayOpened(error)) return;
  error = StopService(service);
  if (error == svc::kErrorServiceNotActive)
    std::printf("Service not running\n");
  else if (error != svc::kOk)
    return;
  error = service.remove();
  if (error == svc::kOk)
    std::printf("Service entry deleted\n");
  else if (error == svc::kErrorServiceMarkedForDelete)
    std::printf("Service entry already marked for deletion- you may need to reboot\n");
  else
    std::printf("Unable to delete the service entry, error %d\n", error);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = ProgramName(argv[0]);
  if (argc < 2) {
    if (svc::StartDispatcher(kServiceName, zyl::storscp::ServiceMain) == svc::kErrorFailedServiceControllerConnect)
      svc::RunInForeground(kServiceName, zyl::storscp::ServiceMain);
    // Association threads may still wait on their callers; the process ends
    // without running destructors under them.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  const char* arg = argv[1];
  if (::strcasecmp(arg, "/help") == 0 || ::strcasecmp(arg, "/?") == 0)
    std::printf("Usage: %s </install | /uninstall>\n", program.c_str());
  else if (::strcasecmp(arg, "/install") == 0)
    Install();
  else if (::strcasecmp(arg, "/uninstall") == 0)
    Uninstall();
  else
    std::printf("Usage: %s </install | /uninstall | /help | /?>\n", program.c_str());
  return 0;
}
