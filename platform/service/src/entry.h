// The on-disk entry of one service: a folder under the registry root holding
//   config       key=value lines (name, display name, description, type, ...)
//   process      "pid starttime" of the program the manager started
//   status       the last status the program reported, with its pid
//   delete       present when the entry is marked for deletion
//   lock         flock()ed around every change of the entry
// Files are replaced by writing a temporary file and renaming it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "zyl/service.h"

namespace zyl::service::detail {

inline constexpr std::size_t kMaxNameLength = 256;

// The registry root from the environment, else the default.
std::string registryRoot();
// The folder of a service: the name in lower case, characters other than
// letters, digits, '-', '_' and '.' written as %XX. Empty for an invalid name.
std::string entryFolder(const std::string& root, std::string_view name);

int systemError(int error);  // kErrorSystemBase + errno, or a named code

// Key/value files.
using Fields = std::map<std::string, std::string>;
std::optional<Fields> readFields(const std::string& path);
int writeFields(const std::string& path, const Fields& fields);

Fields configFields(std::string_view name, const Config& config);
Config configFrom(const Fields& fields);

// The process record and its liveness.
struct ProcessRecord {
  pid_t pid = 0;
  std::uint64_t startTime = 0;
};
std::optional<ProcessRecord> readProcess(const std::string& folder);
std::uint64_t processStartTime(pid_t pid);  // 0 when the process is gone or a zombie
bool isAlive(const ProcessRecord& record);

std::optional<Status> readStatus(const std::string& folder, pid_t pid);
int writeStatus(const std::string& folder, pid_t pid, const Status& status);

// Removes the entry when it is marked for deletion and its program is not
// running. True when it was removed.
bool reapDeleted(const std::string& folder);
bool markedForDelete(const std::string& folder);

// An exclusive lock on the entry's lock file for the object's lifetime.
class EntryLock {
 public:
  explicit EntryLock(const std::string& folder);
  ~EntryLock();
  EntryLock(const EntryLock&) = delete;
  EntryLock& operator=(const EntryLock&) = delete;
  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Starts the program of a binary path detached from the caller and records
// its process in the folder. Returns kOk, or the reason it could not run.
int launchDetached(const std::string& root, const std::string& folder, std::string_view name,
                   const std::string& binaryPath);

}  // namespace zyl::service::detail
