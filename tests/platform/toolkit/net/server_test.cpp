// Our listening side against echoscu and storescu: accepting, rejecting with
// reasons, reading, responding, release, abort, timeouts, several at once.
#include "../support.h"
#include "listener.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

namespace zyl::toolkit::test {

using namespace std::chrono_literals;

int listenPort() {
  static const int port = [] {
    initToolkit();
    const int p = FreePort();
    EXPECT_EQ(MC_Set_Int_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, p), MC_NORMAL_COMPLETION);
    // Listen from now on (the socket stays open across waits), so that a
    // peer started before a test's listener thread runs is not refused.
    scpApplication();
    int app = 0, association = 0;
    EXPECT_EQ(MC_Wait_For_Association("Echo_Service_List", 0, &app, &association), MC_TIMEOUT);
    return p;
  }();
  return port;
}

int scpApplication() {
  initToolkit();
  int id = 0;
  const MC_STATUS s = MC_Register_Application(&id, "NET_SCP");
  EXPECT_TRUE(s == MC_NORMAL_COMPLETION || s == MC_ALREADY_REGISTERED);
  return id;
}

MC_STATUS waitForCaller(const char* serviceList, int& applicationId, int& associationId, int attempts) {
  listenPort();
  MC_STATUS s = MC_TIMEOUT;
  for (int i = 0; i < attempts && s == MC_TIMEOUT; ++i)
    s = MC_Wait_For_Association(serviceList, 1, &applicationId, &associationId);
  return s;
}

int serveStores(int associationId) {
  if (MC_Accept_Association(associationId) != MC_NORMAL_COMPLETION) return -1;
  int stored = 0;
  for (int i = 0; i < 1000; ++i) {
    int message = 0;
    const char* service = nullptr;
    MC_COMMAND command{};
    const MC_STATUS s = MC_Read_Message(associationId, 20, &message, &service, &command);
    if (s == MC_ASSOCIATION_CLOSED) return stored;
    if (s != MC_NORMAL_COMPLETION) return -1;
    const MC_COMMAND answer = static_cast<MC_COMMAND>(command | 0x8000);
    MC_Free_Message(message);
    int response = 0;
    if (MC_Open_Message(&response, service, answer) != MC_NORMAL_COMPLETION) return -1;
    const MC_STATUS sent = MC_Send_Response_Message(associationId, 0x0000, response);
    MC_Free_Message(response);
    if (sent != MC_NORMAL_COMPLETION) return -1;
    if (command == MC_CMD_C_STORE_RQ) ++stored;
  }
  return -1;
}

