#include "interpreter.h"

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <new>
#include <numbers>
#include <stdexcept>

#include "array_ops.h"
#include "indexing.h"
#include "parser.h"
#include "printer.h"

namespace zyl::lang {
namespace {

// Deep recursion in scripts would overflow the C++ stack first.
constexpr int kMaxCallDepth = 2000;
constexpr const char* kVersion = "1.0";

// Structure literals have generated names (beginning with '$').
std::string structureLabel(const StructDef& def) {
  return def.name().front() == '$' ? "the structure" : "structure " + def.name();
}

// The lowest frame address the evaluator may reach on this thread's stack:
// below it, recursion of functions and expressions stops with an error. A
// quarter of the stack (at least 256 KiB) stays for routines and the C
// library. nullptr when the stack is unknown.
const char* stackFloor() {
  thread_local const char* const floor = [] {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return static_cast<const char*>(nullptr);
    void* lowest = nullptr;
    size_t size = 0;
    const int status = pthread_attr_getstack(&attributes, &lowest, &size);
    pthread_attr_destroy(&attributes);
    const size_t reserve = std::max<size_t>(size / 4, 256 * 1024);
    if (status != 0 || size <= reserve) return static_cast<const char*>(nullptr);
    return static_cast<const char*>(lowest) + reserve;
  }();
  return floor;
}

void checkStack(int line) {
  const char* floor = stackFloor();
  if (floor != nullptr && static_cast<const char*>(__builtin_frame_address(0)) < floor)
    throw ScriptError(line,
                      "nesting too deep: the interpreter's stack is nearly used up (recursion of functions "
                      "within deeply nested expressions)");
}

// Runs f; errors of value operations get the line, and the C++ errors of
// allocation and array sizes become script errors at that line.
template <typename F>
decltype(auto) atLine(int line, F&& f) {
  try {
    return f();
  } catch (ScriptError& e) {
    if (e.line() == 0) e.setLine(line);
    throw;
  } catch (const HostError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw ScriptError(line, "out of memory");
  } catch (const std::invalid_argument& e) {
    throw ScriptError(line, e.what());
  } catch (const std::length_error& e) {
    throw ScriptError(line, e.what());
  }
}

// One line of an error's call chain.
std::string callSite(const std::string& function, const std::string& origin, int line, bool byRoutine) {
  return "in " + function + "(), called " +
         (byRoutine ? std::string("back by a routine") : "at " + origin + ":" + std::to_string(line));
}

const char* kindOf(const Variable& v) {
  if (v.isStruct()) return "a structure";
  if (v.isArray()) return "an array";
  return typeName(v.type());
}

}  // namespace

std::string upperCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
  return out;
}

// ---------------------------------------------------------------- built-in arguments

void BuiltinCall::fail(const std::string& message) const { valueError(std::string(name) + ": " + message); }

const Variable& BuiltinCall::arg(size_t i) const {
  const Variable& v = *values[i];
  if (!v.isDefined()) {
    if (exprs[i] && exprs[i]->kind == ExprKind::Name)
      fail("undefined variable '" + static_cast<const NameExpr*>(exprs[i])->name + "'");
    fail("argument " + std::to_string(i + 1) + " is undefined");
  }
  return v;
}

std::string BuiltinCall::stringArg(size_t i) const {
  const Variable& v = arg(i);
  if (!v.isScalarString()) fail("argument " + std::to_string(i + 1) + " must be a string, got " + kindOf(v));
  return std::string(v.text());
}

int64_t BuiltinCall::intArg(size_t i) const {
  std::string what = std::string(name) + ": argument " + std::to_string(i + 1);
  return toIndex(arg(i), what.c_str());
}

double BuiltinCall::numberArg(size_t i) const {
  std::string what = std::string(name) + ": argument " + std::to_string(i + 1);
  return toDouble(arg(i), what.c_str());
}

// ---------------------------------------------------------------- set-up

volatile std::sig_atomic_t Interpreter::interruptRequested_ = 0;

Interpreter::Interpreter(std::vector<std::string> scriptArgs) {
  const int64_t count = static_cast<int64_t>(scriptArgs.size());
  auto args = std::make_unique<Array>(Type::String, std::span<const int64_t>(&count, 1), true);
  for (int64_t i = 0; i < count; ++i) hostStringAssign(args->as<HostString>()[i], scriptArgs[static_cast<size_t>(i)]);
  globals_.resize(static_cast<size_t>(globalSlots_.slotOf("args")) + 1);
  globals_.back().value = Variable::ofArray(std::move(args));
  registerUserFunctions();
}

Interpreter::~Interpreter() { Runtime::instance().setUserFunctions(nullptr, nullptr); }

