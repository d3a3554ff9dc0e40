#include "run_support.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zyl::lang::test {

using zyl::test::ShellQuote;

std::string scratchDir() {
  // Removed when the test program ends.
  static const zyl::test::TempDir dir("zyl_lang_test");
  [[maybe_unused]] static const bool userFolder = std::filesystem::create_directories(dir.path() / "user");
  return dir.str();
}

std::string writeScratchFile(const std::string& name, const std::string& text) {
  const std::string path = scratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

RunResult runZyl(const std::vector<std::string>& args, bool mergeOutput, const std::string& program) {
  const std::string dir = scratchDir();
  setenv("ZYL_TESTMOD", ZYL_TESTMOD_PATH, 0);
  setenv("ZYL_USER_DIR", (dir + "/user").c_str(), 1);
  std::string command = program.empty() ? ShellQuote(ZYL_PROGRAM) + " --no-modules" : ShellQuote(program);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  const std::string outPath = dir + "/stdout.txt";
  const std::string errPath = dir + "/stderr.txt";
  command += " </dev/null >" + ShellQuote(outPath) + (mergeOutput ? " 2>&1" : " 2>" + ShellQuote(errPath));
  std::filesystem::remove(errPath);
  RunResult result;
  result.status = zyl::test::RunShell(command).exitCode;
  result.out = zyl::test::ReadText(outPath);
  result.err = mergeOutput ? std::string() : zyl::test::ReadText(errPath);
  return result;
}

}  // namespace zyl::lang::test
