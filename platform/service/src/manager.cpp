// The manager's side: the registry, its entries and the controls sent to
// running services.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "entry.h"
#include "zyl/service.h"

namespace zyl::service {

namespace fs = std::filesystem;
using namespace detail;

namespace {

constexpr std::uint32_t kManagerWriteRights = kManagerCreateService | 0xF0000;
constexpr std::uint32_t kServiceWriteRights = kServiceChangeConfig | kServiceStart | kServiceDelete;

constexpr std::chrono::milliseconds kDefaultStopWait{10000};
constexpr std::chrono::milliseconds kMaxStopWait{30000};
constexpr std::chrono::milliseconds kStopPoll{50};

bool folderExists(const std::string& folder) {
  std::error_code ec;
  return fs::is_directory(folder, ec) && fs::exists(folder + "/config", ec);
}

// The state of a service from its process record and its last report.
Status currentStatus(const std::string& folder) {
  Status status;
  status.currentState = State::Stopped;
  const auto record = readProcess(folder);
  if (!record || !isAlive(*record)) return status;
  if (auto reported = readStatus(folder, record->pid)) return *reported;
  status.currentState = State::StartPending;
  return status;
}

// The program has been sent the stop but may take a moment to say so: until
// it reports again, its status is stop pending rather than the running it
// last reported. The entry lock keeps this from overwriting a report the
// program makes meanwhile.
void markStopPending(const std::string& folder, pid_t pid) {
  EntryLock lock(folder);
  auto reported = readStatus(folder, pid);
  if (!reported || reported->currentState == State::Stopped || reported->currentState == State::StopPending) return;
  Status pending = *reported;
  pending.currentState = State::StopPending;
  pending.controlsAccepted = 0;
  pending.checkPoint = 0;
  pending.waitHint = 0;
  writeStatus(folder, pid, pending);
}

}  // namespace

int Manager::open(Manager& manager, std::uint32_t access) {
  manager = Manager{};
  const std::string root = registryRoot();
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    if ((access & kManagerWriteRights) == 0) {
      // An empty registry: every service lookup finds nothing.
      manager.root_ = root;
      manager.access_ = access;
      return kOk;
    }
    fs::create_directories(root, ec);
    if (ec) return systemError(ec.value());
  }
  int mode = R_OK | X_OK;
  if ((access & kManagerWriteRights) != 0) mode |= W_OK;
  if (::faccessat(AT_FDCWD, root.c_str(), mode, AT_EACCESS) != 0) return systemError(errno);
  manager.root_ = root;
  manager.access_ = access;
  return kOk;
}

int Manager::createService(Service& service, std::string_view name, const Config& config, std::uint32_t access) {
  service = Service{};
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kManagerCreateService) == 0) return kErrorAccessDenied;
  const std::string folder = entryFolder(root_, name);
  if (folder.empty()) return kErrorInvalidName;
  if (config.binaryPath.empty()) return kErrorInvalidParameter;
  std::error_code ec;
  reapDeleted(folder);
  if (!fs::create_directory(folder, ec)) {
    if (ec) return systemError(ec.value());
    if (markedForDelete(folder)) return kErrorServiceMarkedForDelete;
    if (folderExists(folder)) return kErrorServiceExists;
  }
  EntryLock lock(folder);
  if (folderExists(folder)) return kErrorServiceExists;
  // Display names are unique too.
  for (const auto& entry : fs::directory_iterator(root_, ec)) {
    if (entry.path() == folder) continue;
    if (auto fields = readFields(entry.path().string() + "/config");
        fields && !config.displayName.empty() && (*fields)["display_name"] == config.displayName) {
      fs::remove_all(folder, ec);
      return kErrorDuplicateServiceName;
    }
  }
  if (const int error = writeFields(folder + "/config", configFields(name, config)); error != kOk) {
    fs::remove_all(folder, ec);
    return error;
  }
  service.folder_ = folder;
  service.name_ = std::string(name);
  service.access_ = access;
  return kOk;
}

int Manager::openService(Service& service, std::string_view name, std::uint32_t access) const {
  service = Service{};
  if (!isOpen()) return kErrorInvalidHandle;
  const std::string folder = entryFolder(root_, name);
  if (folder.empty()) return kErrorInvalidName;
  reapDeleted(folder);
  if (!folderExists(folder)) return kErrorServiceDoesNotExist;
  int mode = R_OK | X_OK;
  if ((access & kServiceWriteRights) != 0) mode |= W_OK;
  if (::faccessat(AT_FDCWD, folder.c_str(), mode, AT_EACCESS) != 0) return systemError(errno);
  auto fields = readFields(folder + "/config");
  service.folder_ = folder;
  service.name_ = fields ? (*fields)["name"] : std::string(name);
  service.access_ = access;
  return kOk;
}

