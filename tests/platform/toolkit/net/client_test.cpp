// Our requesting side against storescp: echo, stores in several SOP classes
// and syntaxes, the statuses of failed associations, lists made at run time,
// and several associations from threads at once.
#include "../support.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace zyl::toolkit::test {
namespace {

using namespace std::chrono_literals;

// storescp on a free port, storing into its own directory.
struct StoreScp {
  TempDir dir;
  int port = FreePort();
  ChildProcess process;
  explicit StoreScp(std::vector<std::string> extra = {})
      : process(arguments(extra), (dir.path() / "storescp.log").string()) {
    EXPECT_TRUE(WaitListening(port)) << "storescp did not start";
  }
  std::vector<std::string> arguments(const std::vector<std::string>& extra) {
    std::filesystem::create_directories(dir.path() / "in");
    std::vector<std::string> argv{"storescp", "-aet", "STORESCP", "+xa", "-od", (dir.path() / "in").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(std::to_string(port));
    return argv;
  }
  // The stored file whose name ends with the SOP Instance UID.
  std::string received(const std::string& instanceUid) const {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "in")) {
      const std::string name = entry.path().filename().string();
      if (name.size() >= instanceUid.size() &&
          name.compare(name.size() - instanceUid.size(), instanceUid.size(), instanceUid) == 0)
        return entry.path().string();
    }
    return {};
  }
};

unsigned responseStatus(int messageId) {
  unsigned status = 0xFFFFFFFF;
  EXPECT_EQ(MC_Get_Value_To_UInt(messageId, 0x00000900, &status), MC_NORMAL_COMPLETION);
  return status;
}

std::string text(int id, std::uint32_t tag) {
  char value[256] = {};
  EXPECT_EQ(MC_Get_Value_To_String(id, tag, sizeof value, value), MC_NORMAL_COMPLETION) << std::hex << tag;
  return value;
}

// Sends one C-ECHO and returns the response's "being responded to" id.
int echo(int association) {
  int request = 0;
  EXPECT_EQ(MC_Open_Message(&request, "STANDARD_ECHO", MC_CMD_C_ECHO_RQ), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Request_Message(association, request), MC_NORMAL_COMPLETION);
  MC_Free_Message(request);
  int response = 0;
  const char* service = nullptr;
  MC_COMMAND command = MC_CMD_NONE;
  EXPECT_EQ(MC_Read_Message(association, 10, &response, &service, &command), MC_NORMAL_COMPLETION);
  EXPECT_EQ(command, MC_CMD_C_ECHO_RSP);
  EXPECT_STREQ(service, "STANDARD_ECHO");
  EXPECT_EQ(responseStatus(response), 0u);
  int respondedTo = 0;
  EXPECT_EQ(MC_Get_Value_To_Int(response, 0x00000120, &respondedTo), MC_NORMAL_COMPLETION);
  MC_Free_Message(response);
  return respondedTo;
}

MC_TRANSFER_SYNTAX syntaxOf(const std::string& file) {
  const int id = openStoreMessage(file);
  MC_TRANSFER_SYNTAX syntax = MC_TS_INVALID;
  MC_Get_Message_Transfer_Syntax(id, &syntax);
  MC_Free_Message(id);
  return syntax;
}

// Stores a file; returns the response status (or 0xFFFFFFFF when sending failed with `sendStatus`).
unsigned store(int association, const std::string& file, MC_STATUS* sendStatus = nullptr) {
  const int request = openStoreMessage(file);
  const std::string instance = text(request, 0x00080018);
  const MC_STATUS sent = MC_Send_Request_Message(association, request);
  MC_Free_Message(request);
  if (sendStatus) *sendStatus = sent;
  if (sent != MC_NORMAL_COMPLETION) return 0xFFFFFFFF;
  int response = 0;
  const char* service = nullptr;
  MC_COMMAND command = MC_CMD_NONE;
  EXPECT_EQ(MC_Read_Message(association, 30, &response, &service, &command), MC_NORMAL_COMPLETION);
  EXPECT_EQ(command, MC_CMD_C_STORE_RSP);
  EXPECT_EQ(text(response, 0x00001000), instance);  // the response names the stored instance
  const unsigned status = responseStatus(response);
  MC_Free_Message(response);
  return status;
}

