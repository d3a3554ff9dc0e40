// Turns script text into tokens. Newlines are tokens (they end statements)
// except inside parentheses and brackets, where an expression may span lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zyl::lang {

enum class Tok {
  End,
  Newline,
  Semicolon,
  Identifier,
  SystemVariable,  // !name; text holds the name without '!'
  Integer,
  Float,
  String,
  // punctuation and operators
  LParen,
  RParen,
  LBracket,
  RBracket,
  LBrace,
  RBrace,
  Comma,
  Dot,
  Colon,
  Assign,
  PlusAssign,
  MinusAssign,
  StarAssign,
  SlashAssign,
  Plus,
  Minus,
  Star,
  Slash,
  Percent,
  Caret,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  AndAnd,
  OrOr,
  Amp,
  Pipe,
  Tilde,
  ShiftLeft,
  ShiftRight,  // bitwise
  // reserved words
  If,
  Else,
  While,
  For,
  In,
  Func,
  Return,
  Break,
  Continue,
  Try,
  Catch,
  New,
  And,
  Or,
  Not,
  Null,
  Xor,
};

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier, string contents or the lexeme
  int line = 1;
  uint64_t intValue = 0;  // Integer
  double floatValue = 0;  // Float
};

// Throws ScriptError for characters and literals it cannot read.
std::vector<Token> tokenize(std::string_view source, int firstLine = 1);

// Spelling of a token kind for messages ("')'", "a name", ...).
std::string describe(Tok kind);

}  // namespace zyl::lang
