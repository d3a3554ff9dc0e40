// Lexer and parser on their own: tokens, literal types, line numbers, the
// shape of the tree and the errors the prompt relies on.
#include <gtest/gtest.h>

#include "error.h"
#include "lexer.h"
#include "parser.h"

namespace zyl::lang {
namespace {

std::vector<Tok> kinds(std::string_view source) {
  std::vector<Tok> out;
  for (const Token& t : tokenize(source)) out.push_back(t.kind);
  return out;
}

TEST(Lexer, SplitsOperatorsSystemVariablesAndReservedWords) {
  EXPECT_EQ(kinds("a != b and !quiet >= 2"),
            (std::vector<Tok>{Tok::Identifier, Tok::NotEqual, Tok::Identifier, Tok::And, Tok::SystemVariable,
                              Tok::GreaterEqual, Tok::Integer, Tok::Newline, Tok::End}));
  EXPECT_EQ(kinds("x += 1; If"), (std::vector<Tok>{Tok::Identifier, Tok::PlusAssign, Tok::Integer, Tok::Semicolon,
                                                   Tok::Identifier, Tok::Newline, Tok::End}));
  auto tokens = tokenize("!Quiet");
  EXPECT_EQ(tokens[0].text, "Quiet");
}

TEST(Lexer, ReadsNumbersAndStrings) {
  auto t = tokenize("42 2.5 1e3 .5 0x1F 7.field 'it\\'s' \"a\\tb\\n\"");
  EXPECT_EQ(t[0].intValue, 42u);
  EXPECT_EQ(t[1].kind, Tok::Float);
  EXPECT_DOUBLE_EQ(t[1].floatValue, 2.5);
  EXPECT_DOUBLE_EQ(t[2].floatValue, 1000.0);
  EXPECT_DOUBLE_EQ(t[3].floatValue, 0.5);
  EXPECT_EQ(t[4].intValue, 31u);
  EXPECT_EQ(t[5].kind, Tok::Integer);  // 7 then .field
  EXPECT_EQ(t[6].kind, Tok::Dot);
  EXPECT_EQ(t[8].text, "it's");
  EXPECT_EQ(t[9].text, "a\tb\n");
}

TEST(Lexer, KeepsNewlinesOnlyOutsideBracketsAndCountsLines) {
  auto t = tokenize("f(1,\n 2)\n# comment\n[3,\n4] # end\nx = 1 \\\n + 2");
  std::vector<Tok> k;
  for (auto& tok : t) k.push_back(tok.kind);
  EXPECT_EQ(std::count(k.begin(), k.end(), Tok::Newline), 4);
  EXPECT_EQ(t.back().line, 7);
  const Token& two = *std::find_if(t.begin(), t.end(), [](const Token& x) { return x.text == "2" && x.line == 7; });
  EXPECT_EQ(two.kind, Tok::Integer);
}

TEST(Lexer, RejectsWhatItCannotRead) {
  for (const char* bad : {"\"open", "'x\n'", "a ** b", "a // b", "!", "5abc", "\"\\q\"", "$x", "0x"}) {
    EXPECT_THROW(tokenize(bad), ScriptError) << bad;
  }
  try {
    tokenize("ok\nok\n  @");
    FAIL();
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.line(), 3);
  }
}

Program parseText(std::string_view text) {
  SlotTable globals;
  return parseSource(text, globals);
}

const Expr& valueOf(const Program& p, size_t i = 0) {
  const Stmt& s = *p.statements.at(i);
  if (s.kind == StmtKind::Assign) return *static_cast<const AssignStmt&>(s).value;
  return *static_cast<const ExpressionStmt&>(s).expr;
}

TEST(Parser, GivesOperatorsTheirPrecedence) {
  Program p = parseText("x = 1 + 2 * 3 ^ 2 > 4 and not y or z");
  const auto& orExpr = static_cast<const BinaryExpr&>(valueOf(p));
  ASSERT_EQ(orExpr.kind, ExprKind::Or);
  const auto& andExpr = static_cast<const BinaryExpr&>(*orExpr.left);
  ASSERT_EQ(andExpr.kind, ExprKind::And);
  EXPECT_EQ(andExpr.right->kind, ExprKind::Not);
  const auto& greater = static_cast<const BinaryExpr&>(*andExpr.left);
  EXPECT_EQ(greater.op, BinaryOp::Greater);
  const auto& plus = static_cast<const BinaryExpr&>(*greater.left);
  EXPECT_EQ(plus.op, BinaryOp::Add);
  const auto& times = static_cast<const BinaryExpr&>(*plus.right);
  EXPECT_EQ(times.op, BinaryOp::Multiply);
  EXPECT_EQ(static_cast<const BinaryExpr&>(*times.right).op, BinaryOp::Power);
}

TEST(Parser, TypesIntegerLiteralsBySize) {
  Program p = parseText("a = 2147483647\nb = 2147483648\nc = -2147483648\nd = 18446744073709551615\ne = -2.5");
  EXPECT_EQ(static_cast<const LiteralExpr&>(valueOf(p, 0)).value.type(), Type::Int32);
  EXPECT_EQ(static_cast<const LiteralExpr&>(valueOf(p, 1)).value.type(), Type::Int64);
  EXPECT_EQ(static_cast<const LiteralExpr&>(valueOf(p, 2)).value.type(), Type::Int32);
  EXPECT_EQ(static_cast<const LiteralExpr&>(valueOf(p, 3)).value.type(), Type::UInt64);
  EXPECT_DOUBLE_EQ(static_cast<const LiteralExpr&>(valueOf(p, 4)).value.scalar().f64, -2.5);
}

TEST(Parser, SeparatesKeywordsFromPositionalArguments) {
  Program p = parseText("v = f.GetValue(\"0010,0010\", COUNT=n, /QUIET, x == 1)");
  const auto& call = static_cast<const MethodCallExpr&>(valueOf(p));
  ASSERT_EQ(call.args.size(), 4u);
  EXPECT_TRUE(call.args[0].keyword.empty());
  EXPECT_EQ(call.args[1].keyword, "COUNT");
  EXPECT_EQ(call.args[1].value->kind, ExprKind::Name);
  EXPECT_EQ(call.args[2].keyword, "QUIET");
  EXPECT_EQ(call.args[2].value->kind, ExprKind::Literal);
  EXPECT_TRUE(call.args[3].keyword.empty());
}

TEST(Parser, GivesFunctionsTheirOwnSlotsAndSharesGlobalsBetweenParses) {
  SlotTable globals;
  Program first = parseSource("x = 1\nfunc f(a, b) { c = a + x }", globals);
  const auto& def = *static_cast<const FunctionStmt&>(*first.statements[1]).function;
  EXPECT_EQ(def.params, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(def.slotCount, 4);  // a, b, c and the function's own x
  EXPECT_EQ(globals.slots.count("c"), 0u);
  Program second = parseSource("y = x", globals);
  EXPECT_EQ(static_cast<const NameExpr&>(valueOf(second)).slot, globals.slots.at("x"));
}

TEST(Parser, ReadsSubscriptsRangesAndElse) {
  Program p = parseText("v = m[1:, :2, :, k]\nif a { b = 1 }\nelse if c { b = 2 } else { b = 3 }");
  const auto& index = static_cast<const IndexExpr&>(valueOf(p));
  ASSERT_EQ(index.subscripts.size(), 4u);
  EXPECT_TRUE(index.subscripts[0].isRange && index.subscripts[0].start && !index.subscripts[0].end);
  EXPECT_TRUE(index.subscripts[1].isRange && !index.subscripts[1].start && index.subscripts[1].end);
  EXPECT_TRUE(index.subscripts[2].isRange && !index.subscripts[2].start && !index.subscripts[2].end);
  EXPECT_FALSE(index.subscripts[3].isRange);
  const auto& branch = static_cast<const IfStmt&>(*p.statements[1]);
  ASSERT_EQ(branch.elseBlock.size(), 1u);
  EXPECT_EQ(static_cast<const IfStmt&>(*branch.elseBlock[0]).elseBlock.size(), 1u);
}

TEST(Parser, TellsUnfinishedInputFromWrongInput) {
  for (const char* open : {"if x {", "f(1,", "x = [1, 2", "func g(a) {\n return a", "try { x = 1 }", "y = 1 +"}) {
    try {
      parseText(open);
      ADD_FAILURE() << open;
    } catch (const ScriptError& e) {
      EXPECT_TRUE(e.atEndOfInput()) << open << ": " << e.what();
    }
  }
  for (const char* wrong : {"x = )", "1 = x", "f() = 2", "return 1", "continue", "func f(a, a) {}",
                            "func f() { func g() {} }", "x = {a: 1, a: 2}", "if x { } else y"}) {
    try {
      parseText(wrong);
      ADD_FAILURE() << wrong;
    } catch (const ScriptError& e) {
      EXPECT_FALSE(e.atEndOfInput()) << wrong << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace zyl::lang
