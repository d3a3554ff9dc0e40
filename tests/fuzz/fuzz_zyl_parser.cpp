// libFuzzer target: bytes as zyl source through the lexer and the parser's
// public entry points; a script error is the only acceptable refusal.
#include "error.h"
#include "lexer.h"
#include "parser.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  try {
    zyl::lang::SlotTable globals;
    zyl::lang::parse(zyl::lang::tokenize(source), globals);
  } catch (const zyl::lang::ScriptError&) {
  }
  try {
    zyl::lang::SlotTable globals;
    zyl::lang::parseSource(source, globals, 7);
  } catch (const zyl::lang::ScriptError&) {
  }
  return 0;
}
