// Files, directories, environment and the service-program operations.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <ctime>
#include <set>
#include <sstream>

#include "test_support.h"
#include "zyl/runtime.h"

namespace {

namespace fs = std::filesystem;

void writeAll(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

class FilesTest : public ::testing::Test {
 protected:
  TempDir dir;
  zyl::Runtime& rt = zyl::Runtime::instance();
};

TEST_F(FilesTest, UnitsOpenWriteSeekReadAndRunOut) {
  const std::string path = (dir.path() / "data.bin").string();
  writeAll(path, "stale content that is longer");
  const int w = HostFileOpen(path.c_str(), HOST_FILE_WRITE, HOST_FILE_STDIO);
  ASSERT_GE(w, 100);
  ASSERT_LE(w, 128);
  ASSERT_NE(HostFileStat(w), nullptr);
  std::fputs("0123456789", HostFileStat(w));
  HostFileClose(w);
  EXPECT_EQ(HostFileStat(w), nullptr);
  EXPECT_EQ(zyl::test::ReadText(path), "0123456789");  // writing truncates

  const int r = HostFileOpen(path.c_str(), HOST_FILE_READ, HOST_FILE_STDIO);
  ASSERT_GE(r, 100);
  EXPECT_EQ(HostFileSeek(r, 6), 1);
  EXPECT_EQ(std::fgetc(HostFileStat(r)), '6');
  EXPECT_EQ(HostFileSeek(-5 + 0 * r, 0), 0);
  HostFileClose(r);

  EXPECT_EQ(HostFileOpen((dir.path() / "missing" / "x").c_str(), HOST_FILE_READ, 0), HOST_FILE_FAILED);
  EXPECT_EQ(HostFileOpen((dir.path() / "missing" / "x").c_str(), HOST_FILE_WRITE, 0), HOST_FILE_FAILED);

  std::vector<int> units;
  for (int i = 0; i < 29; ++i) units.push_back(HostFileOpen(path.c_str(), HOST_FILE_READ, 0));
  EXPECT_EQ(std::set<int>(units.begin(), units.end()).size(), 29u);
  EXPECT_EQ(HostFileOpen(path.c_str(), HOST_FILE_READ, 0), HOST_FILE_FAILED);
  for (int u : units) HostFileClose(u);
  HostFileClose(99);
  HostFileClose(units.front());  // closing twice is harmless
}

TEST_F(FilesTest, CopyChmodAndExists) {
  const fs::path src = dir.path() / "src.txt";
  const fs::path dst = dir.path() / "dst.txt";
  writeAll(src, "system copy");
  EXPECT_EQ(HostFileExists(dst.c_str()), 0);
  EXPECT_EQ(HostCallFileCopy(src.c_str(), dst.c_str(), 0), 1);
  EXPECT_EQ(zyl::test::ReadText(dst), "system copy");
  writeAll(dst, "user edits");
  EXPECT_EQ(HostCallFileCopy(src.c_str(), dst.c_str(), 0), 1);
  EXPECT_EQ(zyl::test::ReadText(dst), "user edits");  // kept without overwrite
  EXPECT_EQ(HostCallFileCopy(src.c_str(), dst.c_str(), 1), 1);
  EXPECT_EQ(zyl::test::ReadText(dst), "system copy");
  EXPECT_EQ(HostCallFileCopy((dir.path() / "none").c_str(), (dir.path() / "none2").c_str(), 0), 0);

  ASSERT_EQ(HostCallFileChmod(dst.c_str(), 0640), 1);
  struct stat st;
  ASSERT_EQ(stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(HostCallFileChmod((dir.path() / "none").c_str(), 0666), 0);
  EXPECT_EQ(HostFileExists(dir.str().c_str()), 1);
}

TEST_F(FilesTest, PathsFromRootAreJoinedAndBounded) {
  const char* subdirs[] = {"resource", "orvo"};
  char buf[1025];
  EXPECT_EQ(HostFilePathFromRoot(buf, sizeof buf, "/opt/zyl", subdirs, 2, "orvocfg.xml"),
            std::strlen("/opt/zyl/resource/orvo/orvocfg.xml"));
  EXPECT_STREQ(buf, "/opt/zyl/resource/orvo/orvocfg.xml");
  HostFilePathFromRoot(buf, sizeof buf, "/opt/zyl/", subdirs, 2, nullptr);
  EXPECT_STREQ(buf, "/opt/zyl/resource/orvo/");
  char small[10];
  EXPECT_EQ(HostFilePathFromRoot(small, sizeof small, "/opt/zyl", subdirs, 2, nullptr), 23u);
  EXPECT_STREQ(small, "/opt/zyl/");

  ScopedEnv root("ZYL_DIR", dir.str().c_str());
  const char* bin[] = {"bin", "bin.x86_64"};
  HostFilePathFromRoot(buf, sizeof buf, nullptr, bin, 2, nullptr);
  EXPECT_EQ(std::string(buf), dir.str() + "/bin/bin.x86_64/");
}

TEST_F(FilesTest, InstallDirComesFromZylDirElseFromTheLibrary) {
  {
    ScopedEnv root("ZYL_DIR", "/somewhere/zyl");
    EXPECT_STREQ(HostInstallDir(), "/somewhere/zyl/");
    EXPECT_EQ(HostDirectoryPath(HOST_DIR_ROOT, ""), "/somewhere/zyl/");
    EXPECT_EQ(HostDirectoryPath(HOST_DIR_ROOT, "bin"), "/somewhere/zyl/bin/");
    const char* subdirs[] = {"resource", "orvo"};
    EXPECT_EQ(HostSubdirectoryPath(HOST_DIR_ROOT, subdirs, 2), "/somewhere/zyl/resource/orvo/");
  }
  ScopedEnv none("ZYL_DIR", nullptr);
  const std::string root = HostInstallDir();
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.back(), '/');
  // The build assembles <root>/bin/bin.x86_64 with the host library in it.
  EXPECT_TRUE(fs::exists(root + "bin/bin.x86_64/libzyl.so")) << root;
  EXPECT_EQ(fs::canonical(rt.programDir()), fs::canonical(root + "bin/bin.x86_64"));
  EXPECT_EQ(rt.programDir().back(), '/');
}

TEST_F(FilesTest, UserAppDirIsCreatedWithItsReadmeOnce) {
  ScopedEnv base("ZYL_USER_DIR", dir.str().c_str());
  const std::string text = "\nFirst line of the readme \nsecond\n";
  const std::string path =
      HostCallUserAppDir("zyl", "Orvo Configuration Files", "orvo", "Local Copy", text.c_str(), "1.00", "510");
  EXPECT_EQ(path, dir.str() + "/zyl/orvo");
  ASSERT_TRUE(fs::is_directory(path));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0755));
  const std::string readme = zyl::test::ReadText(fs::path(path) / "Readme.txt");
  EXPECT_NE(readme.find("Orvo Configuration Files"), std::string::npos);
  EXPECT_NE(readme.find("Local Copy"), std::string::npos);
  EXPECT_NE(readme.find("1.00"), std::string::npos);
  ASSERT_GE(readme.size(), text.size());
  EXPECT_EQ(readme.substr(readme.size() - text.size()), text);  // the text verbatim at the end

