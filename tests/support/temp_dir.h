// A fresh folder for one test, and reading a file back whole.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zyl::test {

// A new folder under the system's temporary folder (its name starts with
// `prefix`), removed with everything in it when the object goes, even where
// a test took away its permissions.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "zyl_test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string file(std::string_view name) const { return (path_ / name).string(); }
  // Names of everything in the folder, sorted, for checks that nothing was left over.
  std::vector<std::string> entries() const;

 private:
  std::filesystem::path path_;
};

// The bytes of a file; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& path);

}  // namespace zyl::test
