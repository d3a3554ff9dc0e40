// Files of a service entry and the liveness of its process.
#include "entry.h"

#include "files/replace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zyl::service::detail {

namespace fs = std::filesystem;

std::string registryRoot() {
  const char* env = std::getenv(kRootVariable);
  std::string root = (env != nullptr && *env != '\0') ? env : kDefaultRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string entryFolder(const std::string& root, std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return {};
  std::string encoded;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || c < 0x20) return {};
    if (std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.') {
      encoded += static_cast<char>(std::tolower(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  if (encoded == "." || encoded == "..") return {};
  return root + "/" + encoded;
}

int systemError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    default:
      return kErrorSystemBase + error;
  }
}

std::optional<Fields> readFields(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  Fields fields;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

namespace {
// The registry's files are rewritten whole and often, and are rebuilt after a
// crash of the machine: replaced unflushed, as new files.
constexpr files::ReplaceOptions kRegistryFile{.flush = false, .keepExisting = false};

int replaceRegistryFile(const std::string& path, std::string_view text) {
  const int error = files::ReplaceFile(path, text, kRegistryFile);
  return error == 0 ? kOk : systemError(error);
}
}  // namespace

int writeFields(const std::string& path, const Fields& fields) {
  std::string text;
  for (const auto& [key, value] : fields) {
    // Values are single lines: a line break would start a new key.
    std::string clean = value;
    for (char& c : clean)
      if (c == '\n' || c == '\r') c = ' ';
    text += key + '=' + clean + '\n';
  }
  return replaceRegistryFile(path, text);
}

Fields configFields(std::string_view name, const Config& config) {
  return Fields{{"name", std::string(name)},
                {"display_name", config.displayName},
                {"type", std::to_string(config.serviceType)},
                {"start_type", std::to_string(config.startType)},
                {"error_control", std::to_string(config.errorControl)},
                {"binary_path", config.binaryPath}};
}

namespace {
std::uint32_t number(const Fields& fields, const char* key, std::uint32_t fallback) {
  const auto it = fields.find(key);
  if (it == fields.end()) return fallback;
  return static_cast<std::uint32_t>(std::strtoul(it->second.c_str(), nullptr, 10));
}
}  // namespace

Config configFrom(const Fields& fields) {
  Config config;
  config.serviceType = number(fields, "type", kServiceOwnProcess);
  config.startType = number(fields, "start_type", kStartDemand);
  config.errorControl = number(fields, "error_control", kErrorControlNormal);
  if (auto it = fields.find("binary_path"); it != fields.end()) config.binaryPath = it->second;
  if (auto it = fields.find("display_name"); it != fields.end()) config.displayName = it->second;
  return config;
}

std::optional<ProcessRecord> readProcess(const std::string& folder) {
  std::ifstream in(folder + "/process");
  ProcessRecord record;
  if (!(in >> record.pid >> record.startTime) || record.pid <= 0) return std::nullopt;
  return record;
}

std::uint64_t processStartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces and parentheses: fields follow the last ')'.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(text.substr(close + 1));
  std::string field;
  char state = 0;
  rest >> state;
  if (state == 'Z' || state == 'X') return 0;
  // Fields 4..21 lie between the state and the start time (field 22).
  for (int i = 4; i <= 21; ++i) rest >> field;
  std::uint64_t start = 0;
  rest >> start;
  return start;
}

bool isAlive(const ProcessRecord& record) {
  return record.pid > 0 && processStartTime(record.pid) == record.startTime && record.startTime != 0;
}

std::optional<Status> readStatus(const std::string& folder, pid_t pid) {
  std::ifstream in(folder + "/status");
  long long owner = 0;
  std::uint32_t state = 0;
  Status status;
  if (!(in >> owner >> state >> status.controlsAccepted >> status.exitCode >> status.serviceSpecificExitCode >>
        status.checkPoint >> status.waitHint))
    return std::nullopt;
  if (owner != pid || state < 1 || state > 7) return std::nullopt;
  status.currentState = static_cast<State>(state);
  return status;
}

int writeStatus(const std::string& folder, pid_t pid, const Status& status) {
  char line[128];
  const int length = std::snprintf(line, sizeof line, "%d %u %u %u %u %u %u\n", static_cast<int>(pid),
                                   static_cast<unsigned>(status.currentState), status.controlsAccepted, status.exitCode,
                                   status.serviceSpecificExitCode, status.checkPoint, status.waitHint);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) return systemError(EOVERFLOW);
  return replaceRegistryFile(folder + "/status", std::string_view(line, static_cast<std::size_t>(length)));
}

bool markedForDelete(const std::string& folder) {
  std::error_code ec;
  return fs::exists(folder + "/delete", ec);
}

bool reapDeleted(const std::string& folder) {
  if (!markedForDelete(folder)) return false;
  if (auto record = readProcess(folder); record && isAlive(*record) && record->pid != getpid()) return false;
  std::error_code ec;
  fs::remove_all(folder, ec);
  return !ec;
}

EntryLock::EntryLock(const std::string& folder) {
  fd_ = ::open((folder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

EntryLock::~EntryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace zyl::service::detail
