// The syntax tree. Every node keeps the line it starts on for messages.
// Variable names are resolved to slots of their function's frame (or of the
// global frame) when parsed, so the evaluator never looks names up by text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "zyl/value.h"

namespace zyl::lang {

struct Expr;
struct Stmt;
using ExprPtr = std::unique_ptr<Expr>;
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

enum class BinaryOp {
  Add,
  Subtract,
  Multiply,
  Divide,
  Modulo,
  Power,
  BitAnd,
  BitOr,
  BitXor,
  ShiftLeft,
  ShiftRight,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual
};

enum class ExprKind {
  Literal,
  Name,
  SystemVariable,
  ArrayLiteral,
  StructLiteral,
  Negate,
  Not,
  BitNot,
  Binary,
  And,
  Or,
  Call,
  MethodCall,
  New,
  Index,
  Field
};

struct Expr {
  Expr(ExprKind k, int l) : kind(k), line(l) {}
  virtual ~Expr() = default;
  ExprKind kind;
  int line;
};

struct LiteralExpr : Expr {
  explicit LiteralExpr(int l, Variable v) : Expr(ExprKind::Literal, l), value(std::move(v)) {}
  Variable value;
};

struct NameExpr : Expr {
  NameExpr(int l, std::string n, int s) : Expr(ExprKind::Name, l), name(std::move(n)), slot(s) {}
  std::string name;
  int slot;
};

struct SystemVariableExpr : Expr {
  SystemVariableExpr(int l, std::string n) : Expr(ExprKind::SystemVariable, l), name(std::move(n)) {}
  std::string name;  // upper case, without '!'
};

struct ArrayLiteralExpr : Expr {
  explicit ArrayLiteralExpr(int l) : Expr(ExprKind::ArrayLiteral, l) {}
  std::vector<ExprPtr> elements;
};

struct StructLiteralExpr : Expr {
  explicit StructLiteralExpr(int l) : Expr(ExprKind::StructLiteral, l) {}
  std::vector<std::string> fields;  // upper case
  std::vector<ExprPtr> values;
};

struct UnaryExpr : Expr {
  UnaryExpr(ExprKind k, int l, ExprPtr o) : Expr(k, l), operand(std::move(o)) {}
  ExprPtr operand;
};

struct BinaryExpr : Expr {
  BinaryExpr(ExprKind k, int l, BinaryOp o, ExprPtr a, ExprPtr b)
      : Expr(k, l), op(o), left(std::move(a)), right(std::move(b)) {}
  // A chain 1 + 2 + ... + n nests to the left as deep as it is long: free it
  // in a loop rather than by recursion.
  ~BinaryExpr() override {
    ExprPtr next = std::move(left);
    while (next && (next->kind == ExprKind::Binary || next->kind == ExprKind::And || next->kind == ExprKind::Or)) {
      ExprPtr after = std::move(static_cast<BinaryExpr&>(*next).left);
      next = std::move(after);
    }
  }
  BinaryOp op;  // unused for And / Or
  ExprPtr left;
  ExprPtr right;
};

// A positional argument (keyword empty) or a keyword argument NAME=value.
struct Argument {
  std::string keyword;
  ExprPtr value;
};

struct CallExpr : Expr {
  CallExpr(int l, std::string n, std::string k) : Expr(ExprKind::Call, l), name(std::move(n)), key(std::move(k)) {}
  std::string name;  // as written
  std::string key;   // upper case: function names are not case-sensitive
  std::vector<Argument> args;
};

// object.Method(...) or Class.Method(...): which one is decided when it runs.
struct MethodCallExpr : Expr {
  MethodCallExpr(int l, ExprPtr b, std::string m)
      : Expr(ExprKind::MethodCall, l), base(std::move(b)), method(std::move(m)) {}
  ExprPtr base;
  std::string method;
  std::vector<Argument> args;
};

struct NewExpr : Expr {
  NewExpr(int l, std::string c) : Expr(ExprKind::New, l), className(std::move(c)) {}
  std::string className;
  std::vector<Argument> args;
};

// One subscript: a single index, or a range start:end (end excluded; either
// may be omitted, ':' alone takes the whole dimension).
struct Subscript {
  ExprPtr index;  // single index when !isRange
  bool isRange = false;
  ExprPtr start;
  ExprPtr end;
};

struct IndexExpr : Expr {
  IndexExpr(int l, ExprPtr b) : Expr(ExprKind::Index, l), base(std::move(b)) {}
  ExprPtr base;
  std::vector<Subscript> subscripts;
};

struct FieldExpr : Expr {
  FieldExpr(int l, ExprPtr b, std::string f) : Expr(ExprKind::Field, l), base(std::move(b)), field(std::move(f)) {}
  ExprPtr base;
  std::string field;  // as written; matched case-insensitively
};

enum class StmtKind { Expression, Assign, If, While, For, Function, Return, Break, Continue, Try };

struct Stmt {
  Stmt(StmtKind k, int l) : kind(k), line(l) {}
  virtual ~Stmt() = default;
  StmtKind kind;
  int line;
};

struct ExpressionStmt : Stmt {
  ExpressionStmt(int l, ExprPtr e) : Stmt(StmtKind::Expression, l), expr(std::move(e)) {}
  ExprPtr expr;
};

struct AssignStmt : Stmt {
  AssignStmt(int l, ExprPtr t, std::optional<BinaryOp> o, ExprPtr v)
      : Stmt(StmtKind::Assign, l), target(std::move(t)), op(o), value(std::move(v)) {}
  ExprPtr target;              // Name, SystemVariable, Index or Field
  std::optional<BinaryOp> op;  // set for +=, -=, *=, /=
  ExprPtr value;
};

struct IfStmt : Stmt {
  IfStmt(int l, ExprPtr c) : Stmt(StmtKind::If, l), condition(std::move(c)) {}
  ~IfStmt() override;  // frees an 'else if' chain in a loop
  ExprPtr condition;
  Block thenBlock;
  Block elseBlock;  // an 'else if' is an IfStmt alone in here
};

inline IfStmt::~IfStmt() {
  Block next = std::move(elseBlock);
  while (next.size() == 1 && next[0]->kind == StmtKind::If) {
    Block after = std::move(static_cast<IfStmt&>(*next[0]).elseBlock);
    next = std::move(after);
  }
}

struct WhileStmt : Stmt {
  WhileStmt(int l, ExprPtr c) : Stmt(StmtKind::While, l), condition(std::move(c)) {}
  ExprPtr condition;
  Block body;
};

struct ForStmt : Stmt {
  ForStmt(int l, std::string v, int s, ExprPtr i)
      : Stmt(StmtKind::For, l), variable(std::move(v)), slot(s), iterable(std::move(i)) {}
  std::string variable;
  int slot;
  ExprPtr iterable;
  Block body;
};

struct FunctionDef {
  std::string name;                 // as written
  std::vector<std::string> params;  // slots 0 .. params.size()-1
  int slotCount = 0;
  Block body;
  int line = 0;
};

struct FunctionStmt : Stmt {
  FunctionStmt(int l, std::shared_ptr<FunctionDef> f) : Stmt(StmtKind::Function, l), function(std::move(f)) {}
  std::shared_ptr<FunctionDef> function;  // shared: the interpreter keeps it after the tree goes
};

struct ReturnStmt : Stmt {
  ReturnStmt(int l, ExprPtr v) : Stmt(StmtKind::Return, l), value(std::move(v)) {}
  ExprPtr value;  // may be null
};

struct TryStmt : Stmt {
  TryStmt(int l) : Stmt(StmtKind::Try, l) {}
  Block body;
  std::string errorVariable;  // empty when 'catch' names none
  int errorSlot = -1;
  Block handler;
};

// Names of one frame and their slots. The global table outlives a parse, so
// that lines typed at the prompt share their variables.
struct SlotTable {
  std::unordered_map<std::string, int> slots;
  int count = 0;
  int slotOf(const std::string& name) {
    auto [it, inserted] = slots.try_emplace(name, count);
    if (inserted) ++count;
    return it->second;
  }
};

struct Program {
  Block statements;
};

}  // namespace zyl::lang
