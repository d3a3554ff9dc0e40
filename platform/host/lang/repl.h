// The interactive prompt: libedit line editing, history kept between
// sessions, statements spanning several lines.
#pragma once

#include <string>

namespace zyl::lang {

class Interpreter;

// Where the history lives: $ZYL_USER_DIR/.zyl_history, else ~/.zyl_history.
std::string historyPath();

// Reads and runs lines until end of input; errors are reported and the
// prompt goes on. Returns the exit status.
int runPrompt(Interpreter& interpreter);

}  // namespace zyl::lang
