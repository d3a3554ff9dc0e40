// Hostile scripts end in script errors, never in a crash: array sizes that
// overflow, and nesting deep enough to exhaust the C stack. The inputs are
// generated here.
#include <gtest/gtest.h>

#include "run_support.h"

namespace zyl::lang::test {
namespace {

std::string repeat(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<size_t>(times));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string firstLine(const std::string& text) {
  const std::vector<std::string> all = lines(text);
  return all.empty() ? "" : all[0];
}

struct Refusal {
  const char* name;
  std::string code;
  const char* message;  // part of the first line of standard error
};

void expectRefused(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    const std::string path = writeScratchFile(std::string(c.name) + ".zyl", c.code + "\nprint(\"not reached\")\n");
    RunResult result = runZyl({path});
    EXPECT_EQ(result.status, 1) << c.name << " (a crash gives -1)\n" << result.err;
    EXPECT_EQ(result.out, "") << c.name;
    EXPECT_NE(firstLine(result.err).find(c.message), std::string::npos) << c.name << ": " << firstLine(result.err);
  }
}

// ---------------------------------------------------------------- array sizes

TEST(ArraySizes, OverflowingCountsAndByteCountsAreRefused) {
  expectRefused({
      {"make_array_count", "a = make_array(\"byte\", 4294967296, 4294967296)\na[1, 1] = 7", "array too large"},
      {"make_array_bytes", "a = make_array(\"int64\", 2305843009213693952)", "array too large"},
      {"make_array_big_with_zero", "a = make_array(\"byte\", 0, 4294967296, 4294967296)", "array too large"},
      {"make_array_dims_array", "a = make_array(\"float64\", [3037000500, 3037000500])", "array too large"},
      {"make_struct_array", "a = make_array({x: 1.0, y: 2}, 1152921504606846976, 2)", "array too large"},
      {"reshape_wraps_to_zero", "a = reshape(make_array(\"byte\", 0), 4294967296, 4294967296)\na[1, 1] = 7",
       "array too large"},
      {"literal_of_huge_empties", "e = make_array(\"byte\", 0, 4294967296, 4294967296)\nb = [e, e]", "array too large"},
      {"range_float_count", "r = range(0, 1e300)", "range: too many elements"},
      {"range_infinite", "r = range(0.0, 1.0 / 0)", "range: the bounds and the step must be finite"},
      {"selection_product",
       "m = reshape(range(256), 2, 2, 2, 2, 2, 2, 2, 2)\nl = make_array(\"int32\", 255)\n"
       "s = m[l, l, l, l, l, l, l, l]",
       "the subscripts select too many elements"},
  });
}

TEST(ArraySizes, CountedLoopsStopAtTheEndOfTheIntegerRange) {
  RunResult result = runZyl(
      {"-e",
       "n = 0\nfor i in range(9223372036854775800, 9223372036854775807, 5) { n += 1\n if n > 5 { break } }\nprint(n)\n"
       "for i in range(-9223372036854775800, -9223372036854775807, -5) { n += 1\n if n > 10 { break } }\nprint(n)"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "2\n4\n");
}

// ---------------------------------------------------------------- nesting

TEST(Nesting, DeepSyntaxIsRefusedWithAClearError) {
  const char* tooDeep = "nesting too deep (more than 200 levels";
  const int wide = 10000;     // parentheses, brackets, braces, calls
  const int deeper = 100000;  // statements and unary operators
  expectRefused({
      {"parentheses", "x = " + repeat("(", wide) + "1" + repeat(")", wide), tooDeep},
      {"brackets", "x = " + repeat("[", wide) + "1" + repeat("]", wide), tooDeep},
      {"structures", "x = " + repeat("{a: ", wide) + "1" + repeat("}", wide), tooDeep},
      {"calls", "x = " + repeat("abs(", wide) + "1" + repeat(")", wide), tooDeep},
      {"subscripts", "a = [0]\nx = a[" + repeat("a[", wide) + "0" + repeat("]", wide) + "]", tooDeep},
      {"field_chain", "s = {a: 1}\nx = s" + repeat(".a", deeper), tooDeep},
      {"index_chain", "a = [1]\nx = a" + repeat("[0]", deeper), tooDeep},
      {"method_chain", "x = null" + repeat(".m()", deeper), tooDeep},
      {"negation", "x = " + repeat("-", deeper) + "y", tooDeep},
      {"not", "x = " + repeat("not ", deeper) + "1", tooDeep},
      {"powers", "x = " + repeat("2^", deeper) + "1", tooDeep},
      {"if", repeat("if 1 { ", deeper) + repeat("} ", deeper), tooDeep},
      {"while", repeat("while 1 {\n", deeper) + repeat("}\n", deeper), tooDeep},
      {"try", repeat("try { ", deeper) + "x = 1" + repeat(" } catch { }", deeper), tooDeep},
      {"function_body", "func f() {\n" + repeat("if 1 {\n", deeper) + repeat("}\n", deeper) + "}", tooDeep},
  });
}

TEST(Nesting, LongChainsRunWithoutDeepRecursion) {
  const int terms = 100000;
  std::string sum = "1";
  for (int i = 1; i < terms; ++i) sum += i % 2 ? " + 2" : " - 1";
  std::string conjunction = "1";
  for (int i = 1; i < terms; ++i) conjunction += i % 3 ? " and 1" : " or 0";
  std::string dispatch = "v = 99999\n";
  for (int i = 0; i < terms; ++i)
    dispatch += std::string(i ? " else " : "") + "if v == " + std::to_string(i) + " { print(\"branch\", " +
                std::to_string(i) + ") }";
  const std::string nested = "x = " + repeat("(", 190) + "7" + repeat(")", 190);
  const std::string path =
      writeScratchFile("chains.zyl", "s = " + sum + "\nprint(s)\nc = " + conjunction + "\nprint(c)\n" + dispatch +
                                         "\n" + nested + "\nprint(x)\n");
  RunResult result = runZyl({path});
  EXPECT_EQ(result.status, 0) << result.err;
  // Python: 1 + sum(2 if i % 2 else -1 for i in range(1, 100000)) == 50002
  EXPECT_EQ(result.out, "50002\n1\nbranch 99999\n7\n");
}

TEST(Nesting, RecursionThroughNestedExpressionsStopsBeforeTheStackEnds) {
  // Each call level nests 150 calls deeper: well inside the syntax limit,
  // far beyond the stack after a few hundred calls.
  const std::string code = "func f(n) {\n  if n == 0 { return 0 }\n  return " + repeat("abs(", 150) + "f(n - 1)" +
                           repeat(")", 150) + "\n}\nprint(f(1999))\n";
  RunResult result = runZyl({"-e", code});
  EXPECT_EQ(result.status, 1) << "a crash gives -1";
  EXPECT_NE(result.err.find("nesting too deep: the interpreter's stack is nearly used up"), std::string::npos)
      << result.err;
  // Caught like any error, and the script goes on.
  result = runZyl({"-e", "try { " + code + " } catch e { print(\"caught\") }\nprint(\"after\")"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "caught\nafter\n");
}

}  // namespace
}  // namespace zyl::lang::test
