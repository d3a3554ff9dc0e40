#include "ini_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class IniFile : public ::testing::Test {
 protected:
  void SetUp() override { path = (dir / "merge.ini").string(); }
  void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string read() { return zyl::test::ReadText(path); }
  zyl::test::TempDir temp{"zyl_ini"};
  const fs::path& dir = temp.path();
  std::string path;
};

TEST_F(IniFile, ReplacesAKeyInItsSectionOnlyAndKeepsEverythingElse) {
  write("; toolkit start-up\n[Other]\nLOG_FILE=keep\n\n[MergeCOM3]\nmergecom_3_profile = old\nLOG_FILE=old.log\n");
  ASSERT_TRUE(orvo::writeIniValue(path, "mergecom3", "LOG_FILE", "/u/merge.log"));
  ASSERT_TRUE(orvo::writeIniValue(path, "MergeCOM3", "MERGECOM_3_PROFILE", "/u/mergecom.pro"));
  EXPECT_EQ(read(),
            "; toolkit start-up\n[Other]\nLOG_FILE=keep\n\n[MergeCOM3]\nMERGECOM_3_PROFILE=/u/mergecom.pro\n"
            "LOG_FILE=/u/merge.log\n");
}

TEST_F(IniFile, AddsMissingKeysAtTheEndOfTheSectionAndMissingSectionsAtTheEnd) {
  write("[MESSAGE_PARMS]\nA=1\n\n[NEXT]\nB=2\n");
  ASSERT_TRUE(orvo::writeIniValue(path, "MESSAGE_PARMS", "DICTIONARY_FILE", "/u/mrgcom3.dct"));
  ASSERT_TRUE(orvo::writeIniValue(path, "NEW", "K", "v"));
  EXPECT_EQ(read(), "[MESSAGE_PARMS]\nA=1\nDICTIONARY_FILE=/u/mrgcom3.dct\n\n[NEXT]\nB=2\n\n[NEW]\nK=v\n");
}

TEST_F(IniFile, CreatesAMissingFileButFailsWithoutTouchingAnythingWhenItCannotWrite) {
  ASSERT_TRUE(orvo::writeIniValue(path, "S", "K", "v"));
  EXPECT_EQ(read(), "[S]\nK=v\n");
  // A path whose folder does not exist cannot be written.
  EXPECT_FALSE(orvo::writeIniValue((dir / "missing" / "x.ini").string(), "S", "K", "v"));
  // A directory in place of the file cannot be read.
  fs::create_directories(dir / "adir");
  EXPECT_FALSE(orvo::writeIniValue((dir / "adir").string(), "S", "K", "v"));
  EXPECT_TRUE(fs::is_directory(dir / "adir"));
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace

namespace {
TEST_F(IniFile, KeepsTheFilesPermissions) {
  write("[S]\nK=1\n");
  fs::permissions(path, static_cast<fs::perms>(0666));
  ASSERT_TRUE(orvo::writeIniValue(path, "S", "K", "2"));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, static_cast<fs::perms>(0666));
}
}  // namespace
