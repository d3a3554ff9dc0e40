// The one error type of the language layer: a message and the script line it
// belongs to. Lexer, parser and evaluator raise it; the driver formats it as
// "file:line: message".
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace zyl::lang {

class ScriptError : public std::runtime_error {
 public:
  ScriptError(int line, const std::string& message, bool atEndOfInput = false)
      : std::runtime_error(message), line_(line), atEndOfInput_(atEndOfInput) {}
  int line() const { return line_; }
  // Errors raised below the statement level carry line 0; the evaluator
  // fills in the line of the statement and the script it belongs to.
  void setLine(int line) { line_ = line; }
  const std::string& origin() const { return origin_; }
  void setOrigin(std::string origin) { origin_ = std::move(origin); }
  // The parser ran out of input: at the prompt, more lines may complete it.
  bool atEndOfInput() const { return atEndOfInput_; }

 private:
  int line_;
  std::string origin_;
  bool atEndOfInput_;
};

// Ctrl-C at the prompt stops the running statement; try/catch does not
// catch it, so a script cannot keep going past it.
class InterruptError : public ScriptError {
 public:
  InterruptError() : ScriptError(0, "interrupted") {}
};

// An error of a value operation that knows no line yet.
[[noreturn]] inline void valueError(const std::string& message) { throw ScriptError(0, message); }

}  // namespace zyl::lang
