#include "repl.h"

#include <editline/readline.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "interpreter.h"

namespace zyl::lang {
namespace {

constexpr int kHistoryLength = 1000;

void onInterrupt(int) { Interpreter::requestInterrupt(); }

// Ctrl-C stops the running statement (not the session) while it is installed.
class InterruptScope {
 public:
  InterruptScope() {
    Interpreter::clearInterrupt();
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptScope() {
    sigaction(SIGINT, &previous_, nullptr);
    Interpreter::clearInterrupt();
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction previous_ {};
};

bool isBareExit(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  const size_t last = text.find_last_not_of(" \t;");
  return last != std::string_view::npos && last >= first && text.substr(first, last - first + 1) == "exit";
}

bool isDefinedGlobal(const Interpreter& interpreter, const std::string& name) {
  const Variable* value = interpreter.global(name);
  return value != nullptr && value->isDefined();
}

struct FreeLine {
  void operator()(char* line) const { std::free(line); }
};

}  // namespace

std::string historyPath() {
  if (const char* userDir = std::getenv("ZYL_USER_DIR"); userDir && *userDir)
    return std::string(userDir) + "/.zyl_history";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.zyl_history";
  return ".zyl_history";
}

int runPrompt(Interpreter& interpreter) {
  const std::string history = historyPath();
  using_history();
  stifle_history(kHistoryLength);
  read_history(history.c_str());
  std::printf("zyl %s - type help() for the built-in functions, Ctrl-D to leave\n", "1.0");
  std::string pending;  // a statement still open over several lines
  int line = 1;
  int pendingFirstLine = 1;
  while (true) {
    std::unique_ptr<char, FreeLine> input(readline(pending.empty() ? "zyl> " : "...> "));
    if (!input) break;
    const std::string text = input.get();
    if (!text.empty()) add_history(input.get());
    // 'exit' alone leaves, as exit() does (unless a variable has that name).
    if (pending.empty() && isBareExit(text) && !isDefinedGlobal(interpreter, "exit")) break;
    if (pending.empty()) pendingFirstLine = line;
    ++line;
    // An empty line ends an unfinished statement: run it to see the error.
    const bool giveUp = !pending.empty() && text.empty();
    pending += text + "\n";
    try {
      InterruptScope interruptible;
      Interpreter::Status status = interpreter.run(pending, "<stdin>", pendingFirstLine, true, !giveUp);
      if (status == Interpreter::Status::Incomplete) continue;
    } catch (const ExitRequest& exit) {
      write_history(history.c_str());
      return exit.code;
    }
    pending.clear();
  }
  std::printf("\n");
  write_history(history.c_str());
  return 0;
}

}  // namespace zyl::lang