namespace {

std::vector<std::string> echoscu(std::vector<std::string> extra, const std::string& called = "NET_SCP") {
  std::vector<std::string> argv{"echoscu", "-aet", "ECHOSCU", "-aec", called, "-to", "10"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("127.0.0.1");
  argv.push_back(std::to_string(listenPort()));
  return argv;
}

class NetListener : public ::testing::Test {
 protected:
  void SetUp() override {
    initToolkit();
    application_ = scpApplication();
    listenPort();
  }
  int application_ = 0;
  TempDir dir_;
};

TEST_F(NetListener, AcceptsReadsAnswersAndSeesTheRelease) {
  ChildProcess peer(echoscu({}), (dir_.path() / "echo.log").string());
  int app = 0, association = 0;
  ASSERT_EQ(waitForCaller("Echo_Service_List", app, association), MC_NORMAL_COMPLETION);
  EXPECT_EQ(app, application_);
  MC_ASSOCIATION_INFO info{};
  ASSERT_EQ(MC_Get_Association_Info(association, &info), MC_NORMAL_COMPLETION);
  EXPECT_STREQ(info.CallingApTitle, "ECHOSCU");
  EXPECT_STREQ(info.CalledApTitle, "NET_SCP");
  EXPECT_STREQ(info.RemoteIPAddress, "127.0.0.1");
  EXPECT_EQ(info.LocalPort, listenPort());
  EXPECT_FALSE(std::string(info.RemoteImplementationClassUID).empty());
  ASSERT_EQ(MC_Accept_Association(association), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Accept_Association(association), MC_STATE_VIOLATION);

  int message = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  ASSERT_EQ(MC_Read_Message(association, 10, &message, &service, &command), MC_NORMAL_COMPLETION);
  EXPECT_EQ(command, MC_CMD_C_ECHO_RQ);
  EXPECT_STREQ(service, "STANDARD_ECHO");
  int messageId = 0;
  EXPECT_EQ(MC_Get_Value_To_Int(message, 0x00000110, &messageId), MC_NORMAL_COMPLETION);  // the command is readable
  char sopClass[65] = {};
  EXPECT_EQ(MC_Get_Value_To_String(message, 0x00000002, sizeof sopClass, sopClass), MC_NORMAL_COMPLETION);
  EXPECT_STREQ(sopClass, "1.2.840.10008.1.1");
  MC_Free_Message(message);
  int wrong = 0;
  ASSERT_EQ(MC_Open_Message(&wrong, "STANDARD_ECHO", MC_CMD_C_STORE_RSP), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Response_Message(association, 0, wrong), MC_INVALID_COMMAND);  // not what was asked
  MC_Free_Message(wrong);
  int response = 0;
  ASSERT_EQ(MC_Open_Message(&response, "STANDARD_ECHO", MC_CMD_C_ECHO_RSP), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Response_Message(association, 0, response), MC_NORMAL_COMPLETION);
  MC_Free_Message(response);
  EXPECT_EQ(MC_Read_Message(association, 10, &message, &service, &command), MC_ASSOCIATION_CLOSED);
  EXPECT_EQ(MC_Close_Association(association), MC_INVALID_ASSOC_ID);  // the release freed it
  EXPECT_EQ(peer.waitExit(10s), 0);
}

TEST_F(NetListener, RejectsWithTheReasonsGiven) {
  const std::pair<MC_REJECT_REASON, const char*> cases[] = {
      {MC_REJECT_CALLING_AE_NOT_RECOGNIZED, "Calling AE Title Not Recognized"},
      {MC_REJECT_LOCAL_LIMIT_EXCEEDED, "Local Limit Exceeded"},
      {MC_REJECT_NO_REASON_GIVEN, "No Reason"}};
  for (const auto& [reason, text] : cases) {
    const std::string log = (dir_.path() / "reject.log").string();
    ChildProcess peer(echoscu({}), log);
    int app = 0, association = 0;
    ASSERT_EQ(waitForCaller("Echo_Service_List", app, association), MC_NORMAL_COMPLETION);
    EXPECT_EQ(MC_Reject_Association(association, reason), MC_NORMAL_COMPLETION);
    EXPECT_NE(peer.waitExit(10s), 0);
    EXPECT_NE(ReadText(log).find(text), std::string::npos) << text << "\n" << ReadText(log);
    EXPECT_EQ(MC_Reject_Association(association, reason), MC_INVALID_ASSOC_ID);
  }
  int app = 0, association = 0;
  ChildProcess peer(echoscu({}), (dir_.path() / "bad.log").string());
  ASSERT_EQ(waitForCaller("Echo_Service_List", app, association), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Reject_Association(association, static_cast<MC_REJECT_REASON>(99)), MC_VALUE_OUT_OF_RANGE);
  EXPECT_EQ(MC_Abort_Association(association), MC_NORMAL_COMPLETION);
}

TEST_F(NetListener, UnknownCalledTitleAndMissingServicesAreRefused) {
  {
    const std::string log = (dir_.path() / "unknown.log").string();
    ChildProcess peer(echoscu({}, "NOBODY_HERE"), log);
    int app = 0, association = 0;
    EXPECT_EQ(waitForCaller("Echo_Service_List", app, association), MC_UNKNOWN_HOST_CONNECTED);
    EXPECT_NE(peer.waitExit(10s), 0);
    EXPECT_NE(ReadText(log).find("Called AE Title Not Recognized"), std::string::npos) << ReadText(log);
  }
  {
    // A list without verification.
    const MC_TRANSFER_SYNTAX syntax = MC_TS_IMPLICIT_LITTLE_ENDIAN;
    ASSERT_EQ(MC_NewSyntaxList("scp_ct_syntax", &syntax, 1), MC_NORMAL_COMPLETION);
    ASSERT_EQ(MC_NewServiceFromName("scp_ct", "STANDARD_CT_IMAGE", "scp_ct_syntax", 0, 1), MC_NORMAL_COMPLETION);
    const char* services[] = {"scp_ct"};
    ASSERT_EQ(MC_NewProposedServiceList("scp_ct_list", services, 1), MC_NORMAL_COMPLETION);
    ChildProcess peer(echoscu({}), (dir_.path() / "none.log").string());
    int app = 0, association = 0;
    EXPECT_EQ(waitForCaller("scp_ct_list", app, association), MC_NEGOTIATION_ABORTED);
    EXPECT_NE(peer.waitExit(10s), 0);
    MC_FreeServiceList("scp_ct_list");
    MC_FreeService("scp_ct");
    MC_FreeSyntaxList("scp_ct_syntax");
  }
}

TEST_F(NetListener, TimeoutsAndPeerAbort) {
  int app = 0, association = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MC_Wait_For_Association("Echo_Service_List", 1, &app, &association), MC_TIMEOUT);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5s);

