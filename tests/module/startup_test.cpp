// Start-up of the real module in fresh processes: first use, later use, a
// deleted file, an unusable configuration. Each load runs in a child process,
// since a module starts up once per process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "zyl/runtime.h"

namespace {

namespace fs = std::filesystem;

using zyl::test::ReadText;

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { userDir = base / "zyl" / "orvo"; }

  // Loads the module in a child process; returns what ZYL_Load gave (1/0)
  // and the texts of the messages issued, one per line (also left in
  // base/messages.txt). `afterLoad` runs after a successful load, or after any
  // with `always`. The installation and per-user base default to the build's
  // and `base`.
  int loadInChild(std::vector<std::string>* messages, const std::function<void()>& afterLoad = {}, bool always = false,
                  const fs::path& zylDir = ZYL_STAGE_DIR, fs::path userBase = {}) {
    if (userBase.empty()) userBase = base;
    const fs::path log = base / "messages.txt";
    fs::remove(log);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("ZYL_DIR", zylDir.c_str(), 1);
      setenv("ZYL_USER_DIR", userBase.c_str(), 1);
      std::ofstream out(log);
      zyl::Runtime::instance().setMessageSink([&out](const zyl::Message& m) { out << m.text << "\n" << std::flush; });
      std::string error;
      const bool loaded = zyl::Runtime::instance().loadModule(ZYL_ORVO_PATH, &error);
      if ((loaded || always) && afterLoad) afterLoad();
      out.close();
      _exit(loaded ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::istringstream lines(ReadText(log));
    for (std::string line; std::getline(lines, line);) messages->push_back(line);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  zyl::test::TempDir baseFolder{"zyl_startup"};
  const fs::path& base = baseFolder.path();
  fs::path userDir;
};

const char* const kToolkitFiles[] = {"merge.ini",    "mergecom.app", "mergecom.pro",
                                     "mergecom.srv", "mrgcom3.dct",  "mrgcom3.msg"};

TEST_F(StartUp, FirstUseCopiesEveryFilePointsTheToolkitAtThemAndRecordsTheSystemDirectory) {
  std::vector<std::string> messages;
  ASSERT_EQ(loadInChild(&messages), 1) << ::testing::PrintToString(messages);
  EXPECT_TRUE(fs::exists(userDir / "Readme.txt"));
  EXPECT_TRUE(fs::exists(userDir / "orvocfg.xml"));
  for (const char* file : kToolkitFiles) EXPECT_TRUE(fs::exists(userDir / file)) << file;
  const std::string user = userDir.string();
  const std::string ini = ReadText(userDir / "merge.ini");
  EXPECT_NE(ini.find("MERGECOM_3_PROFILE=" + user + "/mergecom.pro"), std::string::npos) << ini;
  EXPECT_NE(ini.find("MERGECOM_3_SERVICES=" + user + "/mergecom.srv"), std::string::npos) << ini;
  EXPECT_NE(ini.find("MERGECOM_3_APPLICATIONS=" + user + "/mergecom.app"), std::string::npos) << ini;
  EXPECT_NE(ini.find("LOG_FILE=" + user + "/merge.log"), std::string::npos) << ini;
  const std::string profile = ReadText(userDir / "mergecom.pro");
  EXPECT_NE(profile.find("DICTIONARY_FILE=" + user + "/mrgcom3.dct"), std::string::npos) << profile;
  EXPECT_NE(profile.find("MSG_INFO_FILE=" + user + "/mrgcom3.msg"), std::string::npos) << profile;
  EXPECT_NE(profile.find("TEMP_FILE_DIRECTORY=" + user + "/"), std::string::npos) << profile;
  const fs::path systemDir = fs::path(ZYL_STAGE_DIR) / "resource" / "orvo";
  EXPECT_NE(ReadText(userDir / "orvocfg.xml").find("<SystemDir>" + systemDir.string() + "</SystemDir>"),
            std::string::npos);
  // The copies are the user's alone.
  for (const char* file : kToolkitFiles)
    EXPECT_EQ(fs::status(userDir / file).permissions() & fs::perms::all, static_cast<fs::perms>(0600)) << file;
  EXPECT_EQ(fs::status(userDir / "orvocfg.xml").permissions() & fs::perms::all, static_cast<fs::perms>(0600));
}

TEST_F(StartUp, LaterUsesTakeWritePermissionFromOthersAndNeverWidenAMode) {
  std::vector<std::string> messages;
  ASSERT_EQ(loadInChild(&messages), 1);
  struct Case {
    const char* file;
    unsigned before;
    unsigned after;
  };
  const Case cases[] = {{"orvocfg.xml", 0666, 0644},
                        {"merge.ini", 0662, 0640},
                        {"mergecom.pro", 0400, 0400},
                        {"mergecom.app", 0604, 0604}};
  for (const Case& c : cases) fs::permissions(userDir / c.file, static_cast<fs::perms>(c.before));
  ASSERT_EQ(loadInChild(&messages), 1) << ::testing::PrintToString(messages);
  for (const Case& c : cases)
    EXPECT_EQ(fs::status(userDir / c.file).permissions() & fs::perms::all, static_cast<fs::perms>(c.after)) << c.file;
}

TEST_F(StartUp, AnUnusablePerUserFolderFailsTheLoadAndNothingIsWrittenElsewhere) {
  // ZYL_USER_DIR names a regular file: the host can make no folder below it.
  const fs::path notAFolder = base / "plain-file";
  writeFile(notAFolder, "x");
  const fs::path atTheRoot = fs::path("/") / "orvocfg.xml";
  ASSERT_FALSE(fs::exists(atTheRoot));
  std::vector<std::string> messages;
  EXPECT_EQ(loadInChild(&messages, {}, false, ZYL_STAGE_DIR, notAFolder), 0);
  EXPECT_EQ(ReadText(base / "messages.txt"),
            "ZYL_LOAD: Error: No usable per-user folder for the Orvo configuration files; ZYL_USER_DIR (or HOME) "
            "must name a folder this user can write (folder), \n");
  EXPECT_FALSE(fs::exists(atTheRoot));
  EXPECT_EQ(ReadText(notAFolder), "x");
}

TEST_F(StartUp, SetsTheEnvironmentTheToolkitReads) {
  std::vector<std::string> messages;
  std::string seen;
  ASSERT_EQ(loadInChild(&messages,
                        [&] {
                          const char* cfg = std::getenv("ZYL_ORVO_CFG_DIR");
                          const char* ssm = std::getenv("SSMPATH");
                          writeFile(base / "env.txt", std::string(cfg ? cfg : "-") + "\n" + (ssm ? ssm : "-"));
                        }),
            1);
  const std::string env = ReadText(base / "env.txt");
  EXPECT_EQ(env, userDir.string() + "\n" + (fs::path(ZYL_STAGE_DIR) / "bin" / "bin.x86_64").string() + "/");
}

TEST_F(StartUp, LaterUsesCopyNothingAndLeaveEditedFilesAlone) {
  std::vector<std::string> messages;
  ASSERT_EQ(loadInChild(&messages), 1);
  const std::string edited = ReadText(userDir / "merge.ini") + "; edited by the user\n";
  writeFile(userDir / "merge.ini", edited);
  const std::string config = ReadText(userDir / "orvocfg.xml");
  ASSERT_EQ(loadInChild(&messages), 1) << ::testing::PrintToString(messages);
  EXPECT_EQ(ReadText(userDir / "merge.ini"), edited);
  EXPECT_EQ(ReadText(userDir / "orvocfg.xml"), config);
}

TEST_F(StartUp, ADeletedToolkitFileIsCopiedBackAndEveryProfileEntryRewritten) {
  std::vector<std::string> messages;
  ASSERT_EQ(loadInChild(&messages), 1);
  std::string ini = ReadText(userDir / "merge.ini");
  const std::string user = userDir.string();
  const std::string profileEntry = "MERGECOM_3_PROFILE=" + user + "/mergecom.pro";
  ini.replace(ini.find(profileEntry), profileEntry.size(), "MERGECOM_3_PROFILE=elsewhere");
  writeFile(userDir / "merge.ini", ini);
  fs::remove(userDir / "mrgcom3.msg");
  ASSERT_EQ(loadInChild(&messages), 1) << ::testing::PrintToString(messages);
  EXPECT_TRUE(fs::exists(userDir / "mrgcom3.msg"));
  EXPECT_NE(ReadText(userDir / "merge.ini").find(profileEntry), std::string::npos);
}

TEST_F(StartUp, AConfigurationWithoutTheQueryEntityNameFailsTheLoadWithBothMessages) {
  std::vector<std::string> messages;
  ASSERT_EQ(loadInChild(&messages), 1);
  std::string config = ReadText(userDir / "orvocfg.xml");
  const size_t begin = config.find("<QRScuServiceAE>");
  const size_t end = config.find("</QRScuServiceAE>");
  ASSERT_NE(begin, std::string::npos);
  config.erase(begin, end + std::string("</QRScuServiceAE>").size() - begin);
  writeFile(userDir / "orvocfg.xml", config);
  messages.clear();
  EXPECT_EQ(loadInChild(&messages), 0);
  ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
  EXPECT_EQ(messages[0], "ZYL_LOAD: Error: Failed to read Orvo Cfg param (QRScuServiceAE) from (" +
                             (userDir / "orvocfg.xml").string() + ")");
  EXPECT_EQ(messages[1], "ZYL_LOAD: Error: Local xml config file initialization errors.");

  // After the failed load every class refuses to make objects, saying why.
  const std::string why =
      "Error: The Orvo module did not start, Error: Failed to read Orvo Cfg param "
      "(QRScuServiceAE) from (" +
      (userDir / "orvocfg.xml").string() + ") Error: Local xml config file initialization errors.";
  messages.clear();
  EXPECT_EQ(loadInChild(
                &messages,
                [&] {
                  std::ofstream out(base / "created.txt");
                  for (const char* cls : {"ZYLFFORVO", "ZYLFFORVOCFG", "ZYLFFORVOQUERY", "ZYLFFORVOSTORSCU"}) {
                    try {
                      zyl::Runtime::instance().newObject(cls, {}, {});
                      out << cls << ": made\n";
                    } catch (const zyl::HostError& e) {
                      out << cls << ": " << e.what() << "\n";
                    }
                  }
                },
                true),
            0);
  const std::string created = ReadText(base / "created.txt");
  for (const char* cls : {"ZYLFFORVO", "ZYLFFORVOCFG", "ZYLFFORVOQUERY", "ZYLFFORVOSTORSCU"})
    EXPECT_NE(created.find(std::string(cls) + ": " + cls + "::INIT: " + why), std::string::npos) << created;
}

TEST_F(StartUp, AUserCopyTheParserRefusesFailsTheLoadNamingLineAndReasonAndStaysAsItWas) {
  std::vector<std::string> messages;
  ASSERT_EQ(loadInChild(&messages), 1);
  const std::string hostile =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE c [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]>\n"
      "<c><QRScuServiceAE>&b;</QRScuServiceAE></c>\n";
  writeFile(userDir / "orvocfg.xml", hostile);
  messages.clear();
  EXPECT_EQ(loadInChild(&messages), 0);
  ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
  EXPECT_EQ(messages[0], "ZYL_LOAD: Error: Failed to load xml doc for cfg file (" + (userDir / "orvocfg.xml").string() +
                             "). Verify the file exists and you have read permission. Line 2: a DOCTYPE is not "
                             "allowed in this file");
  EXPECT_EQ(ReadText(userDir / "orvocfg.xml"), hostile);
}

TEST_F(StartUp, AMissingSystemCopyIsReportedWithTheThreePaths) {
  // An installation root without the system configuration.
  const fs::path root = base / "root";
  fs::create_directories(root / "resource" / "orvo");
  std::vector<std::string> messages;
  EXPECT_EQ(loadInChild(&messages, {}, false, root, base), 0);
  const std::string text = ReadText(base / "messages.txt");
  EXPECT_NE(
      text.find("Error: Failed to copy Orvo Cfg file: (file/src/dest) , orvocfg.xml, " +
                (root / "resource" / "orvo" / "orvocfg.xml").string() + ", " + (userDir / "orvocfg.xml").string()),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("Error: Local xml config file initialization errors."), std::string::npos);
}

}  // namespace
