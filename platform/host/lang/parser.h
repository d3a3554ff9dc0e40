// Builds the syntax tree from tokens. Names at the top level get slots of the
// global table passed in; names inside a function get slots of its own frame.
#pragma once

#include <string_view>
#include <vector>

#include "ast.h"
#include "lexer.h"

namespace zyl::lang {

// Syntactic nesting is limited, as the C stack that the parser and the
// evaluator recurse on is: parentheses, brackets, braces, calls, subscripts,
// field and method chains, unary operators and blocks each take a level.
// Left-associative chains of binary operators (1 + 2 + ... + n) take none:
// they are parsed and evaluated in loops.
constexpr int kMaxNesting = 200;

// Throws ScriptError (with atEndOfInput() set when the text stops in the
// middle of a statement or block).
Program parse(std::vector<Token> tokens, SlotTable& globals);
Program parseSource(std::string_view source, SlotTable& globals, int firstLine = 1);

}  // namespace zyl::lang
