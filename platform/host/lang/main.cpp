// zyl: runs a script file, a one-line program (-e) or the interactive prompt.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "interpreter.h"
#include "repl.h"

namespace {

void usage() {
  std::fprintf(
      stderr,
      "usage: zyl [--no-modules] script.zyl [arguments...]   run a script (its arguments are in the array args)\n"
      "       zyl [--no-modules] -e 'code' [arguments...]     run one line of code\n"
      "       zyl [--no-modules]                              interactive prompt\n"
      "--no-modules: do not load the modules of the program directory at start-up\n");
}

// Info messages of routines go to stderr in order with what print wrote;
// errors are reported by the interpreter where it handles them.
void showMessage(const zyl::Message& message) {
  if (message.action == HOST_MSG_ERROR) return;
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", message.text.c_str());
}

int run(int argc, char** argv) {
  zyl::Runtime& runtime = zyl::Runtime::instance();
  runtime.setMessageSink(showMessage);
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    usage();
    return 0;
  }
  const bool loadModules = args.empty() || args[0] != "--no-modules";
  if (!loadModules) args.erase(args.begin());
  if (loadModules) {
    std::vector<std::string> loadErrors;
    runtime.loadInstalledModules(&loadErrors);
    for (const std::string& error : loadErrors) std::fprintf(stderr, "zyl: %s\n", error.c_str());
  }
  if (!args.empty() && args[0] == "-e") {
    if (args.size() < 2) {
      usage();
      return 2;
    }
    zyl::lang::Interpreter interpreter(std::vector<std::string>(args.begin() + 2, args.end()));
    return interpreter.run(args[1], "-e") == zyl::lang::Interpreter::Status::Ok ? 0 : 1;
  }
  if (args.empty()) {
    zyl::lang::Interpreter interpreter;
    if (isatty(STDIN_FILENO)) return zyl::lang::runPrompt(interpreter);
    std::string source((std::istreambuf_iterator<char>(std::cin.rdbuf())), std::istreambuf_iterator<char>());
    return interpreter.run(source, "<stdin>") == zyl::lang::Interpreter::Status::Ok ? 0 : 1;
  }
  if (args[0].size() > 1 && args[0][0] == '-') {
    std::fprintf(stderr, "zyl: unknown option %s\n", args[0].c_str());
    usage();
    return 2;
  }
  std::error_code error;
  if (std::filesystem::is_directory(args[0], error)) {
    std::fprintf(stderr, "zyl: %s is a directory (expected a script file)\n", args[0].c_str());
    usage();
    return 2;
  }
  std::ifstream file(args[0], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "zyl: cannot open %s: %s\n", args[0].c_str(), std::strerror(errno));
    return 2;
  }
  std::ostringstream source;
  source << file.rdbuf();
  zyl::lang::Interpreter interpreter(std::vector<std::string>(args.begin() + 1, args.end()));
  return interpreter.run(source.str(), args[0]) == zyl::lang::Interpreter::Status::Ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int status;
  try {
    status = run(argc, argv);
  } catch (const zyl::lang::ExitRequest& exit) {
    status = exit.code;
  }
  std::fflush(stdout);
  zyl::Runtime::instance().shutdown();
  return status;
}
