#include "parser.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "error.h"

namespace zyl::lang {
namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
  return out;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, SlotTable& globals) : tokens_(std::move(tokens)), slots_(&globals) {}

  Program program() {
    Program program;
    skipTerminators();
    while (!check(Tok::End)) {
      program.statements.push_back(statement());
      endOfStatement();
      skipTerminators();
    }
    return program;
  }

 private:
  // ---------------------------------------------------------------- tokens
  const Token& peek(size_t ahead = 0) const { return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)]; }
  bool check(Tok kind) const { return peek().kind == kind; }
  const Token& advance() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  bool match(Tok kind) {
    if (!check(kind)) return false;
    advance();
    return true;
  }
  [[noreturn]] void fail(const std::string& expected) const {
    const Token& t = peek();
    std::string found = t.kind == Tok::Identifier || t.kind == Tok::Integer || t.kind == Tok::Float ? "'" + t.text + "'"
                        : t.kind == Tok::String ? "string \"" + t.text + "\""
                                                : describe(t.kind);
    // The lexer ends every text with a newline: running into it is running
    // out of input, which the prompt answers with a continuation line.
    const bool atEnd = t.kind == Tok::End || (t.kind == Tok::Newline && peek(1).kind == Tok::End);
    if (atEnd) found = "end of input";
    throw ScriptError(t.line, "expected " + expected + ", found " + found, atEnd);
  }
  const Token& expect(Tok kind, const std::string& context = "") {
    if (!check(kind)) fail(describe(kind) + context);
    return advance();
  }
  void skipNewlines() {
    while (check(Tok::Newline)) advance();
  }
  void skipTerminators() {
    while (check(Tok::Newline) || check(Tok::Semicolon)) advance();
  }
  void endOfStatement() {
    if (check(Tok::Newline) || check(Tok::Semicolon)) {
      advance();
      return;
    }
    if (check(Tok::RBrace) || check(Tok::End)) return;
    fail("end of statement (newline or ';')");
  }

  // ---------------------------------------------------------------- nesting
  // One level deeper for as long as it lives.
  class Nest {
   public:
    explicit Nest(Parser& parser) : parser_(parser) { parser_.deeper(); }
    ~Nest() { --parser_.depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    Parser& parser_;
  };
  void deeper() {
    if (++depth_ > kMaxNesting) {
      --depth_;
      throw ScriptError(peek().line, "nesting too deep (more than " + std::to_string(kMaxNesting) +
                                         " levels of parentheses, brackets, calls, operators or blocks)");
    }
  }

  // ---------------------------------------------------------------- statements
  StmtPtr statement() {
    Nest nest(*this);
    int line = peek().line;
    switch (peek().kind) {
      case Tok::If:
        return ifStatement();
      case Tok::While: {
        advance();
        auto loop = std::make_unique<WhileStmt>(line, expression());
        ++loopDepth_;
        loop->body = block("after the while condition");
        --loopDepth_;
        return loop;
      }
      case Tok::For: {
        advance();
        const Token& name = expect(Tok::Identifier, " (the loop variable)");
        std::string variable = name.text;
        expect(Tok::In, " after the loop variable");
        auto loop = std::make_unique<ForStmt>(line, variable, slots_->slotOf(variable), expression());
        ++loopDepth_;
        loop->body = block("after the for range");
        --loopDepth_;
        return loop;
      }
      case Tok::Func:
        return functionDefinition();
      case Tok::Return: {
        advance();
        if (!inFunction_) throw ScriptError(line, "'return' outside a function");
        ExprPtr value;
        if (!check(Tok::Newline) && !check(Tok::Semicolon) && !check(Tok::RBrace) && !check(Tok::End))
          value = expression();
        return std::make_unique<ReturnStmt>(line, std::move(value));
      }
      case Tok::Break:
      case Tok::Continue: {
        bool isBreak = advance().kind == Tok::Break;
        if (loopDepth_ == 0)
          throw ScriptError(line, std::string("'") + (isBreak ? "break" : "continue") + "' outside a loop");
        return std::make_unique<Stmt>(isBreak ? StmtKind::Break : StmtKind::Continue, line);
      }
      case Tok::Try: {
        advance();
        auto attempt = std::make_unique<TryStmt>(line);
        attempt->body = block("after 'try'");
        skipNewlines();
        expect(Tok::Catch, " after the try block");
        if (check(Tok::Identifier)) {
          attempt->errorVariable = advance().text;
          attempt->errorSlot = slots_->slotOf(attempt->errorVariable);
        }
        attempt->handler = block("after 'catch'");
        return attempt;
      }
      case Tok::RBrace:
        throw ScriptError(line, "unexpected '}' (no block is open)");
      default:
        break;
    }
    ExprPtr expr = expression();
    std::optional<BinaryOp> op;
    switch (peek().kind) {
      case Tok::Assign:
        break;
      case Tok::PlusAssign:
        op = BinaryOp::Add;
        break;
      case Tok::MinusAssign:
        op = BinaryOp::Subtract;
        break;
      case Tok::StarAssign:
        op = BinaryOp::Multiply;
        break;
      case Tok::SlashAssign:
        op = BinaryOp::Divide;
        break;
      default:
        return std::make_unique<ExpressionStmt>(line, std::move(expr));
    }
    advance();
    switch (expr->kind) {
      case ExprKind::Name:
      case ExprKind::SystemVariable:
      case ExprKind::Index:
      case ExprKind::Field:
        break;
      default:
        throw ScriptError(line,
                          "cannot assign to this expression (expected a variable, an element a[i] or a field s.NAME)");
    }
    ExprPtr value = expression();
    return std::make_unique<AssignStmt>(line, std::move(expr), op, std::move(value));
  }

  // An 'else if' chain is built in a loop: each IfStmt holds the next alone
  // in its else block, however long the chain.
  StmtPtr ifStatement() {
    int line = advance().line;
    auto first = std::make_unique<IfStmt>(line, expression());
    first->thenBlock = block("after the if condition");
    IfStmt* branch = first.get();
    while (true) {
      // 'else' may start the next line; a statement never begins with it.
      size_t save = pos_;
      skipNewlines();
      if (!match(Tok::Else)) {
        pos_ = save;
        break;
      }
      if (!check(Tok::If)) {
        branch->elseBlock = block("after 'else'");
        break;
      }
      int elseIfLine = advance().line;
      auto next = std::make_unique<IfStmt>(elseIfLine, expression());
      next->thenBlock = block("after the if condition");
      IfStmt* nextBranch = next.get();
      branch->elseBlock.push_back(std::move(next));
      branch = nextBranch;
    }
    return first;
  }

  Block block(const std::string& context) {
    expect(Tok::LBrace, " " + context);
    Block statements;
    skipTerminators();
    while (!check(Tok::RBrace)) {
      if (check(Tok::End)) fail("'}' to close the block");
      statements.push_back(statement());
      endOfStatement();
      skipTerminators();
    }
    advance();
    return statements;
  }

  StmtPtr functionDefinition() {
    int line = advance().line;
    if (inFunction_) throw ScriptError(line, "functions are defined at the top level, not inside another function");
    auto function = std::make_shared<FunctionDef>();
    function->line = line;
    function->name = expect(Tok::Identifier, " (the function name)").text;
    SlotTable local;
    expect(Tok::LParen, " after the function name");
    if (!check(Tok::RParen)) {
      do {
        const Token& param = expect(Tok::Identifier, " (a parameter name)");
        if (local.slots.count(param.text))
          throw ScriptError(param.line, "parameter '" + param.text + "' appears twice");
        function->params.push_back(param.text);
        local.slotOf(param.text);
      } while (match(Tok::Comma));
    }
    expect(Tok::RParen, " after the parameters");
    SlotTable* outer = slots_;
    int outerLoops = loopDepth_;
    slots_ = &local;
    inFunction_ = true;
    loopDepth_ = 0;
    function->body = block("after the parameter list");
    slots_ = outer;
    inFunction_ = false;
    loopDepth_ = outerLoops;
    function->slotCount = local.count;
    return std::make_unique<FunctionStmt>(line, std::move(function));
  }

  // ---------------------------------------------------------------- expressions
  ExprPtr expression() {
    Nest nest(*this);
    return orExpression();
  }

  ExprPtr orExpression() {
    ExprPtr left = andExpression();
    while (check(Tok::Or) || check(Tok::OrOr)) {
      int line = advance().line;
      left = std::make_unique<BinaryExpr>(ExprKind::Or, line, BinaryOp::Equal, std::move(left), andExpression());
    }
    return left;
  }

  ExprPtr andExpression() {
    ExprPtr left = notExpression();
    while (check(Tok::And) || check(Tok::AndAnd)) {
      int line = advance().line;
      left = std::make_unique<BinaryExpr>(ExprKind::And, line, BinaryOp::Equal, std::move(left), notExpression());
    }
    return left;
  }

  ExprPtr notExpression() {
    if (check(Tok::Not)) {
      Nest nest(*this);
      int line = advance().line;
      return std::make_unique<UnaryExpr>(ExprKind::Not, line, notExpression());
    }
    return comparison();
  }

  ExprPtr comparison() {
    ExprPtr left = bitOr();
    bool compared = false;
    while (true) {
      BinaryOp op;
      switch (peek().kind) {
        case Tok::Equal:
          op = BinaryOp::Equal;
          break;
        case Tok::NotEqual:
          op = BinaryOp::NotEqual;
          break;
        case Tok::Less:
          op = BinaryOp::Less;
          break;
        case Tok::LessEqual:
          op = BinaryOp::LessEqual;
          break;
        case Tok::Greater:
          op = BinaryOp::Greater;
          break;
        case Tok::GreaterEqual:
          op = BinaryOp::GreaterEqual;
          break;
        default:
          return left;
      }
      const Token& symbol = advance();
      if (compared)
        throw ScriptError(symbol.line, "comparisons cannot be chained (a < b < c): write (a < b) and (b < c)");
      compared = true;
      left = std::make_unique<BinaryExpr>(ExprKind::Binary, symbol.line, op, std::move(left), bitOr());
    }
  }

  // Bitwise operators bind as in Python: tighter than comparisons (so that
  // px & 0x8000 == 0 tests a bit), | below xor below & below shifts.
  ExprPtr bitOr() { return leftChain({Tok::Pipe}, &Parser::bitXor); }
  ExprPtr bitXor() { return leftChain({Tok::Xor}, &Parser::bitAnd); }
  ExprPtr bitAnd() { return leftChain({Tok::Amp}, &Parser::shift); }
  ExprPtr shift() { return leftChain({Tok::ShiftLeft, Tok::ShiftRight}, &Parser::additive); }

  // A left-associative chain of the operators `kinds` over operands `next`.
  ExprPtr leftChain(std::initializer_list<Tok> kinds, ExprPtr (Parser::*next)()) {
    ExprPtr left = (this->*next)();
    while (std::find(kinds.begin(), kinds.end(), peek().kind) != kinds.end()) {
      const Token& t = advance();
      left =
          std::make_unique<BinaryExpr>(ExprKind::Binary, t.line, binaryOpOf(t.kind), std::move(left), (this->*next)());
    }
    return left;
  }

  static BinaryOp binaryOpOf(Tok kind) {
    switch (kind) {
      case Tok::Pipe:
        return BinaryOp::BitOr;
      case Tok::Xor:
        return BinaryOp::BitXor;
      case Tok::Amp:
        return BinaryOp::BitAnd;
      case Tok::ShiftLeft:
        return BinaryOp::ShiftLeft;
      default:
        return BinaryOp::ShiftRight;
    }
  }

  ExprPtr additive() {
    ExprPtr left = multiplicative();
    while (check(Tok::Plus) || check(Tok::Minus)) {
      const Token& t = advance();
      BinaryOp op = t.kind == Tok::Plus ? BinaryOp::Add : BinaryOp::Subtract;
      left = std::make_unique<BinaryExpr>(ExprKind::Binary, t.line, op, std::move(left), multiplicative());
    }
    return left;
  }

  ExprPtr multiplicative() {
    ExprPtr left = unary();
    while (check(Tok::Star) || check(Tok::Slash) || check(Tok::Percent)) {
      const Token& t = advance();
      BinaryOp op = t.kind == Tok::Star    ? BinaryOp::Multiply
                    : t.kind == Tok::Slash ? BinaryOp::Divide
                                           : BinaryOp::Modulo;
      left = std::make_unique<BinaryExpr>(ExprKind::Binary, t.line, op, std::move(left), unary());
    }
    return left;
  }

  ExprPtr unary() {
    if (check(Tok::Minus)) {
      Nest nest(*this);
      int line = advance().line;
      ExprPtr operand = unary();
      if (operand->kind == ExprKind::Literal) {  // fold -5 so that literals stay literals
        auto& literal = static_cast<LiteralExpr&>(*operand);
        Variable& v = literal.value;
        if (v.type() == Type::Int32 && v.scalar().i32 != std::numeric_limits<int32_t>::min()) {
          v = Variable::ofInt32(-v.scalar().i32);
          return operand;
        }
        if (v.type() == Type::Int64 && v.scalar().i64 != std::numeric_limits<int64_t>::min()) {
          int64_t negated = -v.scalar().i64;
          v = negated >= std::numeric_limits<int32_t>::min() ? Variable::ofInt32(static_cast<int32_t>(negated))
                                                             : Variable::ofInt64(negated);
          return operand;
        }
        if (v.type() == Type::Float64) {
          v = Variable::ofFloat64(-v.scalar().f64);
          return operand;
        }
        if (v.type() == Type::UInt64) {  // only -9223372036854775808 still fits, as int64
          if (v.scalar().u64 != static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1)
            throw ScriptError(line, "integer -" + std::to_string(v.scalar().u64) +
                                        " is too small (int64 ends at -9223372036854775808)");
          v = Variable::ofInt64(std::numeric_limits<int64_t>::min());
          return operand;
        }
      }
      return std::make_unique<UnaryExpr>(ExprKind::Negate, line, std::move(operand));
    }
    if (check(Tok::Plus)) {
      Nest nest(*this);
      advance();
      return unary();
    }
    if (check(Tok::Tilde)) {
      Nest nest(*this);
      int line = advance().line;
      return std::make_unique<UnaryExpr>(ExprKind::BitNot, line, unary());
    }
    return power();
  }

  ExprPtr power() {
    ExprPtr base = postfix();
    if (check(Tok::Caret)) {
      Nest nest(*this);  // right-associative: 2^2^2... nests
      int line = advance().line;
      return std::make_unique<BinaryExpr>(ExprKind::Binary, line, BinaryOp::Power, std::move(base), unary());
    }
    return base;
  }

  ExprPtr postfix() {
    ExprPtr expr = primary();
    // Each link of a chain a.b[1].c() nests the tree one level deeper.
    const int outerDepth = depth_;
    struct RestoreDepth {
      int& depth;
      int value;
      ~RestoreDepth() { depth = value; }
    } restore{depth_, outerDepth};
    while (true) {
      if (check(Tok::Dot) || check(Tok::LBracket)) deeper();
      if (check(Tok::Dot)) {
        int line = advance().line;
        const Token& name = expect(Tok::Identifier, " (a field or method name) after '.'");
        if (check(Tok::LParen)) {
          auto call = std::make_unique<MethodCallExpr>(line, std::move(expr), name.text);
          call->args = arguments();
          expr = std::move(call);
        } else {
          expr = std::make_unique<FieldExpr>(line, std::move(expr), name.text);
        }
      } else if (check(Tok::LBracket)) {
        int line = advance().line;
        auto index = std::make_unique<IndexExpr>(line, std::move(expr));
        do {
          index->subscripts.push_back(subscript());
        } while (match(Tok::Comma));
        expect(Tok::RBracket, " to close the subscripts");
        if (index->subscripts.size() > static_cast<size_t>(kMaxDims))
          throw ScriptError(line, "too many subscripts (at most " + std::to_string(kMaxDims) + ")");
        expr = std::move(index);
      } else {
        return expr;
      }
    }
  }

  Subscript subscript() {
    Subscript sub;
    auto endsRange = [&] { return check(Tok::Comma) || check(Tok::RBracket); };
    if (!check(Tok::Colon)) {
      sub.index = expression();
      if (!check(Tok::Colon)) return sub;
    }
    advance();  // ':'
    sub.isRange = true;
    sub.start = std::move(sub.index);
    if (!endsRange()) sub.end = expression();
    return sub;
  }

  std::vector<Argument> arguments() {
    expect(Tok::LParen);
    std::vector<Argument> args;
    if (match(Tok::RParen)) return args;
    do {
      Argument arg;
      if (check(Tok::Identifier) && peek(1).kind == Tok::Assign) {
        arg.keyword = advance().text;
        advance();
      } else if (check(Tok::Slash) && peek(1).kind == Tok::Identifier) {
        // /NAME is NAME=1, the usual way to set a flag keyword.
        advance();
        const Token& name = advance();
        arg.keyword = name.text;
        arg.value = std::make_unique<LiteralExpr>(name.line, Variable::ofInt32(1));
        args.push_back(std::move(arg));
        continue;
      }
      arg.value = expression();
      args.push_back(std::move(arg));
    } while (match(Tok::Comma));
    expect(Tok::RParen, " to close the argument list");
    return args;
  }

  ExprPtr primary() {
    const Token& t = peek();
    int line = t.line;
    switch (t.kind) {
      case Tok::Integer: {
        uint64_t v = advance().intValue;
        Variable value = v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                             ? Variable::ofInt32(static_cast<int32_t>(v))
                         : v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                             ? Variable::ofInt64(static_cast<int64_t>(v))
                             : Variable::ofUInt64(v);
        return std::make_unique<LiteralExpr>(line, std::move(value));
      }
      case Tok::Float:
        return std::make_unique<LiteralExpr>(line, Variable::ofFloat64(advance().floatValue));
      case Tok::String:
        return std::make_unique<LiteralExpr>(line, Variable::ofString(advance().text));
      case Tok::Null:
        advance();
        return std::make_unique<LiteralExpr>(line, Variable::null());
      case Tok::SystemVariable:
        return std::make_unique<SystemVariableExpr>(line, upper(advance().text));
      case Tok::Identifier: {
        std::string name = advance().text;
        if (check(Tok::LParen)) {
          auto call = std::make_unique<CallExpr>(line, name, upper(name));
          call->args = arguments();
          return call;
        }
        return std::make_unique<NameExpr>(line, name, slots_->slotOf(name));
      }
      case Tok::LParen: {
        advance();
        ExprPtr inner = expression();
        expect(Tok::RParen, " to close '('");
        return inner;
      }
      case Tok::LBracket: {
        advance();
        auto array = std::make_unique<ArrayLiteralExpr>(line);
        if (!check(Tok::RBracket)) {
          do {
            array->elements.push_back(expression());
          } while (match(Tok::Comma));
        }
        expect(Tok::RBracket, " to close the array");
        return array;
      }
      case Tok::LBrace: {
        advance();
        auto record = std::make_unique<StructLiteralExpr>(line);
        skipNewlines();
        if (!check(Tok::RBrace)) {
          do {
            skipNewlines();
            const Token& field = expect(Tok::Identifier, " (a field name)");
            std::string name = upper(field.text);
            if (std::find(record->fields.begin(), record->fields.end(), name) != record->fields.end())
              throw ScriptError(field.line, "field " + name + " appears twice");
            expect(Tok::Colon, " after the field name");
            record->fields.push_back(name);
            record->values.push_back(expression());
            skipNewlines();
          } while (match(Tok::Comma));
        }
        skipNewlines();
        expect(Tok::RBrace, " to close the structure");
        return record;
      }
      case Tok::New: {
        advance();
        const Token& name = expect(Tok::Identifier, " (a class name) after 'new'");
        auto creation = std::make_unique<NewExpr>(line, name.text);
        if (check(Tok::LParen)) creation->args = arguments();
        return creation;
      }
      default:
        fail("an expression");
    }
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  SlotTable* slots_;
  bool inFunction_ = false;
  int loopDepth_ = 0;
  int depth_ = 0;
};

}  // namespace

Program parse(std::vector<Token> tokens, SlotTable& globals) { return Parser(std::move(tokens), globals).program(); }

Program parseSource(std::string_view source, SlotTable& globals, int firstLine) {
  return parse(tokenize(source, firstLine), globals);
}

}  // namespace zyl::lang
