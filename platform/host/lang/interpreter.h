// The evaluator: runs syntax trees over host values (zyl::Variable). Calls of
// registered routines, methods and classes go through zyl::Runtime; script
// functions are registered with it so that modules can call them by name.
#pragma once

#include <csignal>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ast.h"
#include "error.h"
#include "indexing.h"
#include "zyl/runtime.h"

namespace zyl::lang {

// A variable of a frame. A parameter passed by reference aliases the
// caller's variable instead of holding its own value.
struct Slot {
  Variable value;
  Variable* alias = nullptr;
  Variable& get() { return alias ? *alias : value; }
};

// exit(code) unwinds to the driver with this.
struct ExitRequest {
  int code;
};

// The arguments of a built-in function as it sees them: plain variable names
// come by reference (possibly undefined), other expressions as values.
struct BuiltinCall {
  std::string_view name;  // as written
  std::vector<Variable*> values;
  std::vector<const Expr*> exprs;

  size_t count() const { return values.size(); }
  const Variable& arg(size_t i) const;  // defined, else an error naming it
  std::string stringArg(size_t i) const;
  int64_t intArg(size_t i) const;
  double numberArg(size_t i) const;
  [[noreturn]] void fail(const std::string& message) const;
};

using BuiltinFn = Variable (*)(BuiltinCall&);
struct Builtin {
  const char* name;  // upper case
  BuiltinFn fn;
  int minArgs;
  int maxArgs;  // -1: any number
  const char* usage;
  const char* summary;  // what it does, for help(name)
};
// The table of built-in functions, by upper-case name.
const Builtin* findBuiltin(std::string_view upperName);
const std::vector<Builtin>& builtins();

class Interpreter {
 public:
  explicit Interpreter(std::vector<std::string> scriptArgs = {});
  ~Interpreter();
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  enum class Status { Ok, Failed, Incomplete };
  // Runs source text. Errors are reported on stderr ("origin:line: message"
  // for script errors, the host message as issued for routine errors).
  // Incomplete: the text stops inside a statement (only when allowIncomplete).
  // echo: print the value of expression statements (the prompt).
  Status run(std::string_view source, const std::string& origin, int firstLine = 1, bool echo = false,
             bool allowIncomplete = false);
  // As run, but errors propagate (ScriptError with its origin set, or HostError).
  void execute(std::string_view source, const std::string& origin, int firstLine = 1, bool echo = false);

  // Asks the running script to stop at the next loop iteration or call
  // (safe from a signal handler).
  static void requestInterrupt() { interruptRequested_ = 1; }
  static void clearInterrupt() { interruptRequested_ = 0; }
  // Throws InterruptError when an interrupt was requested (and clears it):
  // loops, calls and long waits call it.
  static void checkInterrupt() {
    if (interruptRequested_) {
      interruptRequested_ = 0;
      throw InterruptError();
    }
  }

  // A global variable of the scripts run so far (nullptr when never named).
  const Variable* global(const std::string& name) const;

  // Standard output of print, kept in order with the messages on stderr.
  static void writeOutput(std::string_view text);

 private:
  enum class Flow { Normal, Break, Continue, Return };
  struct UserFunction {
    std::shared_ptr<FunctionDef> def;
    std::string origin;
  };
  // Arguments prepared for a call: positional pointers, keywords, and the
  // temporaries they point at (a deque: pointers stay valid as it grows).
  struct CallArguments {
    std::vector<Variable*> positional;
    std::vector<KeywordArg> keywords;
    std::vector<const Expr*> exprs;
    std::deque<Variable> temporaries;
  };

  Flow execBlock(const Block& block);
  Flow exec(const Stmt& stmt);
  Flow execStatement(const Stmt& stmt);
  Flow execFor(const ForStmt& loop);
  Flow execTry(const TryStmt& attempt);
  void assign(const Expr& target, Variable value);
  void assignIndexed(const IndexExpr& target, const Variable& value);
  void assignField(const FieldExpr& target, const Variable& value);

  Variable eval(const Expr& expr);
  Variable evalBinaryChain(const BinaryExpr& outermost);
  bool evalLogicChain(const BinaryExpr& outermost);
  // The value of an expression without copying a variable: a reference to
  // the variable itself, or to scratch holding the computed value.
  const Variable& evalRef(const Expr& expr, Variable& scratch);
  Variable evalCall(const CallExpr& call, bool statement);
  Variable evalMethodCall(const MethodCallExpr& call);
  Variable evalIndex(const IndexExpr& expr);
  // The values of an index expression's subscripts, in order.
  std::vector<SubscriptValue> evalSubscripts(const IndexExpr& expr);
  Variable evalField(const FieldExpr& expr);
  Variable evalArrayLiteral(const ArrayLiteralExpr& expr);
  Variable evalStructLiteral(const StructLiteralExpr& expr);
  Variable systemVariable(const std::string& name, int line) const;
  void setSystemVariable(const std::string& name, const Variable& value, int line);

  CallArguments prepareArguments(const std::vector<Argument>& args, bool allowKeywords, const std::string& callee);
  // line: of the call in the caller's script; byRoutine: a module calls it back.
  Variable callUser(const UserFunction& function, std::vector<Variable*>& args, int line, bool byRoutine = false);
  // The report of an uncaught error: its first line, then where it was
  // raised (routine errors) and the calls it came through, innermost first.
  std::string errorReport(const std::string& firstLine) const;
  Variable& slot(const NameExpr& name) { return (*frame_)[static_cast<size_t>(name.slot)].get(); }
  const Variable& definedSlot(const NameExpr& name);
  void defineFunctions(const Block& statements);
  void defineFunction(const std::shared_ptr<FunctionDef>& def);
  void registerUserFunctions();

  static volatile std::sig_atomic_t interruptRequested_;
  SlotTable globalSlots_;
  std::vector<Slot> globals_;
  std::vector<Slot>* frame_ = &globals_;
  std::unordered_map<std::string, UserFunction> functions_;  // upper-case names
  std::string origin_;
  int depth_ = 0;
  // Where the error now unwinding came from: the script line of a routine's
  // error (its message has none), and one entry per function call it left.
  // Cleared when a run starts and when try catches the error.
  std::string errorAt_;
  std::vector<std::string> errorCalls_;
  Variable returnValue_;
};

// Upper-case copy (names of classes, methods, keywords, fields).
std::string upperCase(std::string_view text);

}  // namespace zyl::lang
