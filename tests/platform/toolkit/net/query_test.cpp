// C-FIND and C-MOVE against dcmqrscp (filled with storescu), the move's
// sub-operations arriving at our own listener, and C-CANCEL seen from both sides.
#include "../support.h"
#include "listener.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>

namespace zyl::toolkit::test {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kArchived = {"CT_small.dcm", "MR_small.dcm", "rtplan.dcm", "waveform_ecg.dcm"};

// What the archive holds besides the files themselves: CT_small's study gets
// a second image in its series and a second series with one image, so that
// every level has more than one match to tell apart.
constexpr const char* kCtPatient = "1CT1";
constexpr const char* kCtStudy = "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322";
constexpr const char* kCtSeries = "1.3.6.1.4.1.5962.1.3.1.1.20040119072730.12322";
constexpr const char* kCtImage = "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322";
constexpr const char* kCtImage2 = "2.25.314159265358.1.1.2";
constexpr const char* kCtSeries2 = "2.25.314159265358.1.2";
constexpr const char* kCtImage3 = "2.25.314159265358.1.2.1";
constexpr const char* kMrPatient = "4MR1";
constexpr const char* kMrStudy = "1.3.6.1.4.1.5962.1.2.4.20040826185059.5457";

// dcmqrscp filled with the archived files and two more CT images; it moves
// to our listener, known as NET_SCP.
struct Copies {
  TempDir copies;  // made before the archive is filled from it
};
struct QueryScp : Copies, ArchiveScp {
  QueryScp() : Copies(), ArchiveScp(archive(), "NET_SCP", listenPort()) {}
  std::vector<std::string> archive() {
    std::vector<std::string> files;
    for (const auto& f : kArchived) files.push_back(pydicomFile(f));
    files.push_back(ctCopy("image2.dcm", kCtSeries, kCtImage2));
    files.push_back(ctCopy("image3.dcm", kCtSeries2, kCtImage3));
    return files;
  }
  // CT_small with another series and instance UID.
  std::string ctCopy(const std::string& name, const std::string& series, const std::string& instance) {
    const std::string path = (copies.path() / name).string();
    std::filesystem::copy_file(pydicomFile("CT_small.dcm"), path);
    EXPECT_EQ(RunTool({"dcmodify", "-nb", "-m", "SeriesInstanceUID=" + series, "-m", "SOPInstanceUID=" + instance,
                       path})  // the meta group follows the instance UID
                  .exitCode,
              0);
    return path;
  }
};

// wlmscpfs serving ten worklist entries, one response a second, so that a
// C-CANCEL sent after the first response arrives while the matching is
// still going on.
struct WorklistScp {
  TempDir dir;
  int port = FreePort();
  std::unique_ptr<ChildProcess> process;
  static constexpr int kEntries = 10;
  WorklistScp() {
    const auto folder = dir.path() / "WLSCP";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "lockfile");
    for (int i = 1; i <= kEntries; ++i) {
      const std::string n = std::to_string(i);
      const auto dump = dir.path() / ("entry" + n + ".dump");
      // wlmscpfs ignores entries without every attribute of a complete worklist item.
      std::ofstream(dump) << "(0008,0050) SH [ACC" << n << "]\n(0008,0005) CS [ISO_IR 100]\n"
                          << "(0010,0010) PN [WORKLIST^PATIENT" << n << "]\n(0010,0020) LO [WL" << n << "]\n"
                          << "(0010,0030) DA [19700101]\n(0010,0040) CS [O]\n"
                          << "(0020,000d) UI [2.25.314159265358.9." << n << "]\n"
                          << "(0032,1032) PN [REFERRING^DOCTOR]\n(0032,1060) LO [EXAM" << n << "]\n"
                          << "(0040,0100) SQ\n(fffe,e000) -\n"
                          << "(0008,0060) CS [CT]\n(0040,0001) AE [CT01]\n(0040,0002) DA [20261208]\n"
                          << "(0040,0003) TM [0800]\n(0040,0006) PN [PERFORMING^DOCTOR]\n"
                          << "(0040,0007) LO [STEP" << n << "]\n(0040,0009) SH [SPS" << n << "]\n"
                          << "(0040,0010) SH [STATION1]\n(0040,0011) SH [ROOM1]\n"
                          << "(fffe,e00d) -\n(fffe,e0dd) -\n(0040,1001) SH [RP" << n << "]\n"
                          << "(0040,1003) SH [LOW]\n";
      EXPECT_EQ(RunTool({"dump2dcm", dump.string(), (folder / ("entry" + n + ".wl")).string()}).exitCode, 0);
    }
    process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"wlmscpfs", "-dfp", dir.path().string(), "--sleep-during", "1", std::to_string(port)},
        (dir.path() / "wlmscpfs.log").string());
    EXPECT_TRUE(WaitListening(port)) << "wlmscpfs did not start";
  }
};

