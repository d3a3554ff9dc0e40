// Programs run by the tests as real processes on loopback: a free port, a
// background process that is always stopped, a tool run to its end, and
// bounded waits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zyl::test {

// A loopback port nobody listens on right now.
int FreePort();

// Polls `condition` until it holds or `limit` has passed; its last answer.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// Waits until a socket listens on the port, seen in /proc/net/tcp{,6}: no
// connection is made, so the listener sees no caller.
bool WaitListening(int port, std::chrono::milliseconds limit = std::chrono::seconds(15));

// A program (looked up in PATH) run in the background with stdout and stderr
// in `output`. Its environment is ours with TCP_NODELAY=1 (DCMTK's tools then
// send without delay) and `extraEnv` put over it and `removedEnv` left out.
// Stopped with SIGTERM, then killed, when the object goes.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& args, const std::filesystem::path& output,
               const std::vector<std::string>& extraEnv = {}, const std::vector<std::string>& removedEnv = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t pid() const { return pid_; }
  // Waits for the process to end: its exit code (128 + the signal when a
  // signal ended it), or nullopt on time-out.
  std::optional<int> waitExit(std::chrono::milliseconds limit);
  void stop();  // SIGTERM

 private:
  pid_t pid_ = -1;
};

struct ToolResult {
  int exitCode = -1;   // -1 when the time ran out or a signal ended it
  std::string output;  // stdout and stderr
};
// Runs a program (no shell) to its end, bounded by `limit`, with the
// environment of ChildProcess.
ToolResult RunTool(const std::vector<std::string>& args, std::chrono::seconds limit = std::chrono::seconds(60),
                   const std::vector<std::string>& extraEnv = {});

// Runs a command line with /bin/sh to its end, bounded by `limit`; the output
// is its standard output only (the command redirects standard error where it
// wants it).
ToolResult RunShell(const std::string& command, std::chrono::seconds limit = std::chrono::seconds(300));
// `text` as one word of a shell command line.
std::string ShellQuote(const std::string& text);

}  // namespace zyl::test
