// The orvocfg.xml that the system installs: complete, consistent, and usable
// on this machine as it comes.
#include <algorithm>

#include "config_test_support.h"

namespace zyl::config::testing {
namespace {

class ShippedConfigTest : public ConfigFixture {
 protected:
  void SetUp() override { Load(ReadText(ZYL_SHIPPED_ORVOCFG)); }

  std::vector<std::string> Names(int (*count)(const ConfigDocument&, int&, std::string_view, std::span<char>),
                                 int (*read)(const ConfigDocument&, std::span<CfgText>, std::string_view,
                                             std::span<char>)) {
    int n = 0;
    EXPECT_EQ(count(document_, n, path_, message_), 0) << Message();
    std::vector<CfgText> texts(static_cast<std::size_t>(n));
    EXPECT_EQ(read(document_, texts, path_, message_), 0) << Message();
    std::vector<std::string> names;
    for (const auto& text : texts) names.emplace_back(text.view());
    return names;
  }
};

TEST_F(ShippedConfigTest, EveryParameterIsPresentWithAUsableValue) {
  for (const char* name :
       {"QRScuServiceAE", "StorScpServiceAE", "StorScuServiceAE", "EchoScuServiceAE", "FileExtension", "StorScpDir",
        "MaxQueryResponses", "AcceptAny", "StorScpCtrlPort", "SystemDir", "Migrated"}) {
    SCOPED_TRACE(name);
    const std::string value = Param(name);
    if (std::string_view(name) != "SystemDir") {
      EXPECT_FALSE(value.empty());
    }
  }
  EXPECT_LE(Param("FileExtension").size(), 3u);
  EXPECT_GT(std::stoi(Param("MaxQueryResponses")), 0);
  EXPECT_GT(std::stoi(Param("StorScpCtrlPort")), 1024);
  EXPECT_TRUE(Param("AcceptAny") == "yes" || Param("AcceptAny") == "no");
  EXPECT_EQ(Param("SystemDir"), "");  // set only in a user's copy
}

TEST_F(ShippedConfigTest, StandardEntitiesExistAndUseDeclaredListsAndTypes) {
  const auto lists = Names(CountServiceLists, ReadServiceLists);
  const auto types = Names(CountServiceTypes, ReadServiceTypes);
  const auto contains = [](const std::vector<std::string>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  for (const char* parameter : {"QRScuServiceAE", "StorScpServiceAE", "StorScuServiceAE", "EchoScuServiceAE"}) {
    SCOPED_TRACE(parameter);
    CfgApplEntity entity;
    ASSERT_EQ(ReadApplEntity(document_, Param(parameter), entity, path_, message_), 0) << Message();
    // Within the limits that the configuration object enforces on edits.
    EXPECT_LE(entity.Name.view().size(), 30u);
    EXPECT_LE(entity.AET.view().size(), 16u);
    EXPECT_GT(entity.Port, 1024);
    EXPECT_TRUE(entity.Hostname == "127.0.0.1" || entity.Hostname == "localhost");
    EXPECT_TRUE(contains(lists, entity.ServiceList.view())) << entity.ServiceList.view();
    EXPECT_TRUE(contains(types, entity.ServiceType.view())) << entity.ServiceType.view();
  }
  const std::vector<std::string> standard{"ZYL_AE_QUERY_SCU", "ZYL_AE_STOR_SCP", "ZYL_AE_STOR_SCU", "ZYL_AE_ECHO_SCU"};
  for (const auto& name : standard) {
    bool found = false;
    ASSERT_EQ(ApplEntityExists(document_, name, found, path_, message_), 0);
    EXPECT_TRUE(found) << name;
  }
  EXPECT_TRUE(contains(lists, "Echo_SCU_Service_List"));  // the echo's fallback list
}

TEST_F(ShippedConfigTest, AnEditChangesNothingButTheEditedValue) {
  const std::string original = ReadText(path_);
  ASSERT_EQ(SetParam(document_, "SystemDir", "/opt/zyl/resource/orvo", path_, message_), 0);
  EXPECT_EQ(WriteBack(), Replace(original, "<SystemDir/>", "<SystemDir>/opt/zyl/resource/orvo</SystemDir>"));
}

}  // namespace
}  // namespace zyl::config::testing