int Service::start() {
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kServiceStart) == 0) return kErrorAccessDenied;
  // A start asked for while the program is stopping waits for it to end, as
  // long as the program's wait hint says the stop takes (kDefaultStopWait
  // without one, never beyond kMaxStopWait).
  const auto waitStart = std::chrono::steady_clock::now();
  for (;;) {
    {
      EntryLock lock(folder_);
      if (!folderExists(folder_)) return kErrorServiceDoesNotExist;
      if (markedForDelete(folder_)) return kErrorServiceMarkedForDelete;
      const auto fields = readFields(folder_ + "/config");
      if (!fields) return kErrorServiceDoesNotExist;
      const Config config = configFrom(*fields);
      if (config.startType == kStartDisabled) return kErrorServiceDisabled;
      // A program that reported itself stopped is on its way out: its
      // successor may start, as the status the caller was shown promised.
      const auto record = readProcess(folder_);
      const Status status = currentStatus(folder_);
      if (!record || !isAlive(*record) || status.currentState == State::Stopped) {
        std::error_code ec;
        fs::remove(folder_ + "/status", ec);
        return launchDetached(fs::path(folder_).parent_path().string(), folder_, name_, config.binaryPath);
      }
      if (status.currentState != State::StopPending) return kErrorServiceAlreadyRunning;
      const auto limit =
          status.waitHint > 0 ? std::min(std::chrono::milliseconds(status.waitHint), kMaxStopWait) : kDefaultStopWait;
      if (std::chrono::steady_clock::now() - waitStart >= limit) return kErrorServiceCannotAcceptControl;
    }
    std::this_thread::sleep_for(kStopPoll);
  }
}

int Service::control(Control control, Status& status) {
  status = Status{};
  if (!isOpen()) return kErrorInvalidHandle;
  const bool stopping = control == Control::Stop || control == Control::Shutdown;
  if (stopping && (access_ & kServiceStop) == 0) return kErrorAccessDenied;
  if (!stopping && (access_ & kServiceQueryStatus) == 0) return kErrorAccessDenied;
  if (!folderExists(folder_)) return kErrorServiceDoesNotExist;
  const auto record = readProcess(folder_);
  if (!record || !isAlive(*record)) return kErrorServiceNotActive;
  status = currentStatus(folder_);
  if (status.currentState == State::Stopped) return kErrorServiceNotActive;
  if (stopping) {
    if ((status.controlsAccepted & (kAcceptStop | kAcceptShutdown)) == 0 && status.currentState != State::StopPending)
      return kErrorServiceCannotAcceptControl;
    if (::kill(record->pid, SIGTERM) != 0) return systemError(errno);
    markStopPending(folder_, record->pid);
    status = currentStatus(folder_);
  }
  return kOk;
}

int Service::queryStatus(Status& status) const {
  status = Status{};
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kServiceQueryStatus) == 0) return kErrorAccessDenied;
  if (!folderExists(folder_)) return kErrorServiceDoesNotExist;
  status = currentStatus(folder_);
  if (status.currentState == State::Stopped) reapDeleted(folder_);
  return kOk;
}

int Service::queryConfig(Config& config) const {
  config = Config{};
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kServiceQueryConfig) == 0) return kErrorAccessDenied;
  const auto fields = readFields(folder_ + "/config");
  if (!fields) return kErrorServiceDoesNotExist;
  config = configFrom(*fields);
  return kOk;
}

int Service::changeConfig(const Config& config) {
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kServiceChangeConfig) == 0) return kErrorAccessDenied;
  EntryLock lock(folder_);
  auto fields = readFields(folder_ + "/config");
  if (!fields) return kErrorServiceDoesNotExist;
  if (markedForDelete(folder_)) return kErrorServiceMarkedForDelete;
  const std::string description = (*fields)["description"];
  Fields updated = configFields(name_, config);
  if (config.binaryPath.empty()) updated["binary_path"] = (*fields)["binary_path"];
  if (config.displayName.empty()) updated["display_name"] = (*fields)["display_name"];
  updated["description"] = description;
  return writeFields(folder_ + "/config", updated);
}

int Service::changeDescription(std::string_view description) {
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kServiceChangeConfig) == 0) return kErrorAccessDenied;
  EntryLock lock(folder_);
  auto fields = readFields(folder_ + "/config");
  if (!fields) return kErrorServiceDoesNotExist;
  (*fields)["description"] = std::string(description);
  return writeFields(folder_ + "/config", *fields);
}

std::string Service::description() const {
  auto fields = readFields(folder_ + "/config");
  return fields ? (*fields)["description"] : std::string{};
}

int Service::remove() {
  if (!isOpen()) return kErrorInvalidHandle;
  if ((access_ & kServiceDelete) == 0) return kErrorAccessDenied;
  {
    EntryLock lock(folder_);
    if (!folderExists(folder_)) return kErrorServiceDoesNotExist;
    if (markedForDelete(folder_)) return kErrorServiceMarkedForDelete;
    std::ofstream mark(folder_ + "/delete");
    if (!mark) return systemError(errno);
  }
  reapDeleted(folder_);
  return kOk;
}

}  // namespace zyl::service
