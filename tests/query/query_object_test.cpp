// The query client's object: properties and their rules, the two status
// tables, the probe of a node's query models, and a C-FIND run step by step
// with the low-level message methods against dcmqrscp.
#include <set>

#include "../netconfig/cfg_support.h"
#include "net/peers.h"

namespace querytest {
namespace {

using cfgtest::contains;
using zyl::Variable;
namespace tk = zyl::toolkit::test;

const std::vector<std::string> kArchive = {"CT_small.dcm", "MR_small.dcm", "rtplan.dcm"};

class QueryObject : public cfgtest::CfgTest {
 protected:
  void TearDown() override {
    for (Variable& q : queries_) fotest::rt().destroyObject(q);
    queries_.clear();
    CfgTest::TearDown();
  }
  Variable makeQuery() {
    Variable q = fotest::rt().newObject("ZYLFFORVOQUERY", {}, {});
    queries_.push_back(q);
    return q;
  }
  void setProperties(Variable& q, std::vector<std::pair<std::string, Variable>> values) {
    std::vector<zyl::KeywordArg> kws;
    for (auto& [name, value] : values) kws.push_back({name, &value});
    fotest::rt().callMethod(q, "SetProperty", {}, kws);
  }
  Variable property(Variable& q, const std::string& name) {
    Variable out;
    std::vector<zyl::KeywordArg> kws{{name, &out}};
    fotest::rt().callMethod(q, "GetProperty", {}, kws);
    return out;
  }
  Variable staticCall(const std::string& method, Variable x) {
    return fotest::rt().callStatic("ZYLFFORVOQUERY", method, {&x}, {});
  }
  void addNode(const std::string& name, const std::string& aet, int port) {
    Variable cfg = makeCfg();
    call(cfg, "SetApplicationEntity",
         {Variable::ofString(name), Variable::ofString(aet), Variable::ofString("127.0.0.1"), Variable::ofInt32(port),
          Variable::ofString("QR_SCU_Service_List"), Variable::ofString("QUERY_SCP")});
    call(cfg, "Commit");
    destroy(cfg);
  }
  std::vector<Variable> queries_;
};

TEST_F(QueryObject, PropertiesKeepModelAndLevelConsistent) {
  Variable q = makeQuery();
  EXPECT_EQ(property(q, "PATIENT_ID").text(), "*");
  EXPECT_EQ(property(q, "QUERY_MODEL").scalar().i16, 0);
  EXPECT_EQ(property(q, "PATIENT_NAME").text(), "");
  messages.clear();
  setProperties(q, {{"QUERY_MODEL", Variable::ofInt32(1)}});
  EXPECT_EQ(property(q, "QUERY_LEVEL").scalar().i16, 1);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_TRUE(sawMessage("Warning: The query level has automatically been changed from patient to study."));
  // On a fresh object both keywords in one call move the level, each time.
  call(q, "ClearProperties");
  messages.clear();
  setProperties(q, {{"QUERY_MODEL", Variable::ofInt32(1)}, {"QUERY_LEVEL", Variable::ofInt32(0)}});
  EXPECT_EQ(property(q, "QUERY_LEVEL").scalar().i16, 1);
  EXPECT_EQ(messages.size(), 2u);
  // Out of range, negative included: refused, stored values unchanged.
  EXPECT_THROW(setProperties(q, {{"QUERY_LEVEL", Variable::ofInt32(-1)}}), zyl::HostError);
  EXPECT_TRUE(sawMessage("Error: Invalid value for Query_Level property. valid values: 0 = PATIENT, 1 = STUDY, "
                         "2 = SERIES, 3 = IMAGE."));
  EXPECT_THROW(setProperties(q, {{"QUERY_MODEL", Variable::ofInt32(3)}}), zyl::HostError);
  EXPECT_EQ(property(q, "QUERY_MODEL").scalar().i16, 1);
  EXPECT_EQ(property(q, "QUERY_LEVEL").scalar().i16, 1);
  // Keywords before a refused one keep their values.
  EXPECT_THROW(setProperties(q, {{"QUERY_SCP", Variable::ofString("NODE")}, {"QUERY_MODEL", Variable::ofInt32(9)}}),
               zyl::HostError);
  EXPECT_EQ(property(q, "QUERY_SCP").text(), "NODE");

  setProperties(q, {{"PATIENT_ID", Variable::ofString("ID1")}, {"MODALITY", Variable::ofString("CT")},
                    {"CALLBACK_DATA", Variable::ofInt32(5)}});
  EXPECT_EQ(property(q, "MODALITY").text(), "CT");
  call(q, "ClearProperties");
  EXPECT_EQ(property(q, "PATIENT_ID").text(), "*");
  EXPECT_EQ(property(q, "MODALITY").text(), "");
  EXPECT_EQ(property(q, "QUERY_MODEL").scalar().i16, 0);
  EXPECT_EQ(property(q, "CALLBACK_DATA").scalar().i32, 5);
}

TEST_F(QueryObject, StatusNamesAndCodesBothWays) {
  EXPECT_EQ(staticCall("CFind_Status", Variable::ofString("C_FIND_PENDING")).scalar().i32, 0xFF00);
  EXPECT_EQ(staticCall("CFind_Status", Variable::ofInt32(65024)).text(), "C_FIND_CANCEL_REQUEST_RECEIVED");
  EXPECT_EQ(staticCall("CFind_Status", Variable::ofString("C_FIND_NOTHING")).type(), zyl::Type::Null);
  EXPECT_EQ(staticCall("CFind_Status", Variable::ofInt32(0x1234)).type(), zyl::Type::Null);
  EXPECT_EQ(staticCall("MC_Status", Variable::ofInt32(4070)).type(), zyl::Type::Null);
  EXPECT_EQ(staticCall("MC_Status", Variable::ofInt32(4082)).text(), "MC_TIMEOUT");
  EXPECT_EQ(staticCall("MC_Status", Variable::ofString("MC_TIMEOUT")).scalar().i32, 4082);
  EXPECT_EQ(staticCall("MC_Status", Variable::ofInt32(1)).text(), "MC_NORMAL_COMPLETION");
  EXPECT_EQ(staticCall("MC_Status", Variable::ofString("MC_MAX_OPERATIONS_EXCEEDED")).scalar().i32, 4140);
}

TEST_F(QueryObject, TheModelsANodeSupports) {
  tk::ArchiveScp scp({}, "NOBODY", tk::freePort());
  addNode("ARCHIVE", "QRSCP", scp.port);
  Variable q = makeQuery();
  EXPECT_TRUE(contains(errorOf(q, "QueryModelsSupported", {}), "Error: Set the Query_SCP property before calling this method."));
  setProperties(q, {{"QUERY_SCP", Variable::ofString("ARCHIVE")}});
  Variable count;
  std::vector<zyl::KeywordArg> kws{{"COUNT", &count}};
  const Variable models = fotest::rt().callMethod(q, "QueryModelsSupported", {}, kws);
  // Echo and the nine query/retrieve services were accepted; echo is no model.
  EXPECT_EQ(count.scalar().u32, 10u);
  ASSERT_TRUE(models.isArray());
  const auto* codes = models.array()->as<int16_t>();
  EXPECT_EQ(std::set<int16_t>(codes, codes + models.array()->count()), (std::set<int16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

  addNode("CLOSED", "NOBODY", tk::freePort());
  setProperties(q, {{"QUERY_SCP", Variable::ofString("CLOSED")}});
  EXPECT_TRUE(contains(errorOf(q, "QueryModelsSupported", {}), "Error: Open Dicom Association failed (name/aet/err), CLOSED, NOBODY"));
  setProperties(q, {{"QUERY_SCP", Variable::ofString("NOT_CONFIGURED")}});
  EXPECT_TRUE(contains(errorOf(q, "QueryModelsSupported", {}),
                       "Error: The value in the Query_SCP property is not a valid application entity (prop), NOT_CONFIGURED"));
}

TEST_F(QueryObject, AFindRunStepByStep) {
  std::vector<std::string> files;
  for (const auto& f : kArchive) files.push_back(tk::pydicomFile(f));
  tk::ArchiveScp scp(files, "NOBODY", tk::freePort());
  addNode("ARCHIVE", "QRSCP", scp.port);
  Variable q = makeQuery();
  setProperties(q, {{"QUERY_SCP", Variable::ofString("ARCHIVE")}});

  const int32_t request = call(q, "OpenFindRq", "STUDY_ROOT_QR_FIND").scalar().i32;
  call(q, "SetValue", {Variable::ofInt32(request), Variable::ofString("0008,0052"), Variable::ofString("STUDY")});
  call(q, "SetValue", {Variable::ofInt32(request), Variable::ofUInt32(0x0020000D)});  // universal
  call(q, "SetValue", {Variable::ofInt32(request), Variable::ofString("(0010,0010)"), Variable::ofString("*")});
  const int32_t association = call(q, "Send", {Variable::ofInt32(request)}).scalar().i32;
  EXPECT_GT(association, 0);
  call(q, "FreeMessage", {Variable::ofInt32(request)});

  std::set<std::string> studies;
  uint32_t finalStatus = 0xFFFF;
  for (int i = 0; i < 20; ++i) {
    Variable command, service, timeout = Variable::ofInt32(10), id = Variable::ofInt32(association);
    std::vector<zyl::KeywordArg> kws{{"COMMAND", &command}, {"SERVICENAME", &service}, {"TIMEOUT", &timeout}};
    const Variable response = fotest::rt().callMethod(q, "Read", {&id}, kws);
    ASSERT_EQ(response.type(), zyl::Type::Int32);
    EXPECT_EQ(command.scalar().i32, 0x8020);
    EXPECT_EQ(service.text(), "STUDY_ROOT_QR_FIND");
    const int32_t rsp = response.scalar().i32;
    const uint32_t status = call(q, "GetValue", {Variable::ofInt32(rsp), Variable::ofUInt32(0x00000900)}).scalar().u16;
    if (status == 0xFF00 || status == 0xFF01)
      studies.insert(std::string(call(q, "GetValue", {Variable::ofInt32(rsp), Variable::ofString("0020,000D")}).text()));
    call(q, "FreeMessage", {Variable::ofInt32(rsp)});
    if (status != 0xFF00 && status != 0xFF01) {
      finalStatus = status;
      break;
    }
  }
  EXPECT_EQ(finalStatus, 0u);
  EXPECT_EQ(studies.size(), kArchive.size());
  // Nothing more comes: a timeout gives the null value, not an error.
  Variable one = Variable::ofInt32(1), id = Variable::ofInt32(association);
  std::vector<zyl::KeywordArg> timeoutKw{{"TIMEOUT", &one}};
  EXPECT_EQ(fotest::rt().callMethod(q, "Read", {&id}, timeoutKw).type(), zyl::Type::Null);
  call(q, "Close", {Variable::ofInt32(association)});

  // With STATUS a failure is reported there; without it, raised.
  Variable status;
  Variable gone = Variable::ofInt32(association);
  std::vector<zyl::KeywordArg> statusKw{{"STATUS", &status}};
  fotest::rt().callMethod(q, "Close", {&gone}, statusKw);
  EXPECT_NE(status.scalar().i32, 1);
  EXPECT_TRUE(contains(errorOf(q, "Close", {Variable::ofInt32(association)}), "Failed to close association: "));
  EXPECT_TRUE(contains(errorOf(q, "OpenFindRq", {Variable::ofString("NO_SUCH_SERVICE")}),
                       "NO_SUCH_SERVICE, : Failed to open message: "));
  EXPECT_TRUE(contains(errorOf(q, "SetValue", {Variable::ofInt32(1), Variable::ofString("zzzz")}),
                       "Error: Failed to interpret DicomTag arg , zzzz"));
}

}  // namespace
}  // namespace querytest