  writeAll(fs::path(path) / "Readme.txt", "edited");
  EXPECT_EQ(HostCallUserAppDir("zyl", "a", "orvo", "b", text.c_str(), "1.00", "510"), path);
  EXPECT_EQ(zyl::test::ReadText(fs::path(path) / "Readme.txt"), "edited");
  fs::remove(fs::path(path) / "Readme.txt");
  HostCallUserAppDir("zyl", "a", "orvo", "b", text.c_str(), "1.00", "510");
  EXPECT_TRUE(fs::exists(fs::path(path) / "Readme.txt"));

  // Without ZYL_USER_DIR the base is ~/.zyl.
  ScopedEnv noBase("ZYL_USER_DIR", nullptr);
  ScopedEnv home("HOME", dir.str().c_str());
  EXPECT_EQ(HostCallUserAppDir("zyl", "a", "orvo", "b", "", "1.00", ""), dir.str() + "/.zyl/zyl/orvo");
  EXPECT_TRUE(fs::is_directory(dir.path() / ".zyl" / "zyl" / "orvo"));

  // A base that cannot hold directories gives an empty path.
  writeAll(dir.path() / "plain", "x");
  ScopedEnv file("ZYL_USER_DIR", (dir.path() / "plain").c_str());
  EXPECT_EQ(HostCallUserAppDir("zyl", "a", "orvo", "b", "", "1.00", ""), "");
}

TEST_F(FilesTest, EnvironmentTimeAndMemory) {
  ScopedEnv cleanup("ZYL_TEST_VAR", nullptr);
  EXPECT_EQ(HostSetEnv("ZYL_TEST_VAR=a=b"), 1);
  EXPECT_STREQ(getenv("ZYL_TEST_VAR"), "a=b");
  EXPECT_EQ(HostSetEnv("NO_EQUALS_SIGN"), 0);

  std::string error;
  ASSERT_TRUE(rt.loadModule(ZYL_TESTMOD_PATH, &error)) << error;
  HostVar* value = HostStringToVar("ZYL_TEST_VAR=from module");
  rt.call("TEST_SETENV", false, {value});
  HostFreeTemporary(value);
  EXPECT_STREQ(getenv("ZYL_TEST_VAR"), "from module");

  const std::string now = HostCurrentTime();  // "Mon Dec 07 23:55:01 2026"
  std::tm parsed{};
  const char* end = strptime(now.c_str(), "%a %b %d %H:%M:%S %Y", &parsed);
  ASSERT_NE(end, nullptr) << now;
  EXPECT_EQ(*end, '\0') << now;
  EXPECT_EQ(now.size(), 24u) << now;
  EXPECT_GE(parsed.tm_year, 120);

  auto* table = static_cast<uint64_t*>(HostMemAlloc(64 * sizeof(uint64_t), "Error: table", HOST_MSG_ERROR));
  ASSERT_NE(table, nullptr);
  table[63] = 1;
  HostMemFree(table);
  void* scratch = HostGetScratch(4096);
  ASSERT_NE(scratch, nullptr);
  HostFreeScratch(scratch);
}

void recordOutput(int, const char* text, int length);
std::vector<std::string> gOutput;
void recordOutput(int, const char* text, int length) { gOutput.emplace_back(text, static_cast<size_t>(length)); }

TEST_F(FilesTest, ServiceProgramStartUp) {
  HostRegisterCallback(recordOutput);
  EXPECT_EQ(HostInitialize(0x1000, 0, nullptr), 1);
  HostStartupOption(1);
  rt.setMessageSink(nullptr);
  const HostMessageDef defs[] = {{"ZYL_M_SVC", "%N %s"}};
  HostMsgBlock block = HostDefineMessageBlock("ZYL_MBLK_SVC", 1, defs);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(HostDefineMessageBlock("zyl_mblk_svc", 1, defs), block);
  HostMessage(block, 0, HOST_MSG_INFO, "outside any routine");
  ASSERT_EQ(gOutput.size(), 1u);
  EXPECT_EQ(gOutput[0], "outside any routine");  // no routine: %N gives nothing
  EXPECT_THROW(HostMessage(block, -1, HOST_MSG_INFO, "no such code"), zyl::HostError);
  HostRegisterCallback(nullptr);
}

}  // namespace