  // echoscu aborts instead of releasing after its echo.
  ChildProcess peer(echoscu({"--abort"}), (dir_.path() / "abort.log").string());
  ASSERT_EQ(waitForCaller("Echo_Service_List", app, association), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Accept_Association(association), MC_NORMAL_COMPLETION);
  int message = 0, response = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  ASSERT_EQ(MC_Read_Message(association, 10, &message, &service, &command), MC_NORMAL_COMPLETION);
  MC_Free_Message(message);
  ASSERT_EQ(MC_Open_Message(&response, "STANDARD_ECHO", MC_CMD_C_ECHO_RSP), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Response_Message(association, 0, response), MC_NORMAL_COMPLETION);
  MC_Free_Message(response);
  EXPECT_EQ(MC_Read_Message(association, 10, &message, &service, &command), MC_ASSOCIATION_ABORTED);
  EXPECT_EQ(MC_Abort_Association(association), MC_INVALID_ASSOC_ID);

  // Our own client that stays silent: the read times out, then sees the release.
  int client = 0;
  std::atomic<MC_STATUS> opened{MC_SYSTEM_ERROR};
  std::thread requester([&] {
    opened =
        MC_Open_Association(applicationId(), &client, "NET_SCP", listenPort(), "127.0.0.1", "Echo_SCU_Service_List");
  });
  const MC_STATUS waitedFor = waitForCaller("Echo_Service_List", app, association);
  if (waitedFor == MC_NORMAL_COMPLETION) MC_Accept_Association(association);
  requester.join();
  ASSERT_EQ(waitedFor, MC_NORMAL_COMPLETION);
  ASSERT_EQ(opened.load(), MC_NORMAL_COMPLETION);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(MC_Read_Message(association, 1, &message, &service, &command), MC_TIMEOUT);
  waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5s);
  std::thread closer([&] { EXPECT_EQ(MC_Close_Association(client), MC_NORMAL_COMPLETION); });
  EXPECT_EQ(MC_Read_Message(association, 10, &message, &service, &command), MC_ASSOCIATION_CLOSED);
  closer.join();
}