void Interpreter::registerUserFunctions() {
  Runtime::instance().setUserFunctions(
      [this](std::string_view name) { return functions_.count(upperCase(name)) != 0; },
      [this](std::string_view name, std::vector<Variable*>& args) -> Variable {
        auto it = functions_.find(upperCase(name));
        if (it == functions_.end())
          Runtime::instance().fail("Attempt to call undefined function: " + std::string(name));
        const size_t outerCalls = errorCalls_.size();
        try {
          return callUser(it->second, args, it->second.def->line, true);
        } catch (const ScriptError& e) {
          // The module between us and the script only knows host errors; the
          // message names the callback's line, the chain goes on from the
          // statement that called the routine.
          errorCalls_.resize(outerCalls);
          std::string origin = e.origin().empty() ? it->second.origin : e.origin();
          Runtime::instance().fail(origin + ":" + std::to_string(e.line()) + ": " + e.what());
        }
      });
}

const Variable* Interpreter::global(const std::string& name) const {
  auto it = globalSlots_.slots.find(name);
  if (it == globalSlots_.slots.end() || static_cast<size_t>(it->second) >= globals_.size()) return nullptr;
  return &globals_[static_cast<size_t>(it->second)].value;
}

void Interpreter::writeOutput(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void Interpreter::defineFunctions(const Block& statements) {
  for (const StmtPtr& stmt : statements)
    if (stmt->kind == StmtKind::Function) defineFunction(static_cast<const FunctionStmt&>(*stmt).function);
}

// A built-in keeps its name: a function of that name would change every call
// of it, even those above the definition.
void Interpreter::defineFunction(const std::shared_ptr<FunctionDef>& def) {
  const std::string key = upperCase(def->name);
  if (findBuiltin(key) != nullptr)
    throw ScriptError(def->line,
                      "function " + def->name + " has the name of a built-in function (choose another name)");
  functions_[key] = UserFunction{def, origin_};
}

void Interpreter::execute(std::string_view source, const std::string& origin, int firstLine, bool echo) {
  origin_ = origin;
  frame_ = &globals_;
  depth_ = 0;
  errorAt_.clear();
  errorCalls_.clear();
  try {
    Program program = parseSource(source, globalSlots_, firstLine);
    globals_.resize(static_cast<size_t>(globalSlots_.count));
    // Functions can be called before their definition in the text (callbacks
    // are often written at the end of a script).
    defineFunctions(program.statements);
    for (const StmtPtr& stmt : program.statements) {
      if (echo && stmt->kind == StmtKind::Expression) {
        const auto& expression = static_cast<const ExpressionStmt&>(*stmt);
        Variable value = atLine(stmt->line, [&] {
          return expression.expr->kind == ExprKind::Call
                     ? evalCall(static_cast<const CallExpr&>(*expression.expr), true)
                     : eval(*expression.expr);
        });
        if (value.isDefined() && value.type() != Type::Null) writeOutput(formatValue(value, true) + "\n");
        continue;
      }
      exec(*stmt);
    }
  } catch (ScriptError& e) {
    if (e.origin().empty()) e.setOrigin(origin_);
    frame_ = &globals_;
    throw;
  } catch (...) {
    frame_ = &globals_;
    throw;
  }
}

Interpreter::Status Interpreter::run(std::string_view source, const std::string& origin, int firstLine, bool echo,
                                     bool allowIncomplete) {
  try {
    execute(source, origin, firstLine, echo);
    std::fflush(stdout);
    return Status::Ok;
  } catch (const ScriptError& e) {
    std::fflush(stdout);
    if (allowIncomplete && e.atEndOfInput()) return Status::Incomplete;
    const std::string report = errorReport(e.origin() + ":" + std::to_string(e.line()) + ": " + e.what());
    std::fputs(report.c_str(), stderr);
  } catch (const HostError& e) {
    std::fflush(stdout);
    std::fputs(errorReport(e.what()).c_str(), stderr);
  }
  return Status::Failed;
}

std::string Interpreter::errorReport(const std::string& firstLine) const {
  std::string report = firstLine + "\n";
  if (!errorAt_.empty()) report += "  at " + errorAt_ + "\n";
  // Runs of one call (recursion) are shown once with their count, and a long
  // chain by its two ends.
  std::vector<std::string> calls;
  for (size_t i = 0; i < errorCalls_.size();) {
    size_t run = 1;
    while (i + run < errorCalls_.size() && errorCalls_[i + run] == errorCalls_[i]) ++run;
    calls.push_back("  " + errorCalls_[i]);
    if (run > 1)
      calls.push_back("  ... the call above " + std::to_string(run - 1) + " more time" + (run > 2 ? "s" : ""));
    i += run;
  }
  constexpr size_t kShownAtEachEnd = 10;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls.size() > 2 * kShownAtEachEnd && i == kShownAtEachEnd) {
      report += "  ... " + std::to_string(calls.size() - 2 * kShownAtEachEnd) + " more lines of calls\n";
      i = calls.size() - kShownAtEachEnd - 1;
      continue;
    }
    report += calls[i] + "\n";
  }
  return report;
}

// ---------------------------------------------------------------- statements