class NetClient : public ::testing::Test {
 protected:
  void SetUp() override { initToolkit(); }
};

TEST_F(NetClient, EchoReportsPeerAndCountsMessageIds) {
  StoreScp scp;
  int association = 0;
  ASSERT_EQ(
      MC_Open_Association(applicationId(), &association, "STORESCP", scp.port, "127.0.0.1", "Echo_SCU_Service_List"),
      MC_NORMAL_COMPLETION);
  MC_ASSOCIATION_INFO info{};
  ASSERT_EQ(MC_Get_Association_Info(association, &info), MC_NORMAL_COMPLETION);
  EXPECT_STREQ(info.CalledApTitle, "STORESCP");
  EXPECT_STREQ(info.CallingApTitle, "TOOLKIT_TEST");
  EXPECT_STREQ(info.RemoteIPAddress, "127.0.0.1");
  EXPECT_STREQ(info.RemoteHostName, "127.0.0.1");
  EXPECT_EQ(info.RemotePort, scp.port);
  EXPECT_GT(info.LocalPort, 0);
  EXPECT_EQ(std::string(info.RemoteImplementationClassUID).rfind("1.2.276.0.7230010.3", 0), 0u);
  EXPECT_EQ(std::string(info.RemoteImplementationVersion).rfind("OFFIS_DCMTK", 0), 0u);

  char service[64] = {};
  MC_TRANSFER_SYNTAX syntax = MC_TS_INVALID;
  ASSERT_EQ(MC_Get_First_Acceptable_Service(association, service, sizeof service, &syntax), MC_NORMAL_COMPLETION);
  EXPECT_STREQ(service, "STANDARD_ECHO");
  EXPECT_TRUE(syntax == MC_TS_EXPLICIT_LITTLE_ENDIAN || syntax == MC_TS_IMPLICIT_LITTLE_ENDIAN);
  EXPECT_EQ(MC_Get_Next_Acceptable_Service(association, service, sizeof service, &syntax), MC_END_OF_LIST);

  EXPECT_EQ(echo(association), 1);
  EXPECT_EQ(echo(association), 2);
  // A store on an echo-only association has no context.
  const int request = openStoreMessage(pydicomFile("CT_small.dcm"));
  EXPECT_EQ(MC_Send_Request_Message(association, request), MC_UNACCEPTABLE_SERVICE);
  MC_Free_Message(request);
  EXPECT_EQ(echo(association), 3);  // still usable

  EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Close_Association(association), MC_INVALID_ASSOC_ID);
  EXPECT_EQ(MC_Get_Association_Info(association, &info), MC_INVALID_ASSOC_ID);
}

TEST_F(NetClient, StoresSopClassesAndSyntaxesAsTheyAre) {
  StoreScp scp;
  const std::vector<std::string> files = {"CT_small.dcm",          "MR_small_implicit.dcm", "rtplan.dcm",
                                          "SC_rgb_jpeg_dcmtk.dcm", "JPEG2000.dcm",          "liver_expb_1frame.dcm",
                                          "waveform_ecg.dcm"};
  std::vector<std::pair<std::string, MC_TRANSFER_SYNTAX>> entries;
  for (const auto& f : files) entries.emplace_back(serviceOf(pydicomFile(f)), syntaxOf(pydicomFile(f)));
  RuntimeList list("store", entries);
  int association = 0;
  ASSERT_EQ(MC_Open_Association(applicationId(), &association, "STORESCP", scp.port, "localhost", list.name.c_str()),
            MC_NORMAL_COMPLETION);
  int accepted = 0;
  char service[64];
  MC_TRANSFER_SYNTAX syntax;
  for (MC_STATUS s = MC_Get_First_Acceptable_Service(association, service, sizeof service, &syntax);
       s == MC_NORMAL_COMPLETION; s = MC_Get_Next_Acceptable_Service(association, service, sizeof service, &syntax))
    ++accepted;
  EXPECT_EQ(accepted, static_cast<int>(files.size()));
  for (const auto& f : files) EXPECT_EQ(store(association, pydicomFile(f)), 0u) << f;
  ASSERT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);

  for (const auto& f : files) {
    const int id = openStoreMessage(pydicomFile(f));
    const std::string arrived = scp.received(text(id, 0x00080018));
    MC_Free_Message(id);
    ASSERT_FALSE(arrived.empty()) << f;
    EXPECT_EQ(fileSyntax(arrived), fileSyntax(pydicomFile(f))) << f;
    EXPECT_TRUE(dumpDataSet(arrived) == dumpDataSet(pydicomFile(f))) << f;
  }
}

