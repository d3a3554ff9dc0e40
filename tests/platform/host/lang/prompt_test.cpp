// The interactive prompt, driven through a pseudo-terminal as a person would
// use it: values echoed, errors reported without leaving, statements over
// several lines, history written to the user directory.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "run_support.h"

namespace zyl::lang::test {
namespace {

// Reads what the prompt printed until it shows `marker` (or a deadline passes).
// Only output after `from` counts, so that a marker seen earlier does not end the wait.
std::string readUntil(int fd, const std::string& marker, std::string& seen,
                      std::chrono::milliseconds limit = std::chrono::seconds(10), size_t from = 0) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (seen.find(marker, from) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<size_t>(n));
  }
  return seen;
}

TEST(Prompt, EchoesValuesReportsErrorsAndKeepsHistory) {
  const std::string userDir = scratchDir() + "/prompt_user_" + std::to_string(getpid());
  std::filesystem::create_directories(userDir);
  std::filesystem::remove(userDir + "/.zyl_history");
  int fd = -1;
  const pid_t child = forkpty(&fd, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("ZYL_USER_DIR", userDir.c_str(), 1);
    execl(ZYL_PROGRAM, "zyl", "--no-modules", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  readUntil(fd, "zyl> ", seen);
  size_t from = seen.size();
  // Types a line and waits for `marker`, then for the next prompt: a line typed
  // ahead while the previous one still runs would reach the terminal before
  // the line editor takes it over again.
  auto type = [&](const std::string& line, const std::string& marker,
                  std::chrono::milliseconds limit = std::chrono::seconds(10), bool awaitPrompt = true) {
    from = seen.size();
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    readUntil(fd, marker, seen, limit, from);
    const size_t at = seen.find(marker, from);
    if (awaitPrompt && at != std::string::npos && marker.find("> ") == std::string::npos)
      readUntil(fd, "> ", seen, limit, at + marker.size());
  };
  type("x = 6 * 7\r", "x = 6 * 7");
  type("x + 0.5\r", "42.5");
  EXPECT_NE(seen.find("42.5", from), std::string::npos) << seen;
  type("if x > 1 {\r", "...> ");
  EXPECT_NE(seen.find("...> ", from), std::string::npos) << seen;
  type("print(\"inside\")\r", "...> ");
  type("}\r", "inside");
  type("y = nosuch\r", "undefined variable");
  EXPECT_NE(seen.find("<stdin>:6: undefined variable 'nosuch'", from), std::string::npos) << seen;
  type("print(\"still\" + \" here\")\r", "still here");
  EXPECT_NE(seen.find("still here", from), std::string::npos) << seen;
  // The loop runs until interrupted; Ctrl-C is sent only once it runs, so the
  // terminal is out of line-editing mode and delivers the interrupt.
  type("print(\"looping\"); while 1 { x = x + 1 }\r", "looping\r\n", std::chrono::seconds(10), false);
  type("\x03", "interrupted");
  EXPECT_NE(seen.find("interrupted", from), std::string::npos) << seen;
  // Ctrl-C stops a wait too, long before it would end.
  const auto waitStarted = std::chrono::steady_clock::now();
  type("print(\"waiting\"); wait(60)\r", "waiting\r\n", std::chrono::seconds(10), false);
  type("\x03", "interrupted", std::chrono::seconds(20));
  EXPECT_NE(seen.find("interrupted", from), std::string::npos) << seen;
  EXPECT_LT(std::chrono::steady_clock::now() - waitStarted, std::chrono::seconds(30));
  // The loop may be interrupted before its first pass, so x is at least 42.
  type("print(x >= 42)\r", "1\r\n");
  EXPECT_NE(seen.find("1\r\n", from), std::string::npos) << seen;
  // Ctrl-D at an empty prompt leaves.
  int status = 0;
  bool ended = false;
  // When the line editor runs without editing (it can fall back to plain
  // reading on a busy machine), exit() is the way out that always works.
  const std::string keys[] = {"\x04", "\x04", "\rexit()\r", "\rexit()\r"};
  for (int attempt = 0; attempt < 4 && !ended; ++attempt) {
    const std::string& key = keys[attempt];
    if (write(fd, key.data(), key.size()) != static_cast<ssize_t>(key.size())) break;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      ended = waitpid(child, &status, WNOHANG) == child;
      std::string ignored;
      readUntil(fd, "\n", ignored, std::chrono::milliseconds(20));
    }
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  close(fd);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  std::ifstream history(userDir + "/.zyl_history");
  std::string text((std::istreambuf_iterator<char>(history)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("nosuch"), std::string::npos) << text;
}

// 'exit' without parentheses leaves the prompt (Python's prompt does too).
TEST(Prompt, BareExitLeaves) {
  int fd = -1;
  const pid_t child = forkpty(&fd, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("ZYL_USER_DIR", scratchDir().c_str(), 1);
    execl(ZYL_PROGRAM, "zyl", "--no-modules", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  readUntil(fd, "zyl> ", seen);
  const std::string line = "  exit \r";
  ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  int status = 0;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    ended = waitpid(child, &status, WNOHANG) == child;
    readUntil(fd, "\n", seen, std::chrono::milliseconds(20));
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  close(fd);
  EXPECT_TRUE(ended) << seen;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  EXPECT_EQ(seen.find("undefined variable"), std::string::npos) << seen;
}

}  // namespace
}  // namespace zyl::lang::test
