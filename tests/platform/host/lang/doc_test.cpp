// Every ```zyl block of docs/language.md followed by an ```output block runs
// and prints exactly that output (standard output and errors together).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "run_support.h"

namespace zyl::lang::test {
namespace {

struct DocExample {
  int line;  // of the code block in the document
  std::string code;
  std::string output;
};

std::vector<DocExample> docExamples() {
  std::ifstream in(ZYL_LANGUAGE_DOC);
  std::vector<std::string> text;
  for (std::string line; std::getline(in, line);) text.push_back(line);
  std::vector<DocExample> examples;
  auto block = [&](size_t& i) {
    std::string body;
    for (++i; i < text.size() && text[i] != "```"; ++i) body += text[i] + "\n";
    return body;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != "```zyl") continue;
    DocExample example{static_cast<int>(i + 1), block(i), ""};
    size_t j = i + 1;
    while (j < text.size() && text[j].empty()) ++j;
    if (j < text.size() && text[j] == "```output") {
      example.output = block(j);
      examples.push_back(example);
      i = j;
    }
  }
  return examples;
}

TEST(LanguageDoc, HasExamples) { EXPECT_GE(docExamples().size(), 10u) << ZYL_LANGUAGE_DOC; }

TEST(LanguageDoc, ExamplesPrintWhatTheDocumentSays) {
  for (const DocExample& example : docExamples()) {
    const std::string path = writeScratchFile("example.zyl", example.code);
    RunResult result = runZyl({path}, true);
    // Error messages name the file: the document shows it as example.zyl.
    std::string output = result.out;
    for (size_t at; (at = output.find(path)) != std::string::npos;) output.replace(at, path.size(), "example.zyl");
    EXPECT_EQ(output, example.output) << "docs/language.md line " << example.line << ":\n" << example.code;
  }
}

}  // namespace
}  // namespace zyl::lang::test