TEST_F(NetListener, ReceivesStoresInTheirSyntaxes) {
  const std::vector<std::string> files = {pydicomFile("CT_small.dcm"), pydicomFile("SC_rgb_jpeg_dcmtk.dcm"),
                                          pydicomFile("rtplan.dcm")};
  // -xy also proposes JPEG baseline, so the JPEG file goes as it is.
  std::vector<std::string> argv{"storescu", "-xy", "-aet", "STORESCU",  "-aec",
                                "NET_SCP",  "-to", "10",   "127.0.0.1", std::to_string(listenPort())};
  argv.insert(argv.end(), files.begin(), files.end());
  const std::string log = (dir_.path() / "storescu.log").string();
  ChildProcess peer(argv, log);
  int app = 0, association = 0;
  ASSERT_EQ(waitForCaller("Storage_SCP_Service_List", app, association), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Accept_Association(association), MC_NORMAL_COMPLETION);
  for (const auto& file : files) {
    int message = 0;
    const char* service = nullptr;
    MC_COMMAND command{};
    ASSERT_EQ(MC_Read_Message(association, 20, &message, &service, &command), MC_NORMAL_COMPLETION)
        << MC_Error_Message(MC_ASSOCIATION_ABORTED) << "\n"
        << ReadText(log);
    EXPECT_EQ(command, MC_CMD_C_STORE_RQ);
    const int original = openStoreMessage(file);
    char expectedService[65] = {}, instance[65] = {}, affected[65] = {}, originalInstance[65] = {};
    MC_COMMAND ignored{};
    MC_Get_Service_Command(original, expectedService, sizeof expectedService, &ignored);
    EXPECT_STREQ(service, expectedService);
    MC_TRANSFER_SYNTAX sent = MC_TS_INVALID, arrived = MC_TS_INVALID;
    MC_Get_Message_Transfer_Syntax(original, &sent);
    EXPECT_EQ(MC_Get_Message_Transfer_Syntax(message, &arrived), MC_NORMAL_COMPLETION);
    if (sent > MC_TS_EXPLICIT_BIG_ENDIAN)
      EXPECT_EQ(arrived, sent) << file;  // compressed data arrives as it was sent
    else
      EXPECT_LE(arrived, MC_TS_EXPLICIT_BIG_ENDIAN) << file;  // the peer chose an uncompressed context
    EXPECT_EQ(MC_Get_Value_To_String(message, 0x00080018, sizeof instance, instance), MC_NORMAL_COMPLETION);
    EXPECT_EQ(MC_Get_Value_To_String(message, 0x00001000, sizeof affected, affected), MC_NORMAL_COMPLETION);
    MC_Get_Value_To_String(original, 0x00080018, sizeof originalInstance, originalInstance);
    EXPECT_STREQ(instance, originalInstance);
    EXPECT_STREQ(affected, originalInstance);
    unsigned long length = 0, originalLength = 0;
    if (MC_Get_Value_Length(original, 0x7FE00010, 1, &originalLength) == MC_NORMAL_COMPLETION) {
      EXPECT_EQ(MC_Get_Value_Length(message, 0x7FE00010, 1, &length), MC_NORMAL_COMPLETION);
      EXPECT_EQ(length, originalLength) << file;
    }
    MC_Free_Message(original);
    MC_Free_Message(message);
    int response = 0;
    ASSERT_EQ(MC_Open_Message(&response, service, MC_CMD_C_STORE_RSP), MC_NORMAL_COMPLETION);
    EXPECT_EQ(MC_Send_Response_Message(association, 0, response), MC_NORMAL_COMPLETION);
    MC_Free_Message(response);
  }
  int message = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  EXPECT_EQ(MC_Read_Message(association, 10, &message, &service, &command), MC_ASSOCIATION_CLOSED);
  EXPECT_EQ(peer.waitExit(10s), 0) << ReadText(log);
}

TEST_F(NetListener, ServesTwoAssociationsAtOnce) {
  std::vector<std::unique_ptr<ChildProcess>> peers;
  for (int i = 0; i < 2; ++i) {
    std::vector<std::string> argv{"storescu",
                                  "-aet",
                                  "STORESCU" + std::to_string(i),
                                  "-aec",
                                  "NET_SCP",
                                  "-to",
                                  "10",
                                  "--repeat",
                                  "5",
                                  "127.0.0.1",
                                  std::to_string(listenPort()),
                                  pydicomFile("CT_small.dcm")};
    peers.push_back(std::make_unique<ChildProcess>(argv, (dir_.path() / ("s" + std::to_string(i) + ".log")).string()));
  }
  std::vector<std::thread> servers;
  std::atomic<int> stored{0};
  for (int i = 0; i < 2; ++i) {
    int app = 0, association = 0;
    ASSERT_EQ(waitForCaller("Storage_SCP_Service_List", app, association), MC_NORMAL_COMPLETION);
    servers.emplace_back([association, &stored] { stored += serveStores(association); });
  }
  for (auto& t : servers) t.join();
  EXPECT_EQ(stored.load(), 10);
  for (auto& p : peers) EXPECT_EQ(p->waitExit(10s), 0);
}

}  // namespace
}  // namespace zyl::toolkit::test