TEST_F(NetClient, ConvertsUncompressedAndRefusesCompressedWithoutContext) {
  StoreScp scp;
  RuntimeList list("convert", {{"STANDARD_MR_IMAGE", MC_TS_EXPLICIT_LITTLE_ENDIAN},
                               {"STANDARD_SECONDARY_CAPTURE_IMAGE", MC_TS_EXPLICIT_LITTLE_ENDIAN},
                               {"MODALITY_WORKLIST_FIND", MC_TS_IMPLICIT_LITTLE_ENDIAN}});
  int association = 0;
  ASSERT_EQ(MC_Open_Association(applicationId(), &association, "STORESCP", scp.port, "127.0.0.1", list.name.c_str()),
            MC_NORMAL_COMPLETION);
  // storescp refuses the worklist context: only the two storage services are acceptable.
  std::vector<std::string> acceptable;
  char service[64];
  MC_TRANSFER_SYNTAX syntax;
  for (MC_STATUS s = MC_Get_First_Acceptable_Service(association, service, sizeof service, &syntax);
       s == MC_NORMAL_COMPLETION; s = MC_Get_Next_Acceptable_Service(association, service, sizeof service, &syntax))
    acceptable.emplace_back(service);
  EXPECT_EQ(acceptable, (std::vector<std::string>{"STANDARD_MR_IMAGE", "STANDARD_SECONDARY_CAPTURE_IMAGE"}));
  const std::string big = pydicomFile("MR_small_bigendian.dcm");
  EXPECT_EQ(store(association, big), 0u);
  MC_STATUS sent = MC_NORMAL_COMPLETION;
  EXPECT_EQ(store(association, pydicomFile("SC_rgb_jpeg_dcmtk.dcm"), &sent), 0xFFFFFFFFu);
  EXPECT_EQ(sent, MC_INVALID_TRANSFER_SYNTAX);
  EXPECT_EQ(store(association, pydicomFile("MR_small_implicit.dcm")), 0u);  // the association goes on
  ASSERT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);

  const int id = openStoreMessage(big);
  const std::string arrived = scp.received(text(id, 0x00080018));
  MC_Free_Message(id);
  ASSERT_FALSE(arrived.empty());
  EXPECT_NE(fileSyntax(arrived).find("LittleEndianExplicit"), std::string::npos);
  EXPECT_TRUE(dumpDataSet(arrived) == dumpDataSet(big));
}

