#include "ini_file.h"

#include "files/replace.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace orvo {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The section name of a "[name]" line, or nothing.
bool sectionName(std::string_view line, std::string_view* name) {
  line = trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  *name = trim(line.substr(1, line.size() - 2));
  return true;
}

bool isKeyLine(std::string_view line, std::string_view key) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view t = trim(line);
  if (!t.empty() && (t.front() == ';' || t.front() == '#')) return false;
  return equalsIgnoreCase(trim(line.substr(0, eq)), key);
}

}  // namespace

bool writeIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
  std::vector<std::string> lines;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::string line;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
      }
      if (in.bad()) return false;
    } else if (access(path.c_str(), F_OK) == 0) {
      return false;  // exists but cannot be read
    }
  }

  const std::string entry = key + "=" + value;
  bool inSection = false;
  bool done = false;
  size_t sectionEnd = 0;  // index after the last non-empty line of the section
  bool sectionFound = false;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string_view name;
    if (sectionName(lines[i], &name)) {
      if (inSection) break;
      inSection = equalsIgnoreCase(name, section);
      if (inSection) {
        sectionFound = true;
        sectionEnd = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    if (isKeyLine(lines[i], key)) {
      lines[i] = entry;
      done = true;
    } else if (!trim(lines[i]).empty()) {
      sectionEnd = i + 1;
    }
  }
  if (!done) {
    if (sectionFound) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
    } else {
      if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }

  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  // Flushed to disk before it replaces the file, keeping the file's
  // permissions (the toolkit's files are shared between users).
  return zyl::files::ReplaceFile(path, text) == 0;
}

}  // namespace orvo