Interpreter::Flow Interpreter::execBlock(const Block& block) {
  for (const StmtPtr& stmt : block) {
    Flow flow = exec(*stmt);
    if (flow != Flow::Normal) return flow;
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::exec(const Stmt& stmt) {
  checkStack(stmt.line);
  try {
    return atLine(stmt.line, [&] { return execStatement(stmt); });
  } catch (const HostError&) {
    // The innermost statement a routine's error passes names the script line.
    if (errorAt_.empty() && errorCalls_.empty()) errorAt_ = origin_ + ":" + std::to_string(stmt.line);
    throw;
  }
}

Interpreter::Flow Interpreter::execStatement(const Stmt& stmt) {
  switch (stmt.kind) {
    case StmtKind::Expression: {
      const Expr& expr = *static_cast<const ExpressionStmt&>(stmt).expr;
      if (expr.kind == ExprKind::Call)
        evalCall(static_cast<const CallExpr&>(expr), true);
      else
        eval(expr);
      return Flow::Normal;
    }
    case StmtKind::Assign: {
      const auto& a = static_cast<const AssignStmt&>(stmt);
      if (a.op) {
        Variable current, scratch;
        const Variable& left = evalRef(*a.target, current);
        const Variable& right = evalRef(*a.value, scratch);
        assign(*a.target, binaryOperation(*a.op, left, right));
      } else {
        assign(*a.target, eval(*a.value));
      }
      return Flow::Normal;
    }
    case StmtKind::If: {
      // An 'else if' chain runs in a loop, however long it is.
      const auto* branch = &static_cast<const IfStmt&>(stmt);
      while (true) {
        const bool holds = atLine(branch->line, [&] {
          Variable scratch;
          return isTrue(evalRef(*branch->condition, scratch));
        });
        if (holds) return execBlock(branch->thenBlock);
        if (branch->elseBlock.size() != 1 || branch->elseBlock[0]->kind != StmtKind::If)
          return execBlock(branch->elseBlock);
        branch = static_cast<const IfStmt*>(branch->elseBlock[0].get());
      }
    }
    case StmtKind::While: {
      const auto& loop = static_cast<const WhileStmt&>(stmt);
      while (true) {
        checkInterrupt();
        Variable scratch;
        if (!isTrue(evalRef(*loop.condition, scratch))) break;
        Flow flow = execBlock(loop.body);
        if (flow == Flow::Break) break;
        if (flow == Flow::Return) return flow;
      }
      return Flow::Normal;
    }
    case StmtKind::For:
      return execFor(static_cast<const ForStmt&>(stmt));
    case StmtKind::Function:
      defineFunction(static_cast<const FunctionStmt&>(stmt).function);
      return Flow::Normal;
    case StmtKind::Return: {
      const auto& r = static_cast<const ReturnStmt&>(stmt);
      returnValue_ = r.value ? eval(*r.value) : Variable::null();
      return Flow::Return;
    }
    case StmtKind::Break:
      return Flow::Break;
    case StmtKind::Continue:
      return Flow::Continue;
    case StmtKind::Try:
      return execTry(static_cast<const TryStmt&>(stmt));
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::execFor(const ForStmt& loop) {
  Slot& variable = (*frame_)[static_cast<size_t>(loop.slot)];
  auto runBody = [&]() -> int {  // 0 go on, 1 break, 2 return
    Flow flow = execBlock(loop.body);
    if (flow == Flow::Break) return 1;
    if (flow == Flow::Return) return 2;
    return 0;
  };
  // range(...) is counted directly, without making the array.
  if (loop.iterable->kind == ExprKind::Call) {
    const auto& call = static_cast<const CallExpr&>(*loop.iterable);
    if (call.key == "RANGE" && !functions_.count("RANGE") && !call.args.empty() && call.args.size() <= 3 &&
        std::all_of(call.args.begin(), call.args.end(), [](const Argument& a) { return a.keyword.empty(); })) {
      std::vector<Variable> bounds;
      bool integral = true;
      for (const Argument& a : call.args) {
        bounds.push_back(eval(*a.value));
        if (!isInteger(bounds.back().type()) || bounds.back().isArray()) integral = false;
      }
      if (integral) {
        int64_t start = 0, end = 0, step = 1;
        if (bounds.size() == 1) {
          end = toIndex(bounds[0], "range: argument 1");
        } else {
          start = toIndex(bounds[0], "range: argument 1");
          end = toIndex(bounds[1], "range: argument 2");
          if (bounds.size() == 3) step = toIndex(bounds[2], "range: argument 3");
        }
        if (step == 0) throw ScriptError(loop.line, "range: the step must not be 0");
        const bool wide = start < INT32_MIN || start > INT32_MAX || end < INT32_MIN || end > INT32_MAX;
        for (int64_t i = start; step > 0 ? i < end : i > end;) {
          checkInterrupt();
          variable.get() = wide ? Variable::ofInt64(i) : Variable::ofInt32(static_cast<int32_t>(i));
          int outcome = runBody();
          if (outcome == 1) break;
          if (outcome == 2) return Flow::Return;
          if (__builtin_add_overflow(i, step, &i)) break;  // the next value lies beyond int64: past the end
        }
        return Flow::Normal;
      }
    }
  }
  Variable items = eval(*loop.iterable);
  if (!items.isDefined()) throw ScriptError(loop.line, "for: the value to loop over is undefined");
  if (!items.isArray()) {
    variable.get() = std::move(items);
    return runBody() == 2 ? Flow::Return : Flow::Normal;
  }
  const Array& array = *items.array();
  for (int64_t i = 0; i < array.count(); ++i) {
    checkInterrupt();
    variable.get() = elementAt(array, i);
    int outcome = runBody();
    if (outcome == 1) break;
    if (outcome == 2) return Flow::Return;
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::execTry(const TryStmt& attempt) {
  std::string message;
  std::vector<Slot>* frame = frame_;
  int depth = depth_;
  std::string origin = origin_;
  try {
    return execBlock(attempt.body);
  } catch (const InterruptError&) {
    throw;
  } catch (const ScriptError& e) {
    message = e.what();
  } catch (const HostError& e) {
    message = e.what();
  }
  frame_ = frame;  // an error inside a function call leaves us here
  depth_ = depth;
  origin_ = origin;
  errorAt_.clear();
  errorCalls_.clear();
  if (attempt.errorSlot >= 0) (*frame_)[static_cast<size_t>(attempt.errorSlot)].get() = Variable::ofString(message);
  return execBlock(attempt.handler);
}

// ---------------------------------------------------------------- assignment

void Interpreter::assign(const Expr& target, Variable value) {
  if (!value.isDefined()) throw ScriptError(0, "cannot assign an undefined value");
  switch (target.kind) {
    case ExprKind::Name:
      slot(static_cast<const NameExpr&>(target)) = std::move(value);
      return;
    case ExprKind::SystemVariable:
      setSystemVariable(static_cast<const SystemVariableExpr&>(target).name, value, target.line);
      return;
    case ExprKind::Index:
      assignIndexed(static_cast<const IndexExpr&>(target), value);
      return;
    case ExprKind::Field:
      assignField(static_cast<const FieldExpr&>(target), value);
      return;
    default:
      throw ScriptError(target.line, "cannot assign to this expression");
  }
}

namespace {
const NameExpr& requireName(const Expr& e, const char* what) {
  if (e.kind != ExprKind::Name)
    throw ScriptError(e.line,
                      std::string("can only assign to ") + what + " of a variable (expected name[...] or name.FIELD)");
  return static_cast<const NameExpr&>(e);
}
}  // namespace

void Interpreter::assignIndexed(const IndexExpr& target, const Variable& value) {
  const NameExpr& name = requireName(*target.base, "elements");
  // Subscripts first: they may read the array being changed.
  const std::vector<SubscriptValue> subscripts = evalSubscripts(target);
  Variable& variable = slot(name);
  if (!variable.isDefined()) throw ScriptError(target.line, "undefined variable '" + name.name + "'");
  if (!variable.isArray())
    throw ScriptError(target.line, "'" + name.name + "' is " + kindOf(variable) + ", not an array");
  scatter(*variable.array(), select(*variable.array(), subscripts), value);
}

void Interpreter::assignField(const FieldExpr& target, const Variable& value) {
  int64_t element = -1;  // -1: every element
  const NameExpr* name = nullptr;
  if (target.base->kind == ExprKind::Index) {
    const auto& index = static_cast<const IndexExpr&>(*target.base);
    name = &requireName(*index.base, "fields");
    std::vector<SubscriptValue> subscripts;
    for (const Subscript& s : index.subscripts) {
      if (s.isRange)
        throw ScriptError(target.line, "a field is set in one element at a time (expected a single index)");
      SubscriptValue v;
      v.index = toIndex(eval(*s.index), "index");
      subscripts.push_back(v);
    }
    Variable& variable = slot(*name);
    if (!variable.isStruct())
      throw ScriptError(target.line, "'" + name->name + "' is " + kindOf(variable) + ", not a structure array");
    element = select(*variable.array(), subscripts).offset;
  } else {
    name = &requireName(*target.base, "fields");
  }
  Variable& variable = slot(*name);
  if (!variable.isDefined()) throw ScriptError(target.line, "undefined variable '" + name->name + "'");
  if (!variable.isStruct())
    throw ScriptError(target.line, "'" + name->name + "' is " + kindOf(variable) + ", not a structure");
  Array& structs = *variable.array();
  const int field = structs.structDef()->fieldIndex(target.field);
  if (field < 0)
    throw ScriptError(target.line, structureLabel(*structs.structDef()) + " has no field " + upperCase(target.field));
  if (element >= 0) {
    storeField(structs, element, field, value);
  } else {
    for (int64_t i = 0; i < structs.count(); ++i) storeField(structs, i, field, value);
  }
}

// ---------------------------------------------------------------- expressions

const Variable& Interpreter::definedSlot(const NameExpr& name) {
  const Variable& v = slot(name);
  if (!v.isDefined()) throw ScriptError(name.line, "undefined variable '" + name.name + "'");
  return v;
}

const Variable& Interpreter::evalRef(const Expr& expr, Variable& scratch) {
  switch (expr.kind) {
    case ExprKind::Name:
      return definedSlot(static_cast<const NameExpr&>(expr));
    case ExprKind::Literal:
      return static_cast<const LiteralExpr&>(expr).value;
    default:
      scratch = eval(expr);
      return scratch;
  }
}

// A chain a + b - c ... nests to the left as deep as it is long: walk it
// in a loop from the innermost operation out.
Variable Interpreter::evalBinaryChain(const BinaryExpr& outermost) {
  std::vector<const BinaryExpr*> chain{&outermost};
  while (chain.back()->left->kind == ExprKind::Binary)
    chain.push_back(static_cast<const BinaryExpr*>(chain.back()->left.get()));
  Variable leftScratch, result;
  const Variable* left = &evalRef(*chain.back()->left, leftScratch);
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    Variable rightScratch;
    const Variable& right = evalRef(*(*link)->right, rightScratch);
    Variable next = binaryOperation((*link)->op, *left, right);
    result = std::move(next);
    left = &result;
  }
  return result;
}

// 'and' / 'or' chains likewise; each link keeps its short circuit.
bool Interpreter::evalLogicChain(const BinaryExpr& outermost) {
  auto isLogic = [](const Expr& e) { return e.kind == ExprKind::And || e.kind == ExprKind::Or; };
  std::vector<const BinaryExpr*> chain{&outermost};
  while (isLogic(*chain.back()->left)) chain.push_back(static_cast<const BinaryExpr*>(chain.back()->left.get()));
  Variable scratch;
  bool value = isTrue(evalRef(*chain.back()->left, scratch));
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    if ((*link)->kind == ExprKind::And ? !value : value) continue;
    Variable rightScratch;
    value = isTrue(evalRef(*(*link)->right, rightScratch));
  }
  return value;
}

Variable Interpreter::eval(const Expr& expr) {
  checkStack(expr.line);
  switch (expr.kind) {
    case ExprKind::Literal:
      return static_cast<const LiteralExpr&>(expr).value;
    case ExprKind::Name:
      return definedSlot(static_cast<const NameExpr&>(expr));
    case ExprKind::SystemVariable:
      return systemVariable(static_cast<const SystemVariableExpr&>(expr).name, expr.line);
    case ExprKind::ArrayLiteral:
      return evalArrayLiteral(static_cast<const ArrayLiteralExpr&>(expr));
    case ExprKind::StructLiteral:
      return evalStructLiteral(static_cast<const StructLiteralExpr&>(expr));
    case ExprKind::Negate: {
      Variable scratch;
      return negate(evalRef(*static_cast<const UnaryExpr&>(expr).operand, scratch));
    }
    case ExprKind::Not: {
      Variable scratch;
      return logicalNot(evalRef(*static_cast<const UnaryExpr&>(expr).operand, scratch));
    }
    case ExprKind::BitNot: {
      Variable scratch;
      return bitwiseNot(evalRef(*static_cast<const UnaryExpr&>(expr).operand, scratch));
    }
    case ExprKind::Binary: {
      const auto& b = static_cast<const BinaryExpr&>(expr);
      if (b.left->kind == ExprKind::Binary) return evalBinaryChain(b);
      Variable leftScratch, rightScratch;
      const Variable& left = evalRef(*b.left, leftScratch);
      const Variable& right = evalRef(*b.right, rightScratch);
      return binaryOperation(b.op, left, right);
    }
    case ExprKind::And:
    case ExprKind::Or:
      return Variable::ofInt32(evalLogicChain(static_cast<const BinaryExpr&>(expr)));
    case ExprKind::Call:
      return evalCall(static_cast<const CallExpr&>(expr), false);
    case ExprKind::MethodCall:
      return evalMethodCall(static_cast<const MethodCallExpr&>(expr));
    case ExprKind::New: {
      const auto& n = static_cast<const NewExpr&>(expr);
      Runtime& runtime = Runtime::instance();
      if (runtime.findClass(n.className) == nullptr)
        throw ScriptError(expr.line, "unknown class '" + n.className + "' (no loaded module registered it)");
      CallArguments args = prepareArguments(n.args, true, n.className + "::INIT");
      return runtime.newObject(n.className, args.positional, args.keywords);
    }
    case ExprKind::Index:
      return evalIndex(static_cast<const IndexExpr&>(expr));
    case ExprKind::Field:
      return evalField(static_cast<const FieldExpr&>(expr));
  }
  return Variable::null();
}

Interpreter::CallArguments Interpreter::prepareArguments(const std::vector<Argument>& args, bool allowKeywords,
                                                         const std::string& callee) {
  CallArguments prepared;
  for (const Argument& a : args) {
    Variable* target;
    if (a.value->kind == ExprKind::Name) {
      target = &slot(static_cast<const NameExpr&>(*a.value));  // by reference, defined or not
    } else {
      prepared.temporaries.push_back(eval(*a.value));
      target = &prepared.temporaries.back();
    }
    if (a.keyword.empty()) {
      prepared.positional.push_back(target);
      prepared.exprs.push_back(a.value.get());
    } else {
      if (!allowKeywords)
        throw ScriptError(a.value->line, callee + " takes no keywords (got " + upperCase(a.keyword) + "=)");
      prepared.keywords.push_back(KeywordArg{a.keyword, target});
    }
  }
  return prepared;
}

Variable Interpreter::callUser(const UserFunction& function, std::vector<Variable*>& args, int line, bool byRoutine) {
  const FunctionDef& def = *function.def;
  if (args.size() > def.params.size())
    throw ScriptError(line, "function " + def.name + " takes at most " + std::to_string(def.params.size()) +
                                " argument" + (def.params.size() == 1 ? "" : "s") + ", got " +
                                std::to_string(args.size()));
  checkInterrupt();
  checkStack(line);
  if (depth_ >= kMaxCallDepth)
    throw ScriptError(line, "too many nested function calls (more than " + std::to_string(kMaxCallDepth) + ")");
  std::vector<Slot> frame(static_cast<size_t>(def.slotCount));
  for (size_t i = 0; i < args.size(); ++i) frame[i].alias = args[i];
  std::vector<Slot>* callerFrame = frame_;
  std::string callerOrigin = std::move(origin_);
  frame_ = &frame;
  origin_ = function.origin;
  ++depth_;
  struct Restore {
    Interpreter& self;
    std::vector<Slot>* frame;
    std::string& origin;
    ~Restore() {
      self.frame_ = frame;
      self.origin_ = std::move(origin);
      --self.depth_;
    }
  } restore{*this, callerFrame, callerOrigin};
  try {
    Flow flow = execBlock(def.body);
    if (flow == Flow::Return) return std::move(returnValue_);
    return Variable::null();
  } catch (ScriptError& e) {
    if (e.origin().empty()) e.setOrigin(function.origin);
    errorCalls_.push_back(callSite(def.name, callerOrigin, line, byRoutine));
    throw;
  } catch (const HostError&) {
    errorCalls_.push_back(callSite(def.name, callerOrigin, line, byRoutine));
    throw;
  }
}

Variable Interpreter::evalCall(const CallExpr& call, bool statement) {
  auto user = functions_.find(call.key);
  if (user != functions_.end()) {
    CallArguments args = prepareArguments(call.args, true, "function " + call.name);
    // Keywords name parameters: f(1, SCALE=2) sets the parameter scale.
    const FunctionDef& def = *user->second.def;
    std::vector<bool> given(std::max(def.params.size(), args.positional.size()), false);
    std::fill_n(given.begin(), args.positional.size(), true);
    for (const KeywordArg& keyword : args.keywords) {
      auto param = std::find_if(def.params.begin(), def.params.end(),
                                [&](const std::string& p) { return upperCase(p) == upperCase(keyword.name); });
      if (param == def.params.end())
        throw ScriptError(call.line, "function " + def.name + " has no parameter " + upperCase(keyword.name));
      const size_t index = static_cast<size_t>(param - def.params.begin());
      while (args.positional.size() <= index) {
        args.temporaries.emplace_back();  // a parameter left out: undefined
        args.positional.push_back(&args.temporaries.back());
      }
      if (given[index]) throw ScriptError(call.line, "parameter " + *param + " of " + def.name + " is given twice");
      given[index] = true;
      args.positional[index] = keyword.var;
    }
    return callUser(user->second, args.positional, call.line);
  }
  if (const Builtin* builtin = findBuiltin(call.key)) {
    CallArguments args = prepareArguments(call.args, false, call.name);
    const int given = static_cast<int>(args.positional.size());
    if (given < builtin->minArgs || (builtin->maxArgs >= 0 && given > builtin->maxArgs))
      throw ScriptError(call.line, "wrong number of arguments to " + call.name + " (got " + std::to_string(given) +
                                       "; usage: " + builtin->usage + ")");
    BuiltinCall context{call.name, std::move(args.positional), std::move(args.exprs)};
    return builtin->fn(context);
  }
  Runtime& runtime = Runtime::instance();
  const RoutineInfo* function = runtime.findRoutine(call.key, true);
  const RoutineInfo* procedure = runtime.findRoutine(call.key, false);
  if (!function && !procedure) throw ScriptError(call.line, "unknown function '" + call.name + "'");
  bool asFunction = statement ? procedure == nullptr : function != nullptr;
  CallArguments args = prepareArguments(call.args, true, call.name);
  return runtime.call(call.key, asFunction, args.positional, args.keywords);
}

Variable Interpreter::evalMethodCall(const MethodCallExpr& call) {
  Runtime& runtime = Runtime::instance();
  if (call.base->kind == ExprKind::Name) {
    const auto& name = static_cast<const NameExpr&>(*call.base);
    Variable& object = slot(name);
    if (!object.isDefined()) {
      if (runtime.findClass(name.name) == nullptr)
        throw ScriptError(call.line, "undefined variable '" + name.name + "' (and no class of that name)");
      CallArguments args = prepareArguments(call.args, true, upperCase(name.name) + "::" + upperCase(call.method));
      return runtime.callStatic(name.name, call.method, args.positional, args.keywords);
    }
    if (object.type() != Type::Object || object.isArray())
      throw ScriptError(call.line, "cannot call method " + call.method + " on '" + name.name + "': it is " +
                                       kindOf(object) + ", not an object");
    if (object.scalar().id == 0)
      throw ScriptError(call.line, "cannot call method " + call.method + " on null ('" + name.name + "')");
    CallArguments args = prepareArguments(call.args, true, call.method);
    return runtime.callMethod(object, call.method, args.positional, args.keywords);
  }
  Variable object = eval(*call.base);
  if (object.type() != Type::Object || object.isArray() || object.scalar().id == 0)
    throw ScriptError(call.line,
                      "cannot call method " + call.method + " on " + kindOf(object) + " (expected an object)");
  CallArguments args = prepareArguments(call.args, true, call.method);
  return runtime.callMethod(object, call.method, args.positional, args.keywords);
}

std::vector<SubscriptValue> Interpreter::evalSubscripts(const IndexExpr& expr) {
  std::vector<SubscriptValue> subscripts;
  subscripts.reserve(expr.subscripts.size());
  for (const Subscript& s : expr.subscripts) {
    SubscriptValue v;
    if (s.isRange) {
      v.kind = SubscriptValue::Kind::Range;
      if (s.start) v.hasStart = true, v.start = toIndex(eval(*s.start), "range start");
      if (s.end) v.hasEnd = true, v.end = toIndex(eval(*s.end), "range end");
    } else {
      Variable indexScratch;
      const Variable& index = evalRef(*s.index, indexScratch);
      if (index.isArray() && index.array()->isMask()) {
        const Array& mask = *index.array();
        v.kind = SubscriptValue::Kind::Mask;
        v.maskDims.assign(mask.dims(), mask.dims() + mask.ndims());
        for (int64_t i = 0; i < mask.count(); ++i)
          if (mask.as<uint8_t>()[i] != 0) v.list.push_back(i);
      } else if (index.isArray()) {
        if (!isNumeric(index.type())) throw ScriptError(expr.line, "an index array must hold numbers");
        v.kind = SubscriptValue::Kind::List;
        v.list = toIndexList(index, "index");
      } else {
        v.index = toIndex(index, "index");
      }
    }
    subscripts.push_back(std::move(v));
  }
  return subscripts;
}

Variable Interpreter::evalIndex(const IndexExpr& expr) {
  Variable scratch;
  const Variable& base = evalRef(*expr.base, scratch);
  if (!base.isArray())
    throw ScriptError(expr.line, "cannot index " + std::string(kindOf(base)) + " (expected an array)");
  const std::vector<SubscriptValue> subscripts = evalSubscripts(expr);
  return gather(*base.array(), select(*base.array(), subscripts));
}

Variable Interpreter::evalField(const FieldExpr& expr) {
  Variable scratch;
  const Variable& base = evalRef(*expr.base, scratch);
  if (!base.isStruct())
    throw ScriptError(expr.line,
                      "cannot read field " + upperCase(expr.field) + " of " + kindOf(base) + " (expected a structure)");
  const Array& structs = *base.array();
  const StructDef& def = *structs.structDef();
  const int field = def.fieldIndex(expr.field);
  if (field < 0) {
    std::string names;
    for (const StructField& f : def.fields()) names += (names.empty() ? "" : ", ") + f.name;
    throw ScriptError(expr.line,
                      structureLabel(def) + " has no field " + upperCase(expr.field) + " (fields: " + names + ")");
  }
  if (structs.count() == 1) return fieldValue(structs, 0, field);
  // The field of every element, shaped like the structure array.
  const Type type = def.fields()[static_cast<size_t>(field)].type;
  auto values = std::make_unique<Array>(type, std::span<const int64_t>(structs.dims(), structs.ndims()), true);
  for (int64_t i = 0; i < structs.count(); ++i) storeElement(*values, i, fieldValue(structs, i, field));
  return Variable::ofArray(std::move(values));
}

Variable Interpreter::evalArrayLiteral(const ArrayLiteralExpr& expr) {
  std::vector<Variable> items;
  items.reserve(expr.elements.size());
  for (const ExprPtr& e : expr.elements) {
    items.push_back(eval(*e));
    if (!items.back().isDefined()) throw ScriptError(e->line, "array element is undefined");
  }
  if (items.empty()) {
    const int64_t zero = 0;
    return Variable::ofArray(std::make_unique<Array>(Type::Int32, std::span<const int64_t>(&zero, 1), true));
  }
  const Variable& first = items.front();
  // Nested arrays make one more dimension: [[1, 2], [3, 4]] is 2 x 2.
  std::vector<int64_t> inner;
  if (first.isArray() && !(first.isStruct() && first.array()->count() == 1))
    inner.assign(first.array()->dims(), first.array()->dims() + first.array()->ndims());
  Type type = first.type();
  for (const Variable& item : items) {
    std::vector<int64_t> shape;
    if (item.isArray() && !(item.isStruct() && item.array()->count() == 1))
      shape.assign(item.array()->dims(), item.array()->dims() + item.array()->ndims());
    if (shape != inner) throw ScriptError(expr.line, "the elements of an array literal must all have the same shape");
    const bool numeric = isNumeric(item.type()) && isNumeric(type);
    if (numeric) {
      type = promote(type, item.type());
    } else if (item.type() != type) {
      throw ScriptError(expr.line,
                        std::string("cannot mix ") + typeName(type) + " and " + typeName(item.type()) +
                            " in an array (expected all numbers, all strings, or all structures of one kind)");
    }
    if (type == Type::Struct && item.array()->structDef() != first.array()->structDef())
      throw ScriptError(expr.line, "cannot mix structures of different kinds in an array");
  }
  if (type == Type::Undefined || type == Type::Null)
    throw ScriptError(expr.line, "cannot make an array of null values");
  std::vector<int64_t> dims = inner;
  dims.push_back(static_cast<int64_t>(items.size()));
  if (dims.size() > static_cast<size_t>(kMaxDims)) throw ScriptError(expr.line, "too many dimensions (at most 8)");
  const StructDef* def = type == Type::Struct ? first.array()->structDef() : nullptr;
  auto result = std::make_unique<Array>(type, std::span<const int64_t>(dims), true, def);
  int64_t per = 1;
  for (int64_t d : inner) per *= d;
  for (size_t i = 0; i < items.size(); ++i) {
    const int64_t base = static_cast<int64_t>(i) * per;
    if (!items[i].isArray()) {
      storeElement(*result, base, items[i]);
    } else if (type == Type::Struct || items[i].type() == type) {
      for (int64_t k = 0; k < per; ++k) copyElement(*result, base + k, *items[i].array(), k);
    } else {
      Variable converted = convert(items[i], type);
      for (int64_t k = 0; k < per; ++k) copyElement(*result, base + k, *converted.array(), k);
    }
  }
  return Variable::ofArray(std::move(result));
}

Variable Interpreter::evalStructLiteral(const StructLiteralExpr& expr) {
  std::vector<Variable> values;
  // A structure literal defines (once) an anonymous structure named after
  // its fields and their types, so that literals of one shape share it.
  std::string name = "$";
  for (size_t i = 0; i < expr.fields.size(); ++i) {
    values.push_back(eval(*expr.values[i]));
    const Variable& v = values.back();
    if (!v.isDefined() || v.isArray() || v.type() == Type::Null)
      throw ScriptError(
          expr.values[i]->line,
          "field " + expr.fields[i] + " needs a single value (a number, a string or an object), got " + kindOf(v));
    name += (i ? "," : "") + expr.fields[i] + ":" + typeName(v.type());
  }
  std::vector<HostStructTag> tags;
  for (size_t i = 0; i < expr.fields.size(); ++i)
    tags.push_back(HostStructTag{expr.fields[i].c_str(), values[i].type()});
  tags.push_back(HostStructTag{nullptr, Type::Undefined});
  const StructDef* def = HostDefineStructure(name.c_str(), tags.data());
  if (def == nullptr) throw ScriptError(expr.line, "cannot define a structure with these fields");
  const int64_t one = 1;
  auto record = std::make_unique<Array>(Type::Struct, std::span<const int64_t>(&one, 1), true, def);
  for (size_t i = 0; i < values.size(); ++i) storeField(*record, 0, static_cast<int>(i), values[i]);
  return Variable::ofArray(std::move(record));
}

Variable Interpreter::systemVariable(const std::string& name, int line) const {
  if (name == "QUIET") return Variable::ofInt32(Runtime::instance().quiet() ? 1 : 0);
  if (name == "PI") return Variable::ofFloat64(std::numbers::pi);
  if (name == "VERSION") return Variable::ofString(kVersion);
  if (name == "DIR") return Variable::ofString(HostInstallDir());
  if (name == "PRINT_LIMIT") return Variable::ofInt64(printLimit());
  throw ScriptError(line, "unknown system variable !" + name + " (known: !quiet, !print_limit, !pi, !version, !dir)");
}

void Interpreter::setSystemVariable(const std::string& name, const Variable& value, int line) {
  if (name == "QUIET") {
    Runtime::instance().setQuiet(isTrue(value));
    return;
  }
  if (name == "PRINT_LIMIT") {
    const int64_t limit = toIndex(value, "!print_limit");
    if (limit < 0) throw ScriptError(line, "!print_limit must not be negative (0 prints every array in full)");
    setPrintLimit(limit);
    return;
  }
  systemVariable(name, line);  // unknown names fail here
  throw ScriptError(line, "!" + name + " cannot be changed (only !quiet and !print_limit can)");
}

}  // namespace zyl::lang
