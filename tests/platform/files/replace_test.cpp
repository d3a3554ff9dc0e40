// The options of the file replacement that the configuration layer's tests
// do not reach: the registry's new-file mode and the pid file written after fork.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/replace.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using zyl::test::ReadText;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(ReplaceFile, WithoutKeepingALinkIsReplacedAndTheModeIsANewFilesOne) {
  zyl::test::TempDir dir("zylfiles");
  Write(dir.file("real"), "old");
  fs::permissions(dir.file("real"), fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real", dir.file("link"));
  const zyl::files::ReplaceOptions options{.flush = false, .keepExisting = false, .newFileMode = 0640};
  ASSERT_EQ(zyl::files::ReplaceFile(dir.file("link"), "new", options), 0);
  EXPECT_FALSE(fs::is_symlink(dir.file("link")));
  EXPECT_EQ(ReadText(dir.file("link")), "new");
  EXPECT_EQ(ReadText(dir.file("real")), "old");
  struct stat info {};
  ASSERT_EQ(::stat(dir.file("link").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u & ~static_cast<unsigned>(::umask(::umask(0))));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link", "real"}));
}

TEST(ReplaceFile, AFailureGivesTheErrnoAndLeavesNothingBehind) {
  zyl::test::TempDir dir("zylfiles");
  EXPECT_EQ(zyl::files::ReplaceFile(dir.file("missing/file"), "x"), ENOENT);
  fs::create_directory(dir.file("folder"));
  EXPECT_NE(zyl::files::ReplaceFile(dir.file("folder"), "x"), 0);
  EXPECT_EQ(zyl::files::ReplaceFileAfterFork(dir.file("temp").c_str(), dir.file("folder").c_str(), "x", 0644), EISDIR);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder"}));
  EXPECT_TRUE(fs::is_empty(dir.file("folder")));
}

TEST(ReplaceFileAfterFork, ALeftOverTemporaryFileIsTruncated) {
  zyl::test::TempDir dir("zylfiles");
  Write(dir.file("process.new"), "a much longer line left by a crash\n");
  Write(dir.file("process"), "1 2\n");
  ASSERT_EQ(
      zyl::files::ReplaceFileAfterFork(dir.file("process.new").c_str(), dir.file("process").c_str(), "3 4\n", 0644), 0);
  EXPECT_EQ(ReadText(dir.file("process")), "3 4\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"process"}));
}

}  // namespace
