// The tree of attributes dcmdump prints (and examples/dump.zyl, which prints
// the same line format): one node per line, items and their attributes below
// their sequence.
#pragma once

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fotest {

struct DumpNode {
  std::string tag;  // "gggg,eeee"
  std::string vr;
  std::string value;  // as dcmdump prints it
  int vm = 0;
  std::vector<std::unique_ptr<DumpNode>> children;  // items of a sequence, attributes of an item
};

// dcmdump's tree: each level indents by two spaces.
inline std::vector<std::unique_ptr<DumpNode>> parseDump(const std::string& text) {
  std::vector<std::unique_ptr<DumpNode>> top;
  std::vector<std::pair<size_t, DumpNode*>> stack;
  std::istringstream in(text);
  std::string s;
  while (std::getline(in, s)) {
    const size_t indent = s.find_first_not_of(' ');
    const size_t hash = s.rfind('#');
    if (indent == std::string::npos || s[indent] != '(' || s.size() < indent + 15 || hash == std::string::npos ||
        s[indent + 10] != ')')
      continue;
    auto node = std::make_unique<DumpNode>();
    node->tag = s.substr(indent + 1, 9);
    node->vr = s.substr(indent + 12, 2);
    std::string value = s.substr(indent + 15, hash > indent + 15 ? hash - indent - 15 : 0);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    node->value = value;
    const size_t comma = s.find(',', hash);
    if (comma == std::string::npos) continue;
    node->vm = std::atoi(s.c_str() + comma + 1);
    if (node->tag == "fffe,e00d" || node->tag == "fffe,e0dd") continue;
    while (!stack.empty() && stack.back().first >= indent) stack.pop_back();
    DumpNode* raw = node.get();
    if (stack.empty())
      top.push_back(std::move(node));
    else
      stack.back().second->children.push_back(std::move(node));
    stack.push_back({indent, raw});
  }
  return top;
}

inline std::vector<std::string> splitValues(const std::string& v) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : v) {
    if (c == '\\') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

inline std::string trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  return s;
}

}  // namespace fotest
