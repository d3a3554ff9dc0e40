// Echo: the report for an unknown entity, a closed port, a peer answering
// with a failure status, and DCMTK's storescp answering; the calling title
// when the local entity cannot be read.
#include <thread>

#include "cfg_support.h"
#include "net/peers.h"
#include "toolkit/mc.h"

namespace cfgtest {
namespace {

namespace tk = zyl::toolkit::test;

class CfgEcho : public CfgTest {
 protected:
  std::vector<std::string> echo(Variable& cfg, const std::string& entityName, uint32_t* count = nullptr) {
    Variable counted = Variable::null();
    Variable name = Variable::ofString(entityName);
    std::vector<zyl::KeywordArg> kws{{"COUNT", &counted}};
    Variable lines = fotest::rt().callMethod(cfg, "Echo", {&name}, kws);
    if (count) *count = counted.scalar().u32;
    std::vector<std::string> out;
    for (int64_t i = 0; i < lines.array()->count(); ++i)
      out.emplace_back(zyl::hostStringText(lines.array()->as<zyl::HostString>()[i]));
    return out;
  }
  void addPeer(Variable& cfg, const std::string& name, const std::string& aet, int port) {
    call(cfg, "SetApplicationEntity",
         {Variable::ofString(name), Variable::ofString(aet), Variable::ofString("127.0.0.1"), Variable::ofInt32(port),
          Variable::ofString("Echo_SCU_Service_List"), Variable::ofString("ECHO_SCP")});
  }
};

TEST_F(CfgEcho, AnUnknownEntityGivesFourLines) {
  Variable cfg = makeCfg();
  uint32_t count = 0;
  const auto lines = echo(cfg, "NOBODY", &count);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(lines[0], "Echo Failed:");
  EXPECT_EQ(lines[1], " AE Name (NOBODY)");
  EXPECT_EQ(lines[2], " Invalid Application Entity Name");
  EXPECT_TRUE(contains(lines[3], " Error: Failed to read Orvo Cfg Appl Entity (NOBODY) from (")) << lines[3];
  EXPECT_TRUE(contains(errorOf(cfg, "Echo", {Variable::ofInt32(1)}), "Error: Invalid parameter"));
}

TEST_F(CfgEcho, AClosedPortIsReportedNotRaised) {
  Variable cfg = makeCfg();
  addPeer(cfg, "CLOSED", "NOBODY_HOME", zyl::test::FreePort());
  const auto lines = echo(cfg, "CLOSED");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], " AE Name: (CLOSED)");
  EXPECT_EQ(lines[2], " AE Title: (NOBODY_HOME)");
  EXPECT_TRUE(contains(lines[3], " Open Association Failed (")) << lines[3];
}

TEST_F(CfgEcho, StorescpAnswersAndDescribesItself) {
  zyl::test::TempDir dir;
  const int port = zyl::test::FreePort();
  const std::string log = (dir.path() / "storescp.log").string();
  zyl::test::ChildProcess storescp({"storescp", "-d", "-aet", "STORESCP", std::to_string(port)}, log);
  ASSERT_TRUE(zyl::test::WaitListening(port));
  Variable cfg = makeCfg();
  addPeer(cfg, "DCMTK_PEER", "STORESCP", port);
  uint32_t count = 0;
  const auto lines = echo(cfg, "DCMTK_PEER", &count);
  ASSERT_EQ(lines.size(), 9u) << (lines.size() > 3 ? lines[3] : "");
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(lines[0], "Echo Succeeded:");
  EXPECT_EQ(lines[1], " AE Name: (DCMTK_PEER)");
  EXPECT_EQ(lines[2], " AE Title: (STORESCP)");
  EXPECT_EQ(lines[3], " Host Name: (127.0.0.1)");
  EXPECT_EQ(lines[4], " IP Address: (127.0.0.1)");
  EXPECT_EQ(lines[5], " TCP/IP Port: (" + std::to_string(port) + ")");
  EXPECT_TRUE(contains(lines[6], " Implementation Version: (OFFIS_DCMTK")) << lines[6];
  EXPECT_EQ(lines[7], " Implementation Class UID: ");
  EXPECT_TRUE(contains(lines[8], "   (1.2.276.0.7230010.3")) << lines[8];
  // The calling title is the echo entity's AE title.
  storescp.waitExit(std::chrono::milliseconds(200));
  const std::string text = zyl::test::ReadText(log);
  EXPECT_TRUE(contains(text, "ZYL_ECHO_SCU")) << text;
}

// A listener of our toolkit in this process answers every C-ECHO with a
// chosen status and notes the calling title.
struct EchoPeer {
  int port = zyl::test::FreePort();
  std::string calling;
  std::thread thread;
  explicit EchoPeer(unsigned status) {
    tk::listenAs("ECHO_PEER_AE", port, "Echo_Service_List");
    thread = std::thread([this, status] {
      int application = 0, association = 0;
      MC_STATUS s = MC_TIMEOUT;
      for (int i = 0; i < 20 && s == MC_TIMEOUT; ++i)
        s = MC_Wait_For_Association("Echo_Service_List", 1, &application, &association);
      if (s != MC_NORMAL_COMPLETION) return;
      MC_ASSOCIATION_INFO info{};
      MC_Get_Association_Info(association, &info);
      calling = info.CallingApTitle;
      MC_Accept_Association(association);
      int message = 0, response = 0;
      const char* service = nullptr;
      MC_COMMAND command{};
      if (MC_Read_Message(association, 10, &message, &service, &command) != MC_NORMAL_COMPLETION) return;
      MC_Free_Message(message);
      MC_Open_Message(&response, "STANDARD_ECHO", MC_CMD_C_ECHO_RSP);
      MC_Send_Response_Message(association, status, response);
      MC_Free_Message(response);
      MC_Read_Message(association, 10, &message, &service, &command);  // the release
    });
  }
  ~EchoPeer() {
    if (thread.joinable()) thread.join();
  }
};

TEST_F(CfgEcho, AFailureStatusAndTheFallbackCallingTitle) {
  Variable cfg = makeCfg();
  // The echo entity named by the parameter no longer exists.
  addPeer(cfg, "GONE", "GONE_AE", 104);
  call(cfg, "SetValue", {Variable::ofString("echoscuserviceae"), Variable::ofString("GONE")});
  call(cfg, "RemoveApplicationEntity", "GONE");
  std::string calling;
  std::vector<std::string> lines;
  {
    EchoPeer peer(0x0110);
    addPeer(cfg, "OUR_PEER", "ECHO_PEER_AE", peer.port);
    lines = echo(cfg, "OUR_PEER");
    peer.thread.join();
    calling = peer.calling;
  }
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], " Echo Failed: Status Value (272)");
  EXPECT_EQ(calling, "VEL_ECHO_SCU");
}

}  // namespace
}  // namespace cfgtest
