#include "support/process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

namespace zyl::test {

using namespace std::chrono_literals;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return condition();
}

bool WaitListening(int port, std::chrono::milliseconds limit) {
  char needle[16];
  std::snprintf(needle, sizeof needle, ":%04X ", port);
  return WaitFor(
      [&] {
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
          std::ifstream in(table);
          std::string line;
          while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && (local + " ").find(needle) != std::string::npos) return true;
          }
        }
        return false;
      },
      limit);
}

namespace {

// Everything a child needs is made before fork: another thread of the test
// may hold the allocator's lock at that moment, and a child that allocates
// would then wait forever.
class ChildEnvironment {
 public:
  ChildEnvironment(const std::vector<std::string>& extra, const std::vector<std::string>& removed) {
    entries_ = {"TCP_NODELAY=1"};
    entries_.insert(entries_.end(), extra.begin(), extra.end());
    auto overridden = [&](std::string_view entry) {
      const std::string_view name = entry.substr(0, entry.find('='));
      for (const auto& e : entries_)
        if (std::string_view(e).substr(0, e.find('=')) == name) return true;
      return std::find(removed.begin(), removed.end(), name) != removed.end();
    };
    const std::size_t own = entries_.size();
    for (char** e = environ; *e; ++e)
      if (!overridden(*e)) entries_.emplace_back(*e);
    // A later extra entry wins over an earlier one (and over TCP_NODELAY=1).
    std::reverse(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(own));
    for (auto& e : entries_) pointers_.push_back(e.data());
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

class Arguments {
 public:
  explicit Arguments(const std::vector<std::string>& args) {
    for (const auto& a : args) pointers_.push_back(const_cast<char*>(a.c_str()));
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<char*> pointers_;
};

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::filesystem::path& output,
                           const std::vector<std::string>& extraEnv, const std::vector<std::string>& removedEnv) {
  ChildEnvironment environment(extraEnv, removedEnv);
  Arguments argv(args);
  const std::string out = output.string();
  pid_ = ::fork();
  if (pid_ == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      if (fd > 2) ::close(fd);
    }
    ::execvpe(argv.get()[0], argv.get(), environment.get());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!waitExit(5s)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::stop() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

namespace {
ToolResult Capture(const std::vector<std::string>& args, std::chrono::seconds limit,
                   const std::vector<std::string>& extraEnv, bool withStandardError) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  ChildEnvironment environment(extraEnv, {});
  Arguments argv(args);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    if (withStandardError) ::dup2(fds[1], 2);
    ::execvpe(argv.get()[0], argv.get(), environment.get());
    ::_exit(127);
  }
  ::close(fds[1]);
  ToolResult result;
  if (pid < 0) {
    ::close(fds[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[8192];
  bool killed = false;
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 200))) > 0) {
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      result.output.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = killed ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return result;
}
}  // namespace

ToolResult RunTool(const std::vector<std::string>& args, std::chrono::seconds limit,
                   const std::vector<std::string>& extraEnv) {
  return Capture(args, limit, extraEnv, true);
}

ToolResult RunShell(const std::string& command, std::chrono::seconds limit) {
  return Capture({"/bin/sh", "-c", command}, limit, {}, false);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace zyl::test
