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

// dcmqrscp with its own configuration and database, filled by storescu.
struct QueryScp {
    TempDir dir;
    int port = freePort();
    std::unique_ptr<Process> process;
    QueryScp() {
        std::filesystem::create_directories(dir.path() / "db");
        const std::string config = (dir.path() / "dcmqrscp.cfg").string();
        std::ofstream(config) << "NetworkTCPPort = " << port << "\nMaxPDUSize = 16384\nMaxAssociations = 16\n"
                              << "HostTable BEGIN\nnetscp = (NET_SCP, 127.0.0.1, " << listenPort() << ")\nHostTable END\n"
                              << "VendorTable BEGIN\nVendorTable END\n"
                              << "AETable BEGIN\nQRSCP " << (dir.path() / "db").string() << " RW (100, 1024mb) ANY\n"
                              << "AETable END\n";
        // Its single-process mode stops listening after one association; the
        // default forks a child per association, each ending with its association.
        process = std::make_unique<Process>(std::vector<std::string>{"dcmqrscp", "-c", config},
                                            (dir.path() / "dcmqrscp.log").string());
        EXPECT_TRUE(waitForPort(port)) << "dcmqrscp did not start";
        std::vector<std::string> argv{"storescu", "-aec", "QRSCP", "127.0.0.1", std::to_string(port)};
        for (const auto& f : kArchived) argv.push_back(pydicomFile(f));
        EXPECT_EQ(run(argv).exitCode, 0) << "storescu could not fill dcmqrscp";
    }
};

std::string valueOf(int id, std::uint32_t tag) {
    char value[256] = {};
    return MC_Get_Value_To_String(id, tag, sizeof value, value) == MC_NORMAL_COMPLETION ? value : "";
}

std::string studyOf(const std::string& file) {
    const int id = openStoreMessage(pydicomFile(file));
    const std::string uid = valueOf(id, 0x0020000D);
    MC_Free_Message(id);
    return uid;
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

TEST_F(NetQuery, FindsEveryStudyWithPendingResponses) {
    QueryScp scp;
    const int association = openQrAssociation(scp.port);
    std::set<std::string> expected;
    for (const auto& f : kArchived) expected.insert(studyOf(f));
    for (int round = 1; round <= 2; ++round) {
        const int request = studyFind();
        ASSERT_EQ(MC_Send_Request_Message(association, request), MC_NORMAL_COMPLETION);
        MC_Free_Message(request);
        std::set<std::string> found;
        Response r;
        for (int i = 0; i < 50; ++i) {
            r = readResponse(association);
            ASSERT_EQ(r.read, MC_NORMAL_COMPLETION);
            EXPECT_EQ(r.command, MC_CMD_C_FIND_RSP);
            EXPECT_EQ(r.respondedTo, round);
            if (r.status != 0xFF00 && r.status != 0xFF01) break;
            found.insert(valueOf(r.id, 0x0020000D));
            MC_Free_Message(r.id);
        }
        EXPECT_EQ(r.status, 0u);
        MC_Free_Message(r.id);
        EXPECT_EQ(found, expected);
    }
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
    ASSERT_EQ(MC_Set_Value_From_String(request, 0x0020000D, studyOf("CT_small.dcm").c_str()), MC_NORMAL_COMPLETION);
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
    EXPECT_EQ(completed, 1u);
    MC_Free_Message(r.id);
    EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
    listener.thread.join();
    EXPECT_EQ(stored.load(), 1);
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
    ASSERT_EQ(MC_Open_Association(applicationId(), &association, "NET_SCP", listenPort(), "127.0.0.1", "QR_SCU_Service_List"),
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
