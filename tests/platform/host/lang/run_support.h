// Runs the zyl program for tests: in a private user directory, with the test
// module's path in ZYL_TESTMOD, capturing its output.
#pragma once

#include <string>
#include <vector>

namespace zyl::lang::test {

struct RunResult {
  int status = -1;  // exit status
  std::string out;  // standard output
  std::string err;  // standard error
};

// args after the program name; mergeOutput sends stderr into out. The
// modules installed beside the program are not loaded (--no-modules), so
// that the output does not depend on what else the build holds; a program
// path given loads those beside it.
RunResult runZyl(const std::vector<std::string>& args, bool mergeOutput = false, const std::string& program = "");
// A fresh file in the test's scratch directory holding text.
std::string writeScratchFile(const std::string& name, const std::string& text);
std::string scratchDir();
std::vector<std::string> lines(const std::string& text);

}  // namespace zyl::lang::test
