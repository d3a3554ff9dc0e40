// Builds the syntax tree from tokens. Names at the top level get slots of the
// global table passed in; names inside a function get slots of its own frame.
#pragma once

#include <string_view>
#include <vector>

#include "ast.h"
#include "lexer.h"

namespace zyl::lang {

// Throws ScriptError (with atEndOfInput() set when the text stops in the
// middle of a statement or block).
Program parse(std::vector<Token> tokens, SlotTable& globals);
Program parseSource(std::string_view source, SlotTable& globals, int firstLine = 1);

}  // namespace zyl::lang
