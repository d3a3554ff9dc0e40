// Starting a service's program detached from the caller: a double fork puts
// it in its own session with no controlling terminal, its standard streams on
// /dev/null, and the environment telling its dispatcher which entry it runs.
// The program's process records itself in the entry before it execs, so the
// record never names a process that is not the service.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "files/replace.h"

namespace zyl::service::detail {

namespace {

// The program and its arguments: a leading quoted part is the program.
std::vector<std::string> splitCommand(const std::string& binaryPath) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < binaryPath.size() && binaryPath[i] == ' ') ++i;
  if (i < binaryPath.size() && binaryPath[i] == '"') {
    const auto end = binaryPath.find('"', i + 1);
    if (end == std::string::npos) return {};
    args.push_back(binaryPath.substr(i + 1, end - i - 1));
    i = end + 1;
  }
  while (i < binaryPath.size()) {
    while (i < binaryPath.size() && binaryPath[i] == ' ') ++i;
    const auto start = i;
    while (i < binaryPath.size() && binaryPath[i] != ' ') ++i;
    if (i > start) args.push_back(binaryPath.substr(start, i - start));
  }
  return args;
}

void writeAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

// What the started process does between fork and exec runs in a copy of a
// possibly multi-threaded caller: only system calls and stack buffers there.

// Field 22 of /proc/self/stat, the start time in clock ticks; 0 on failure.
std::uint64_t OwnStartTime() {
  char text[1024];
  const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  const char* p = std::strrchr(text, ')');  // the command name may hold spaces
  if (p == nullptr) return 0;
  int field = 2;
  for (++p; *p != '\0' && field < 22; ++p)
    if (*p == ' ') ++field;
  std::uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<std::uint64_t>(*p - '0');
  return value;
}

// Writes "pid starttime" to `temp` and renames it onto `path`; runs in the
// child after fork.
int RecordOwnProcess(const char* temp, const char* path) {
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%d %llu\n", static_cast<int>(::getpid()),
                                   static_cast<unsigned long long>(OwnStartTime()));
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) return systemError(EOVERFLOW);
  const int error =
      files::ReplaceFileAfterFork(temp, path, std::string_view(line, static_cast<std::size_t>(length)), 0644);
  return error == 0 ? kOk : systemError(error);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

int launchDetached(const std::string& root, const std::string& folder, std::string_view name,
                   const std::string& binaryPath) {
  const std::vector<std::string> args = splitCommand(binaryPath);
  if (args.empty() || args[0].empty()) return kErrorPathNotFound;
  if (::access(args[0].c_str(), X_OK) != 0) return systemError(errno);

  // Everything the children need is prepared before fork.
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The environment too: putenv in the child may allocate, and another
  // thread of the caller may hold the allocator's lock at fork.
  const std::string rootPrefix = std::string(kRootVariable) + "=";
  const std::string namePrefix = "ZYL_SERVICE_NAME=";
  std::vector<std::string> environment{rootPrefix + root, namePrefix + std::string(name)};
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    if (!entry.starts_with(rootPrefix) && !entry.starts_with(namePrefix)) environment.emplace_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string processPath = folder + "/process";
  const std::string processTemp = processPath + ".new.launch";

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return systemError(errno);
  Fd readEnd(fds[0]);
  Fd writeEnd(fds[1]);

  const pid_t child = ::fork();
  if (child < 0) return systemError(errno);
  if (child == 0) {
    // First child: a new session, then the program's process, then leave.
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      if (null > 2) ::close(null);
    }
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != fds[1]) ::close(fd);
    ::chdir("/");
    int error = RecordOwnProcess(processTemp.c_str(), processPath.c_str());
    if (error == kOk) {
      ::execve(argv[0], argv.data(), envp.data());
      error = systemError(errno);
      ::unlink(processPath.c_str());
    }
    writeAll(fds[1], &error, sizeof error);
    ::_exit(127);
  }
  writeEnd.reset();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return kErrorSystemBase + ECHILD;
  // The pipe closes on a successful exec; an error code arrives otherwise.
  int error = kOk;
  ssize_t got = 0;
  do {
    got = ::read(readEnd.get(), &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(sizeof error) ? error : kOk;
}

}  // namespace zyl::service::detail
