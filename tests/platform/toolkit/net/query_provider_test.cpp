// Our listening side as a query/retrieve provider for findscu and movescu:
// the identifier arrives as sent, pending responses reach the caller in
// order, findscu's C-CANCEL ends a find, and a move's sub-operations store
// files in movescu's own storage SCP.
#include "../support.h"
#include "listener.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

namespace zyl::toolkit::test {
namespace {

constexpr std::uint32_t kLevel = 0x00080052, kPatientName = 0x00100010, kStudyUid = 0x0020000D, kMessageId = 0x00000110,
                        kRespondedTo = 0x00000120, kMoveDestination = 0x00000600;

std::string text(int id, std::uint32_t tag) {
  char value[256] = {};
  return MC_Get_Value_To_String(id, tag, sizeof value, value) == MC_NORMAL_COMPLETION ? value : "";
}

int number(int id, std::uint32_t tag) {
  int value = -1;
  return MC_Get_Value_To_Int(id, tag, &value) == MC_NORMAL_COMPLETION ? value : -1;
}

// One request read on an accepted association.
struct Request {
  MC_STATUS read = MC_SYSTEM_ERROR;
  int id = 0;
  std::string service;
  MC_COMMAND command = MC_CMD_NONE;
};

Request readRequest(int association) {
  Request r;
  const char* service = nullptr;
  r.read = MC_Read_Message(association, 20, &r.id, &service, &r.command);
  if (r.read == MC_NORMAL_COMPLETION) r.service = service;
  return r;
}

// Sends a response on `service`; `fill` sets its fields before it goes.
template <typename Fill>
MC_STATUS respond(int association, const std::string& service, MC_COMMAND command, unsigned status, Fill fill) {
  int response = 0;
  MC_STATUS s = MC_Open_Message(&response, service.c_str(), command);
  if (s != MC_NORMAL_COMPLETION) return s;
  fill(response);
  s = MC_Send_Response_Message(association, status, response);
  MC_Free_Message(response);
  return s;
}

// Waits for the caller's release after the last response.
MC_STATUS awaitRelease(int association) {
  int message = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  const MC_STATUS s = MC_Read_Message(association, 20, &message, &service, &command);
  if (s == MC_NORMAL_COMPLETION) MC_Free_Message(message);
  return s;
}

// Runs the provider on its own thread; joined on every way out of a test.
struct Provider {
  std::thread thread;
  template <typename Body>
  explicit Provider(Body body)
      : thread([body] {
          int app = 0, association = 0;
          if (waitForCaller("Query_Retrieve_Service_List", app, association) != MC_NORMAL_COMPLETION) return;
          if (MC_Accept_Association(association) != MC_NORMAL_COMPLETION) return;
          body(association);
        }) {}
  ~Provider() {
    if (thread.joinable()) thread.join();
  }
};

// What the provider saw of a C-FIND.
struct FindSeen {
  std::string service, level, patientName;
  int messageId = -1, cancelRespondedTo = -1;
  MC_COMMAND afterPending = MC_CMD_NONE;
  MC_STATUS end = MC_SYSTEM_ERROR;
};

// Answers one C-FIND with `matches` pending responses, each naming its own
// study; after `cancelAfter` of them it waits for the caller's C-CANCEL.
void provideFind(int association, int matches, int cancelAfter, FindSeen& seen) {
  const Request request = readRequest(association);
  if (request.read != MC_NORMAL_COMPLETION || request.command != MC_CMD_C_FIND_RQ) return;
  seen.service = request.service;
  seen.level = text(request.id, kLevel);
  seen.patientName = text(request.id, kPatientName);
  seen.messageId = number(request.id, kMessageId);
  MC_Free_Message(request.id);
  unsigned finalStatus = 0x0000;
  for (int i = 1; i <= matches; ++i) {
    const std::string n = std::to_string(i);
    respond(association, seen.service, MC_CMD_C_FIND_RSP, 0xFF00, [&](int response) {
      MC_Set_Value_From_String(response, kLevel, "STUDY");
      MC_Set_Value_From_String(response, kPatientName, ("DOE^JOHN" + n).c_str());
      MC_Set_Value_From_String(response, kStudyUid, ("2.25.314159265358.7." + n).c_str());
    });
    if (i == cancelAfter) {
      const Request cancel = readRequest(association);
      if (cancel.read != MC_NORMAL_COMPLETION) return;
      seen.afterPending = cancel.command;
      seen.cancelRespondedTo = number(cancel.id, kRespondedTo);
      MC_Free_Message(cancel.id);
      finalStatus = 0xFE00;
      break;
    }
  }
  respond(association, seen.service, MC_CMD_C_FIND_RSP, finalStatus, [](int) {});
  seen.end = awaitRelease(association);
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> findscu(const TempDir& out, std::vector<std::string> extra) {
  std::vector<std::string> argv{"findscu",
                                "-S",
                                "-aet",
                                "FINDSCU",
                                "-aec",
                                "NET_SCP",
                                "-to",
                                "10",
                                "-X",
                                "-od",
                                out.path().string(),
                                "-k",
                                "QueryRetrieveLevel=STUDY",
                                "-k",
                                "PatientName=DOE*",
                                "-k",
                                "StudyInstanceUID"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("127.0.0.1");
  argv.push_back(std::to_string(listenPort()));
  return argv;
}

class NetQueryProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    initToolkit();
    scpApplication();
    // Listen before the caller starts, so that it cannot come first and
    // meet a closed port.
    int app = 0, association = 0;
    ASSERT_EQ(MC_Wait_For_Association("Query_Retrieve_Service_List", 0, &app, &association), MC_TIMEOUT);
  }
};

TEST_F(NetQueryProvider, FindscuReceivesEveryPendingResponse) {
  FindSeen seen;
  TempDir out;
  ToolResult result;
  {
    Provider provider([&](int association) { provideFind(association, 3, -1, seen); });
    result = RunTool(findscu(out, {}));
  }
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(seen.service, "STUDY_ROOT_QR_FIND");
  EXPECT_EQ(seen.level, "STUDY");
  EXPECT_EQ(seen.patientName, "DOE*");
  EXPECT_EQ(seen.messageId, 1);
  EXPECT_EQ(seen.end, MC_ASSOCIATION_CLOSED);  // findscu released
  // One file per pending response, in the order they were sent.
  const auto files = filesIn(out.path());
  ASSERT_EQ(files.size(), 3u);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string dump = dumpDataSet(files[i].string());
    const std::string n = std::to_string(i + 1);
    EXPECT_NE(dump.find("[2.25.314159265358.7." + n + "]"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[DOE^JOHN" + n + "]"), std::string::npos) << dump;
  }
}

TEST_F(NetQueryProvider, FindscuCancelEndsTheFind) {
  FindSeen seen;
  TempDir out;
  ToolResult result;
  {
    Provider provider([&](int association) { provideFind(association, 5, 2, seen); });
    result = RunTool(findscu(out, {"--cancel", "2"}));
  }
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(seen.afterPending, MC_CMD_C_CANCEL_RQ);
  EXPECT_EQ(seen.cancelRespondedTo, seen.messageId);
  EXPECT_EQ(seen.end, MC_ASSOCIATION_CLOSED);
  EXPECT_EQ(filesIn(out.path()).size(), 2u);  // nothing after the cancel
}

// What the provider saw of a C-MOVE and of its sub-operations.
struct MoveSeen {
  std::string service, destination, study;
  MC_STATUS subAssociation = MC_SYSTEM_ERROR;
  std::vector<unsigned> storeStatuses;
  MC_STATUS end = MC_SYSTEM_ERROR;
};

const std::vector<std::string> kMoved = {"CT_small.dcm", "MR_small.dcm"};

// Answers one C-MOVE: stores kMoved at the destination (movescu's own
// storage SCP on `destinationPort`), a pending response after each.
void provideMove(int association, int destinationPort, MoveSeen& seen) {
  const Request request = readRequest(association);
  if (request.read != MC_NORMAL_COMPLETION || request.command != MC_CMD_C_MOVE_RQ) return;
  seen.service = request.service;
  seen.destination = text(request.id, kMoveDestination);
  seen.study = text(request.id, kStudyUid);
  MC_Free_Message(request.id);

  // A list of just the SOP classes moved: the shipped storage list holds
  // more services than one association can propose.
  std::vector<std::pair<std::string, MC_TRANSFER_SYNTAX>> entries;
  for (const auto& file : kMoved) entries.emplace_back(serviceOf(pydicomFile(file)), MC_TS_EXPLICIT_LITTLE_ENDIAN);
  const RuntimeList storageList("move", entries);
  int store = 0;
  seen.subAssociation = MC_Open_Association(scpApplication(), &store, seen.destination.c_str(), destinationPort,
                                            "127.0.0.1", storageList.name.c_str());
  unsigned completed = 0, failed = 0;
  const unsigned total = static_cast<unsigned>(kMoved.size());
  for (const auto& file : kMoved) {
    unsigned status = 0xFFFFFFFF;
    if (seen.subAssociation == MC_NORMAL_COMPLETION) {
      const int message = openStoreMessage(pydicomFile(file));
      if (MC_Send_Request_Message(store, message) == MC_NORMAL_COMPLETION) {
        const Request response = readRequest(store);
        if (response.read == MC_NORMAL_COMPLETION) {
          MC_Get_Value_To_UInt(response.id, 0x00000900, &status);
          MC_Free_Message(response.id);
        }
      }
      MC_Free_Message(message);
    }
    seen.storeStatuses.push_back(status);
    (status == 0 ? completed : failed) += 1;
    respond(association, seen.service, MC_CMD_C_MOVE_RSP, 0xFF00, [&](int response) {
      MC_Set_Value_From_UInt(response, 0x00001020, total - completed - failed);
      MC_Set_Value_From_UInt(response, 0x00001021, completed);
      MC_Set_Value_From_UInt(response, 0x00001022, failed);
      MC_Set_Value_From_UInt(response, 0x00001023, 0);
    });
  }
  if (seen.subAssociation == MC_NORMAL_COMPLETION) MC_Close_Association(store);
  respond(association, seen.service, MC_CMD_C_MOVE_RSP, failed ? 0xB000 : 0x0000, [&](int response) {
    MC_Set_Value_From_UInt(response, 0x00001021, completed);
    MC_Set_Value_From_UInt(response, 0x00001022, failed);
    MC_Set_Value_From_UInt(response, 0x00001023, 0);
  });
  seen.end = awaitRelease(association);
}

TEST_F(NetQueryProvider, MovescuReceivesTheSubOperations) {
  const int destinationPort = FreePort();
  const std::string study = "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322";
  MoveSeen seen;
  TempDir out;
  const std::string log = (out.path() / "movescu.log").string();
  const auto received = out.path() / "received";
  std::filesystem::create_directories(received);
  int exitCode = -1;
  {
    Provider provider([&](int association) { provideMove(association, destinationPort, seen); });
    ChildProcess movescu({"movescu",
                          "-v",
                          "-S",
                          "-aet",
                          "MOVESCU",
                          "-aec",
                          "NET_SCP",
                          "-aem",
                          "MOVESCU",
                          "--port",
                          std::to_string(destinationPort),
                          "-to",
                          "10",
                          "-od",
                          received.string(),
                          "-k",
                          "QueryRetrieveLevel=STUDY",
                          "-k",
                          "StudyInstanceUID=" + study,
                          "127.0.0.1",
                          std::to_string(listenPort())},
                         log);
    exitCode = movescu.waitExit(std::chrono::seconds(60)).value_or(-1);
  }
  EXPECT_EQ(exitCode, 0) << ReadText(log);
  EXPECT_EQ(seen.service, "STUDY_ROOT_QR_MOVE");
  EXPECT_EQ(seen.destination, "MOVESCU");
  EXPECT_EQ(seen.study, study);
  EXPECT_EQ(seen.subAssociation, MC_NORMAL_COMPLETION);
  EXPECT_EQ(seen.storeStatuses, (std::vector<unsigned>{0, 0}));
  EXPECT_EQ(seen.end, MC_ASSOCIATION_CLOSED);
  // movescu saw both pending responses and the final one with our counts.
  const std::string output = ReadText(log);
  EXPECT_NE(output.find("Received Final Move Response (Success)"), std::string::npos) << output;

  // Each stored file holds the data set we sent.
  std::map<std::string, std::string> expected;
  for (const auto& f : kMoved) expected[dumpDataSet(pydicomFile(f))] = f;
  const auto files = filesIn(received);
  ASSERT_EQ(files.size(), kMoved.size());
  for (const auto& file : files) {
    const std::string dump = dumpDataSet(file.string());
    EXPECT_EQ(expected.erase(dump), 1u) << file << " matches none of the moved files";
  }
}

}  // namespace
}  // namespace zyl::toolkit::test
