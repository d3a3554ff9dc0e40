#include "lexer.h"

#include <cctype>
#include <charconv>
#include <unordered_map>

#include "error.h"

namespace zyl::lang {
namespace {

const std::unordered_map<std::string_view, Tok>& reservedWords() {
  static const std::unordered_map<std::string_view, Tok> words = {
      {"if", Tok::If},         {"else", Tok::Else},   {"while", Tok::While},
      {"for", Tok::For},       {"in", Tok::In},       {"func", Tok::Func},
      {"return", Tok::Return}, {"break", Tok::Break}, {"continue", Tok::Continue},
      {"try", Tok::Try},       {"catch", Tok::Catch}, {"new", Tok::New},
      {"and", Tok::And},       {"or", Tok::Or},       {"not", Tok::Not},
      {"null", Tok::Null},     {"xor", Tok::Xor},
  };
  return words;
}

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

class Lexer {
 public:
  Lexer(std::string_view source, int firstLine) : src_(source), line_(firstLine), firstLine_(firstLine) {}

  std::vector<Token> run() {
    // A UTF-8 byte order mark, as some editors write, starts the text.
    if (src_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    while (true) {
      skipBlanksAndComments();
      if (pos_ >= src_.size()) break;
      char c = src_[pos_];
      if (c == '\n') {
        ++pos_;
        if (nesting_ == 0) push(Tok::Newline, "\\n");
        ++line_;
        continue;
      }
      if (isNameStart(c)) {
        name();
      } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                 (c == '.' && pos_ + 1 < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_ + 1])))) {
        number();
      } else if (c == '"' || c == '\'') {
        string(c);
      } else if (c == '!' && pos_ + 1 < src_.size() && isNameStart(src_[pos_ + 1])) {
        size_t start = ++pos_;
        while (pos_ < src_.size() && isNameChar(src_[pos_])) ++pos_;
        push(Tok::SystemVariable, std::string(src_.substr(start, pos_ - start)));
      } else {
        punctuation(c);
      }
    }
    // The end belongs to the last line of text, not to the one after it.
    if (!src_.empty() && src_.back() == '\n' && line_ > firstLine_) --line_;
    push(Tok::Newline, "\\n");
    push(Tok::End, "end of input");
    return std::move(tokens_);
  }

 private:
  void push(Tok kind, std::string text) {
    Token t;
    t.kind = kind;
    t.text = std::move(text);
    t.line = line_;
    tokens_.push_back(std::move(t));
  }

  void skipBlanksAndComments() {
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '#') {
        while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
      } else if (c == '\\' && pos_ + 1 < src_.size() && src_[pos_ + 1] == '\n') {
        pos_ += 2;  // a backslash at the end of a line continues the statement
        ++line_;
      } else {
        break;
      }
    }
  }

  void name() {
    size_t start = pos_;
    while (pos_ < src_.size() && isNameChar(src_[pos_])) ++pos_;
    std::string_view word = src_.substr(start, pos_ - start);
    auto it = reservedWords().find(word);
    push(it != reservedWords().end() ? it->second : Tok::Identifier, std::string(word));
  }

  void number() {
    size_t start = pos_;
    if (src_[pos_] == '0' && pos_ + 1 < src_.size() && (src_[pos_ + 1] == 'x' || src_[pos_ + 1] == 'X')) {
      pos_ += 2;
      size_t digits = pos_;
      while (pos_ < src_.size() && std::isxdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
      uint64_t value = 0;
      auto [end, ec] = std::from_chars(src_.data() + digits, src_.data() + pos_, value, 16);
      if (digits == pos_ || ec != std::errc()) throw ScriptError(line_, "malformed hexadecimal number");
      (void)end;
      integerToken(value, start);
      return;
    }
    bool isFloat = false;
    while (pos_ < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    if (pos_ < src_.size() && src_[pos_] == '.' &&
        !(pos_ + 1 < src_.size() && isNameStart(src_[pos_ + 1]))) {  // 3.field is not a float
      isFloat = true;
      ++pos_;
      while (pos_ < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    }
    if (pos_ < src_.size() && (src_[pos_] == 'e' || src_[pos_] == 'E')) {
      size_t save = pos_++;
      if (pos_ < src_.size() && (src_[pos_] == '+' || src_[pos_] == '-')) ++pos_;
      if (pos_ < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_]))) {
        isFloat = true;
        while (pos_ < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
      } else {
        pos_ = save;
      }
    }
    if (pos_ < src_.size() && isNameStart(src_[pos_]))
      throw ScriptError(line_, "malformed number '" + std::string(src_.substr(start, pos_ - start + 1)) + "'");
    std::string lexeme(src_.substr(start, pos_ - start));
    if (isFloat) {
      Token t;
      t.kind = Tok::Float;
      t.text = lexeme;
      t.line = line_;
      t.floatValue = std::strtod(lexeme.c_str(), nullptr);
      tokens_.push_back(std::move(t));
      return;
    }
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(lexeme.data(), lexeme.data() + lexeme.size(), value, 10);
    (void)end;
    if (ec != std::errc()) throw ScriptError(line_, "integer " + lexeme + " is too large");
    integerToken(value, start);
  }

  void integerToken(uint64_t value, size_t start) {
    Token t;
    t.kind = Tok::Integer;
    t.text = std::string(src_.substr(start, pos_ - start));
    t.line = line_;
    t.intValue = value;
    tokens_.push_back(std::move(t));
  }

  void string(char quote) {
    ++pos_;
    std::string text;
    while (true) {
      if (pos_ >= src_.size() || src_[pos_] == '\n') throw ScriptError(line_, "unterminated string");
      char c = src_[pos_++];
      if (c == quote) break;
      if (c != '\\') {
        text += c;
        continue;
      }
      if (pos_ >= src_.size()) throw ScriptError(line_, "unterminated string");
      char e = src_[pos_++];
      switch (e) {
        case 'n':
          text += '\n';
          break;
        case 't':
          text += '\t';
          break;
        case 'r':
          text += '\r';
          break;
        case '0':
          text += '\0';
          break;
        case '\\':
          text += '\\';
          break;
        case '"':
          text += '"';
          break;
        case '\'':
          text += '\'';
          break;
        default:
          throw ScriptError(
              line_, std::string("unknown escape \\") + e + " in string (expected \\n \\t \\r \\0 \\\\ \\\" \\')");
      }
    }
    push(Tok::String, std::move(text));
  }

  void punctuation(char c) {
    auto next = [&](char expected) {
      if (pos_ + 1 < src_.size() && src_[pos_ + 1] == expected) {
        ++pos_;
        return true;
      }
      return false;
    };
    size_t start = pos_;
    Tok kind;
    switch (c) {
      case '(':
        kind = Tok::LParen;
        ++nesting_;
        break;
      case ')':
        kind = Tok::RParen;
        if (nesting_ > 0) --nesting_;
        break;
      case '[':
        kind = Tok::LBracket;
        ++nesting_;
        break;
      case ']':
        kind = Tok::RBracket;
        if (nesting_ > 0) --nesting_;
        break;
      case '{':
        kind = Tok::LBrace;
        break;
      case '}':
        kind = Tok::RBrace;
        break;
      case ',':
        kind = Tok::Comma;
        break;
      case '.':
        kind = Tok::Dot;
        break;
      case ':':
        kind = Tok::Colon;
        break;
      case ';':
        kind = Tok::Semicolon;
        break;
      case '+':
        kind = next('=') ? Tok::PlusAssign : Tok::Plus;
        break;
      case '-':
        kind = next('=') ? Tok::MinusAssign : Tok::Minus;
        break;
      case '*':
        if (next('*')) throw ScriptError(line_, "'**' is not an operator: use ^ for powers (2 ^ 8)");
        kind = next('=') ? Tok::StarAssign : Tok::Star;
        break;
      case '/':
        if (next('/'))
          throw ScriptError(line_, "'//' is not an operator: use / (between integers it truncates toward zero)");
        kind = next('=') ? Tok::SlashAssign : Tok::Slash;
        break;
      case '%':
        kind = Tok::Percent;
        break;
      case '^':
        kind = Tok::Caret;
        break;
      case '=':
        kind = next('=') ? Tok::Equal : Tok::Assign;
        break;
      case '<':
        kind = next('=') ? Tok::LessEqual : next('<') ? Tok::ShiftLeft : Tok::Less;
        break;
      case '>':
        kind = next('=') ? Tok::GreaterEqual : next('>') ? Tok::ShiftRight : Tok::Greater;
        break;
      case '~':
        kind = Tok::Tilde;
        break;
      case '!':
        if (!next('='))
          throw ScriptError(line_, "'!' must begin a system variable (!name) or be '!='; use 'not' for negation");
        kind = Tok::NotEqual;
        break;
      case '&':
        kind = next('&') ? Tok::AndAnd : Tok::Amp;
        break;
      case '|':
        kind = next('|') ? Tok::OrOr : Tok::Pipe;
        break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isprint(byte)) throw ScriptError(line_, "unexpected character '" + std::string(1, c) + "'");
        static const char kHex[] = "0123456789abcdef";
        const std::string shown = std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        throw ScriptError(line_,
                          "unexpected byte '" + shown + "'" +
                              (byte >= 0x80 ? " (names and operators are ASCII: put other text in quotes)" : ""));
      }
    }
    ++pos_;
    push(kind, std::string(src_.substr(start, pos_ - start)));
  }

  std::string_view src_;
  size_t pos_ = 0;
  int line_;
  int firstLine_;
  int nesting_ = 0;
  std::vector<Token> tokens_;
};

}  // namespace

