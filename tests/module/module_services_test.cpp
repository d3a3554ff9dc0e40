// The application id table: titles registered once, at most 64 of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "messages.h"
#include "startup.h"
#include "structures.h"
#include "support/temp_dir.h"
#include "zyl/runtime.h"

namespace {

namespace fs = std::filesystem;

// The module's services after start-up; a module starts up once per process,
// so the tests share one per-user directory.
class ModuleServices : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base.emplace("zyl_services");
    setenv("ZYL_DIR", ZYL_STAGE_DIR, 1);
    setenv("ZYL_USER_DIR", base->path().c_str(), 1);
    ASSERT_NE(orvo::defineMessageBlock(), nullptr);
    ASSERT_TRUE(orvo::startUp());
  }
  static void TearDownTestSuite() { base.reset(); }
  static inline std::optional<zyl::test::TempDir> base;
};

TEST_F(ModuleServices, TitlesAreRegisteredOnceAndTheSixtyFifthIsRefused) {
  ASSERT_NE(orvo::moduleApplicationId(), -1);

  const int first = orvo::applicationIdFor("TITLE_0");
  EXPECT_EQ(orvo::applicationIdFor("TITLE_0"), first);  // no second registration
  for (int i = 1; i < 64; ++i) orvo::applicationIdFor("TITLE_" + std::to_string(i));
  // Titles seen before still answer once the table is full.
  EXPECT_EQ(orvo::applicationIdFor("TITLE_0"), first);
  EXPECT_NE(orvo::applicationIdFor("TITLE_63"), first);
  try {
    orvo::applicationIdFor("TITLE_64");
    FAIL() << "a 65th title was accepted";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(std::string(e.what()), "Error: Ran out of App Id structures.");
  }
  // The module's own title is not in the table.
  EXPECT_NE(orvo::moduleApplicationId(), first);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(ModuleServices, LookupsReadTheUserCopyAndRefreshRestoresTheSystemCopy) {
  std::vector<std::string> messages;
  zyl::Runtime::instance().setMessageSink([&](const zyl::Message& m) { messages.push_back(m.text); });

  const std::string userPath = orvo::configFilePath(false);
  EXPECT_EQ(userPath, (base->path() / "zyl" / "orvo" / "orvocfg.xml").string());
  EXPECT_EQ(orvo::configFilePath(true), (fs::path(ZYL_STAGE_DIR) / "resource" / "orvo" / "orvocfg.xml").string());

  std::array<char, 256> value{};
  ASSERT_EQ(orvo::readUserParam("QRScuServiceAE", value), 0);
  EXPECT_STREQ(value.data(), "ZYL_AE_QUERY_SCU");
  zyl::config::CfgApplEntity entity{};
  ASSERT_EQ(orvo::readUserApplEntity("ZYL_AE_STOR_SCP", entity), 0);
  EXPECT_GT(entity.Port, 0);
  EXPECT_TRUE(messages.empty());
  EXPECT_NE(orvo::readUserApplEntity("NO_SUCH_AE", entity), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Error: Failed to read Orvo Cfg Appl Entity (NO_SUCH_AE) from (" + userPath + ")");

  // The user copy carries SystemDir; a refresh brings back the system copy as it is.
  EXPECT_NE(readFile(userPath), readFile(orvo::configFilePath(true)));
  std::ofstream(userPath, std::ios::app) << "<!-- edited -->\n";
  EXPECT_EQ(orvo::refreshUserConfig(), 1);
  EXPECT_EQ(readFile(userPath), readFile(orvo::configFilePath(true)));
  // The replaced copy keeps the owner-only mode start-up gave it.
  EXPECT_EQ(fs::status(userPath).permissions() & fs::perms::all, static_cast<fs::perms>(0600));
  zyl::Runtime::instance().setMessageSink(nullptr);
}

}  // namespace