std::string valueOf(int id, std::uint32_t tag) {
  char value[256] = {};
  return MC_Get_Value_To_String(id, tag, sizeof value, value) == MC_NORMAL_COMPLETION ? value : "";
}

int openQrAssociation(int port) {
  int association = 0;
  EXPECT_EQ(MC_Open_Association(applicationId(), &association, "QRSCP", port, "127.0.0.1", "QR_SCU_Service_List"),
            MC_NORMAL_COMPLETION);
  return association;
}

int studyFind() {
  int request = 0;
  EXPECT_EQ(MC_Open_Message(&request, "STUDY_ROOT_QR_FIND", MC_CMD_C_FIND_RQ), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Set_Value_From_String(request, 0x00080052, "STUDY"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Set_Value_To_NULL(request, 0x0020000D), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Set_Value_To_NULL(request, 0x00100010), MC_NORMAL_COMPLETION);
  return request;
}

struct Response {
  MC_STATUS read = MC_SYSTEM_ERROR;
  int id = 0;
  unsigned status = 0xFFFFFFFF;
  int respondedTo = -1;
  MC_COMMAND command = MC_CMD_NONE;
};

Response readResponse(int association) {
  Response r;
  const char* service = nullptr;
  r.read = MC_Read_Message(association, 20, &r.id, &service, &r.command);
  if (r.read == MC_NORMAL_COMPLETION) {
    MC_Get_Value_To_UInt(r.id, 0x00000900, &r.status);
    MC_Get_Value_To_Int(r.id, 0x00000120, &r.respondedTo);
  }
  return r;
}

// Joins a thread on every way out of a test.
struct Joined {
  std::thread thread;
  ~Joined() {
    if (thread.joinable()) thread.join();
  }
};

class NetQuery : public ::testing::Test {
 protected:
  void SetUp() override { initToolkit(); }
};

struct LevelQuery {
  const char* service;
  const char* level;
  std::vector<std::pair<std::uint32_t, std::string>> keys;  // an empty value asks for the attribute
  std::uint32_t returned;                                   // the key whose values are compared
  std::set<std::string> expected;
};

constexpr std::uint32_t kPatientId = 0x00100020, kPatientName = 0x00100010, kStudyUid = 0x0020000D,
                        kSeriesUid = 0x0020000E, kInstanceUid = 0x00080018;

const std::set<std::string> kAllPatients = {kCtPatient, kMrPatient, "id00001", "642341"};

const LevelQuery kLevels[] = {
    {"PATIENT_ROOT_QR_FIND", "PATIENT", {{kPatientId, ""}, {kPatientName, ""}}, kPatientId, kAllPatients},
    {"PATIENT_ROOT_QR_FIND", "STUDY", {{kPatientId, kCtPatient}, {kStudyUid, ""}}, kStudyUid, {kCtStudy}},
    {"PATIENT_ROOT_QR_FIND",
     "SERIES",
     {{kPatientId, kCtPatient}, {kStudyUid, kCtStudy}, {kSeriesUid, ""}},
     kSeriesUid,
     {kCtSeries, kCtSeries2}},
    {"PATIENT_ROOT_QR_FIND",
     "IMAGE",
     {{kPatientId, kCtPatient}, {kStudyUid, kCtStudy}, {kSeriesUid, kCtSeries}, {kInstanceUid, ""}},
     kInstanceUid,
     {kCtImage, kCtImage2}},
    {"STUDY_ROOT_QR_FIND",
     "STUDY",
     {{kStudyUid, ""}, {kPatientName, "CompressedSamples*"}},
     kStudyUid,
     {kCtStudy, kMrStudy}},
    {"STUDY_ROOT_QR_FIND", "SERIES", {{kStudyUid, kCtStudy}, {kSeriesUid, ""}}, kSeriesUid, {kCtSeries, kCtSeries2}},
    {"STUDY_ROOT_QR_FIND",
     "IMAGE",
     {{kStudyUid, kCtStudy}, {kSeriesUid, kCtSeries2}, {kInstanceUid, ""}},
     kInstanceUid,
     {kCtImage3}},
    {"PATIENT_STUDY_ONLY_QR_FIND", "PATIENT", {{kPatientId, ""}}, kPatientId, kAllPatients},
    {"PATIENT_STUDY_ONLY_QR_FIND", "STUDY", {{kPatientId, kMrPatient}, {kStudyUid, ""}}, kStudyUid, {kMrStudy}},
};

// Every level of the three information models over one association: each
// match comes as a pending response answering its own request, then success.
TEST_F(NetQuery, FindsAtEveryLevelOfEveryModel) {
  QueryScp scp;
  const int association = openQrAssociation(scp.port);
  int messageId = 0;
  for (const LevelQuery& q : kLevels) {
    SCOPED_TRACE(std::string(q.service) + " " + q.level);
    int request = 0;
    ASSERT_EQ(MC_Open_Message(&request, q.service, MC_CMD_C_FIND_RQ), MC_NORMAL_COMPLETION);
    ASSERT_EQ(MC_Set_Value_From_String(request, 0x00080052, q.level), MC_NORMAL_COMPLETION);
    for (const auto& [tag, value] : q.keys)
      ASSERT_EQ(
          value.empty() ? MC_Set_Value_To_NULL(request, tag) : MC_Set_Value_From_String(request, tag, value.c_str()),
          MC_NORMAL_COMPLETION);
    ASSERT_EQ(MC_Send_Request_Message(association, request), MC_NORMAL_COMPLETION);
    MC_Free_Message(request);
    ++messageId;
    std::set<std::string> found;
    int pending = 0;
    Response r;
    for (int i = 0; i < 50; ++i) {
      r = readResponse(association);
      ASSERT_EQ(r.read, MC_NORMAL_COMPLETION);
      EXPECT_EQ(r.command, MC_CMD_C_FIND_RSP);
      EXPECT_EQ(r.respondedTo, messageId);
      if (r.status != 0xFF00 && r.status != 0xFF01) break;
      ++pending;
      EXPECT_EQ(valueOf(r.id, 0x00080052), q.level);
      found.insert(valueOf(r.id, q.returned));
      MC_Free_Message(r.id);
    }
    EXPECT_EQ(r.status, 0u);
    MC_Free_Message(r.id);
    EXPECT_EQ(found, q.expected);
    EXPECT_EQ(pending, static_cast<int>(q.expected.size()));  // no match twice
  }
  EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
}

// A real provider stops matching on our C-CANCEL: the final response says
// so before all entries were sent, and the association goes on.
TEST_F(NetQuery, CancelStopsAWorklistFindMidway) {
  WorklistScp scp;
  RuntimeList list("worklist", {{"MODALITY_WORKLIST_FIND", MC_TS_EXPLICIT_LITTLE_ENDIAN},
                                {"STANDARD_ECHO", MC_TS_IMPLICIT_LITTLE_ENDIAN}});
  int association = 0;
  ASSERT_EQ(MC_Open_Association(applicationId(), &association, "WLSCP", scp.port, "127.0.0.1", list.name.c_str()),
            MC_NORMAL_COMPLETION);
  int request = 0;
  ASSERT_EQ(MC_Open_Message(&request, "MODALITY_WORKLIST_FIND", MC_CMD_C_FIND_RQ), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_To_NULL(request, kPatientName), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_To_NULL(request, kPatientId), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Send_Request_Message(association, request), MC_NORMAL_COMPLETION);
  MC_Free_Message(request);

  Response first = readResponse(association);
  ASSERT_EQ(first.read, MC_NORMAL_COMPLETION);
  ASSERT_EQ(first.status, 0xFF00u);
  EXPECT_FALSE(valueOf(first.id, kPatientName).empty());
  MC_Free_Message(first.id);

  int cancel = 0;
  ASSERT_EQ(MC_Open_Message(&cancel, "MODALITY_WORKLIST_FIND", MC_CMD_C_CANCEL_RQ), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Send_Request_Message(association, cancel), MC_NORMAL_COMPLETION);
  MC_Free_Message(cancel);
  int pendingAfterCancel = 0;
  Response r;
  for (int i = 0; i < WorklistScp::kEntries + 1; ++i) {
    r = readResponse(association);
    ASSERT_EQ(r.read, MC_NORMAL_COMPLETION);
    EXPECT_EQ(r.respondedTo, 1);
    if (r.status != 0xFF00 && r.status != 0xFF01) break;
    ++pendingAfterCancel;
    MC_Free_Message(r.id);
  }
  EXPECT_EQ(r.status, 0xFE00u);
  MC_Free_Message(r.id);
  // The response being built when the cancel came may still be sent.
  EXPECT_LE(pendingAfterCancel, 1);

  int echoRequest = 0;
  ASSERT_EQ(MC_Open_Message(&echoRequest, "STANDARD_ECHO", MC_CMD_C_ECHO_RQ), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Send_Request_Message(association, echoRequest), MC_NORMAL_COMPLETION);
  MC_Free_Message(echoRequest);
  Response echo = readResponse(association);
  ASSERT_EQ(echo.read, MC_NORMAL_COMPLETION);
  EXPECT_EQ(echo.command, MC_CMD_C_ECHO_RSP);
  EXPECT_EQ(echo.status, 0u);
  MC_Free_Message(echo.id);
  EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
}

TEST_F(NetQuery, MoveSendsTheStudyToOurListener) {
  QueryScp scp;
  scpApplication();
  std::atomic<int> stored{-2};
  Joined listener{std::thread([&] {
    int app = 0, association = 0;
    if (waitForCaller("Storage_SCP_Service_List", app, association) == MC_NORMAL_COMPLETION)
      stored = serveStores(association);
  })};
  const int association = openQrAssociation(scp.port);
  int request = 0;
  ASSERT_EQ(MC_Open_Message(&request, "STUDY_ROOT_QR_MOVE", MC_CMD_C_MOVE_RQ), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(request, 0x00080052, "STUDY"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(request, 0x0020000D, kCtStudy), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Request_Message(association, request), MC_REQUIRED_ATTRIBUTE_MISSING);  // no destination yet
  ASSERT_EQ(MC_Set_Value_From_String(request, 0x00000600, "NET_SCP"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Send_Request_Message(association, request), MC_NORMAL_COMPLETION);
  MC_Free_Message(request);
  Response r;
  for (int i = 0; i < 50; ++i) {
    r = readResponse(association);
    ASSERT_EQ(r.read, MC_NORMAL_COMPLETION);
    EXPECT_EQ(r.command, MC_CMD_C_MOVE_RSP);
    if (r.status != 0xFF00) break;
    MC_Free_Message(r.id);
  }
  EXPECT_EQ(r.status, 0u);
  unsigned completed = 0;
  EXPECT_EQ(MC_Get_Value_To_UInt(r.id, 0x00001021, &completed), MC_NORMAL_COMPLETION);
  EXPECT_EQ(completed, 3u);  // the study's three images
  MC_Free_Message(r.id);
  EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
  listener.thread.join();
  EXPECT_EQ(stored.load(), 3);
}

// Both sides are ours: the provider sees the C-CANCEL refer to the C-FIND.
TEST_F(NetQuery, CancelRefersToTheOpenRequest) {
  scpApplication();
  // Listen before the provider thread starts, so that our own connect
  // cannot come first and meet no listener.
  listenPort();
  {
    int app = 0, association = 0;
    ASSERT_EQ(MC_Wait_For_Association("Query_Retrieve_Service_List", 0, &app, &association), MC_TIMEOUT);
  }
  std::atomic<int> findId{-1}, cancelledId{-2};
  Joined provider{std::thread([&] {
    int app = 0, association = 0;
    if (waitForCaller("Query_Retrieve_Service_List", app, association) != MC_NORMAL_COMPLETION) return;
    MC_Accept_Association(association);
    int message = 0, response = 0;
    const char* service = nullptr;
    MC_COMMAND command{};
    if (MC_Read_Message(association, 10, &message, &service, &command) != MC_NORMAL_COMPLETION) return;
    int id = 0;
    MC_Get_Value_To_Int(message, 0x00000110, &id);
    findId = id;
    MC_Free_Message(message);
    MC_Open_Message(&response, "STUDY_ROOT_QR_FIND", MC_CMD_C_FIND_RSP);
    MC_Set_Value_From_String(response, 0x0020000D, "1.2.3.4");
    MC_Send_Response_Message(association, 0xFF00, response);
    MC_Free_Message(response);
    if (MC_Read_Message(association, 10, &message, &service, &command) != MC_NORMAL_COMPLETION) return;
    if (command == MC_CMD_C_CANCEL_RQ) {
      MC_Get_Value_To_Int(message, 0x00000120, &id);
      cancelledId = id;
    }
    MC_Free_Message(message);
    MC_Open_Message(&response, "STUDY_ROOT_QR_FIND", MC_CMD_C_FIND_RSP);
    MC_Send_Response_Message(association, 0xFE00, response);
    MC_Free_Message(response);
    MC_Read_Message(association, 10, &message, &service, &command);  // the release
  })};
  int association = 0;
  ASSERT_EQ(
      MC_Open_Association(applicationId(), &association, "NET_SCP", listenPort(), "127.0.0.1", "QR_SCU_Service_List"),
      MC_NORMAL_COMPLETION);
  int cancel = 0;
  ASSERT_EQ(MC_Open_Message(&cancel, "STUDY_ROOT_QR_FIND", MC_CMD_C_CANCEL_RQ), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Request_Message(association, cancel), MC_NO_REQUEST_PENDING);  // nothing to cancel yet
  const int request = studyFind();
  ASSERT_EQ(MC_Send_Request_Message(association, request), MC_NORMAL_COMPLETION);
  MC_Free_Message(request);
  Response pending = readResponse(association);
  ASSERT_EQ(pending.read, MC_NORMAL_COMPLETION);
  EXPECT_EQ(pending.status, 0xFF00u);
  EXPECT_EQ(valueOf(pending.id, 0x0020000D), "1.2.3.4");
  MC_Free_Message(pending.id);
  EXPECT_EQ(MC_Send_Request_Message(association, cancel), MC_NORMAL_COMPLETION);
  Response final = readResponse(association);
  ASSERT_EQ(final.read, MC_NORMAL_COMPLETION);
  EXPECT_EQ(final.status, 0xFE00u);
  EXPECT_EQ(final.respondedTo, findId.load());
  MC_Free_Message(final.id);
  EXPECT_EQ(MC_Send_Request_Message(association, cancel), MC_NO_REQUEST_PENDING);  // the find is over
  MC_Free_Message(cancel);
  EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
  provider.thread.join();
  EXPECT_EQ(cancelledId.load(), findId.load());
}

}  // namespace
}  // namespace zyl::toolkit::test