TEST_F(NetClient, FailedAssociationsHaveDistinctStatuses) {
  const int app = applicationId();
  int association = 0;
  // Nothing listens on the port. The message names where, and says it once
  // however often the failure repeats.
  const int closedPort = FreePort();
  EXPECT_EQ(MC_Open_Association(app, &association, "NOBODY", closedPort, "127.0.0.1", "Echo_SCU_Service_List"),
            MC_CONNECTION_FAILED);
  const std::string firstText = MC_Error_Message(MC_CONNECTION_FAILED);
  EXPECT_NE(firstText.find(std::to_string(closedPort)), std::string::npos) << firstText;
  EXPECT_EQ(MC_Open_Association(app, &association, "NOBODY", closedPort, "127.0.0.1", "Echo_SCU_Service_List"),
            MC_CONNECTION_FAILED);
  EXPECT_EQ(std::string(MC_Error_Message(MC_CONNECTION_FAILED)), firstText);
  EXPECT_EQ(MC_Open_Association(app, &association, "NOBODY", 104, "no-such-host.invalid", "Echo_SCU_Service_List"),
            MC_UNKNOWN_HOST_NAME);
  {
    StoreScp refusing({"--refuse"});
    EXPECT_EQ(MC_Open_Association(app, &association, "STORESCP", refusing.port, "127.0.0.1", "Echo_SCU_Service_List"),
              MC_ASSOCIATION_REJECTED);
  }
  // A peer that takes the connection but never answers the request.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  socklen_t length = sizeof address;
  getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  ASSERT_EQ(MC_Set_Int_Config_Value(MC_CFG_ASSOCIATION_TIMEOUT, 2), MC_NORMAL_COMPLETION);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      MC_Open_Association(app, &association, "SILENT", ntohs(address.sin_port), "127.0.0.1", "Echo_SCU_Service_List"),
      MC_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 1500ms);
  EXPECT_LT(waited, 15s);
  close(silent);
  ASSERT_EQ(MC_Set_Int_Config_Value(MC_CFG_ASSOCIATION_TIMEOUT, 15), MC_NORMAL_COMPLETION);

  EXPECT_EQ(MC_Open_Association(app, &association, "X", 0, "127.0.0.1", "Echo_SCU_Service_List"),
            MC_INVALID_PORT_NUMBER);
  EXPECT_EQ(MC_Open_Association(app, &association, "X", 104, "127.0.0.1", "No_Such_List"),
            MC_INVALID_SERVICE_LIST_NAME);
  EXPECT_EQ(MC_Open_Association(app + 1000, &association, "X", 104, "127.0.0.1", "Echo_SCU_Service_List"),
            MC_INVALID_APPLICATION_ID);
  EXPECT_EQ(MC_Open_Association(app, &association, "X", 104, "127.0.0.1", "Storage_SCU_Service_List"),
            MC_LIMIT_EXCEEDED);
}

TEST_F(NetClient, ReadTimesOutThenSeesTheConnectionDrop) {
  auto scp = std::make_unique<StoreScp>();
  int association = 0;
  ASSERT_EQ(
      MC_Open_Association(applicationId(), &association, "STORESCP", scp->port, "127.0.0.1", "Echo_SCU_Service_List"),
      MC_NORMAL_COMPLETION);
  int message = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MC_Read_Message(association, 1, &message, &service, &command), MC_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5s);
  scp.reset();  // the peer goes away without a release
  EXPECT_EQ(MC_Read_Message(association, 5, &message, &service, &command), MC_ASSOCIATION_ABORTED);
  EXPECT_EQ(MC_Abort_Association(association), MC_INVALID_ASSOC_ID);  // already gone
}