std::vector<Token> tokenize(std::string_view source, int firstLine) { return Lexer(source, firstLine).run(); }

std::string describe(Tok kind) {
  switch (kind) {
    case Tok::End:
      return "end of input";
    case Tok::Newline:
      return "end of line";
    case Tok::Semicolon:
      return "';'";
    case Tok::Identifier:
      return "a name";
    case Tok::SystemVariable:
      return "a system variable";
    case Tok::Integer:
      return "an integer";
    case Tok::Float:
      return "a number";
    case Tok::String:
      return "a string";
    case Tok::LParen:
      return "'('";
    case Tok::RParen:
      return "')'";
    case Tok::LBracket:
      return "'['";
    case Tok::RBracket:
      return "']'";
    case Tok::LBrace:
      return "'{'";
    case Tok::RBrace:
      return "'}'";
    case Tok::Comma:
      return "','";
    case Tok::Dot:
      return "'.'";
    case Tok::Colon:
      return "':'";
    case Tok::Assign:
      return "'='";
    case Tok::PlusAssign:
      return "'+='";
    case Tok::MinusAssign:
      return "'-='";
    case Tok::StarAssign:
      return "'*='";
    case Tok::SlashAssign:
      return "'/='";
    case Tok::Plus:
      return "'+'";
    case Tok::Minus:
      return "'-'";
    case Tok::Star:
      return "'*'";
    case Tok::Slash:
      return "'/'";
    case Tok::Percent:
      return "'%'";
    case Tok::Caret:
      return "'^'";
    case Tok::Equal:
      return "'=='";
    case Tok::NotEqual:
      return "'!='";
    case Tok::Less:
      return "'<'";
    case Tok::LessEqual:
      return "'<='";
    case Tok::Greater:
      return "'>'";
    case Tok::GreaterEqual:
      return "'>='";
    case Tok::AndAnd:
      return "'&&'";
    case Tok::OrOr:
      return "'||'";
    case Tok::Amp:
      return "'&'";
    case Tok::Pipe:
      return "'|'";
    case Tok::Tilde:
      return "'~'";
    case Tok::ShiftLeft:
      return "'<<'";
    case Tok::ShiftRight:
      return "'>>'";
    case Tok::Xor:
      return "'xor'";
    case Tok::If:
      return "'if'";
    case Tok::Else:
      return "'else'";
    case Tok::While:
      return "'while'";
    case Tok::For:
      return "'for'";
    case Tok::In:
      return "'in'";
    case Tok::Func:
      return "'func'";
    case Tok::Return:
      return "'return'";
    case Tok::Break:
      return "'break'";
    case Tok::Continue:
      return "'continue'";
    case Tok::Try:
      return "'try'";
    case Tok::Catch:
      return "'catch'";
    case Tok::New:
      return "'new'";
    case Tok::And:
      return "'and'";
    case Tok::Or:
      return "'or'";
    case Tok::Not:
      return "'not'";
    case Tok::Null:
      return "'null'";
  }
  return "a token";
}

}  // namespace zyl::lang