TEST_F(NetClient, RuntimeListsRefuseDuplicatesAndKeepReferencesIntact) {
  const MC_TRANSFER_SYNTAX two[] = {MC_TS_IMPLICIT_LITTLE_ENDIAN, MC_TS_EXPLICIT_LITTLE_ENDIAN};
  const MC_TRANSFER_SYNTAX twice[] = {MC_TS_IMPLICIT_LITTLE_ENDIAN, MC_TS_IMPLICIT_LITTLE_ENDIAN};
  EXPECT_EQ(MC_NewSyntaxList("rt_syntaxes", two, 2), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_NewSyntaxList("rt_syntaxes", two, 2), MC_DUPLICATE_NAME);
  EXPECT_EQ(MC_NewSyntaxList("UNCOMPRESSED", two, 2), MC_DUPLICATE_NAME);  // a list of the files
  EXPECT_EQ(MC_NewSyntaxList("rt_twice", twice, 2), MC_DUPLICATE_SYNTAX);
  EXPECT_EQ(MC_NewSyntaxList("rt_empty", two, 0), MC_EMPTY_LIST);
  EXPECT_EQ(MC_NewSyntaxList("", two, 2), MC_MISSING_NAME);

  EXPECT_EQ(MC_NewServiceFromName("rt_ct", "STANDARD_CT_IMAGE", "rt_syntaxes", 1, 0), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_NewServiceFromName("rt_ct", "STANDARD_CT_IMAGE", "rt_syntaxes", 1, 0), MC_DUPLICATE_NAME);
  EXPECT_EQ(MC_NewServiceFromName("rt_x", "NO_SUCH_SERVICE", "rt_syntaxes", 1, 0), MC_INVALID_SERVICE_NAME);
  EXPECT_EQ(MC_NewServiceFromName("rt_y", "STANDARD_CT_IMAGE", "no_such_syntaxes", 1, 0), MC_INVALID_SYNTAX_NAME);
  EXPECT_EQ(MC_NewServiceFromName("rt_echo", "STANDARD_ECHO", "UNCOMPRESSED", 1, 0), MC_NORMAL_COMPLETION);

  const char* dup[] = {"rt_ct", "rt_ct"};
  EXPECT_EQ(MC_NewProposedServiceList("rt_list", dup, 2), MC_DUPLICATE_NAME);
  const char* unknown[] = {"rt_ct", "rt_nothing"};
  EXPECT_EQ(MC_NewProposedServiceList("rt_list", unknown, 2), MC_INVALID_SERVICE_NAME);
  const char* good[] = {"rt_ct", "rt_echo"};
  EXPECT_EQ(MC_NewProposedServiceList("rt_list", good, 2), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_NewProposedServiceList("Echo_Service_List", good, 2), MC_DUPLICATE_NAME);

  EXPECT_EQ(MC_FreeSyntaxList("rt_syntaxes"), MC_SYNTAX_IN_USE);
  EXPECT_EQ(MC_FreeService("rt_ct"), MC_SERVICE_IN_USE);
  EXPECT_EQ(MC_FreeServiceList("rt_list"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_FreeServiceList("rt_list"), MC_INVALID_SERVICE_LIST_NAME);
  EXPECT_EQ(MC_FreeService("rt_ct"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_FreeService("rt_echo"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_FreeSyntaxList("rt_syntaxes"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_NewSyntaxList("rt_syntaxes", two, 2), MC_NORMAL_COMPLETION);  // the name is free again
  EXPECT_EQ(MC_FreeSyntaxList("rt_syntaxes"), MC_NORMAL_COMPLETION);
}

TEST_F(NetClient, SeveralAssociationsFromThreadsAtOnce) {
  constexpr int kThreads = 3;
  std::vector<std::unique_ptr<StoreScp>> peers;
  for (int i = 0; i < kThreads; ++i) peers.push_back(std::make_unique<StoreScp>());
  RuntimeList list("threads", {{"STANDARD_CT_IMAGE", MC_TS_EXPLICIT_LITTLE_ENDIAN},
                               {"STANDARD_ECHO", MC_TS_IMPLICIT_LITTLE_ENDIAN}});
  const int app = applicationId();
  std::atomic<int> stored{0}, echoed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      int association = 0;
      if (MC_Open_Association(app, &association, "STORESCP", peers[i]->port, "127.0.0.1", list.name.c_str()) !=
          MC_NORMAL_COMPLETION)
        return;
      for (int k = 0; k < 5; ++k) {
        if (store(association, pydicomFile("CT_small.dcm")) == 0) ++stored;
        if (echo(association) == 2 * k + 2) ++echoed;
      }
      MC_Close_Association(association);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(stored.load(), kThreads * 5);
  EXPECT_EQ(echoed.load(), kThreads * 5);
}

}  // namespace
}  // namespace zyl::toolkit::test
