// The query client's object: properties and their rules, the two status
// tables, the probe of a node's query models, and a C-FIND run step by step
// with the low-level message methods against dcmqrscp.
#include <algorithm>
#include <memory>
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
  EXPECT_TRUE(
      sawMessage("Error: Invalid value for Query_Level property. valid values: 0 = PATIENT, 1 = STUDY, "
                 "2 = SERIES, 3 = IMAGE."));
  EXPECT_THROW(setProperties(q, {{"QUERY_MODEL", Variable::ofInt32(3)}}), zyl::HostError);
  EXPECT_EQ(property(q, "QUERY_MODEL").scalar().i16, 1);
  EXPECT_EQ(property(q, "QUERY_LEVEL").scalar().i16, 1);
  // Keywords before a refused one keep their values.
  EXPECT_THROW(setProperties(q, {{"QUERY_SCP", Variable::ofString("NODE")}, {"QUERY_MODEL", Variable::ofInt32(9)}}),
               zyl::HostError);
  EXPECT_EQ(property(q, "QUERY_SCP").text(), "NODE");

  setProperties(q, {{"PATIENT_ID", Variable::ofString("ID1")},
                    {"MODALITY", Variable::ofString("CT")},
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
  tk::ArchiveScp scp({}, "NOBODY", zyl::test::FreePort());
  addNode("ARCHIVE", "QRSCP", scp.port);
  Variable q = makeQuery();
  EXPECT_TRUE(contains(errorOf(q, "QueryModelsSupported", {}),
                       "Error: Set the Query_SCP property before calling this method."));
  setProperties(q, {{"QUERY_SCP", Variable::ofString("ARCHIVE")}});
  Variable count;
  std::vector<zyl::KeywordArg> kws{{"COUNT", &count}};
  const Variable models = fotest::rt().callMethod(q, "QueryModelsSupported", {}, kws);
  // Echo and the nine query/retrieve services were accepted; echo is no model.
  EXPECT_EQ(count.scalar().u32, 10u);
  ASSERT_TRUE(models.isArray());
  const auto* codes = models.array()->as<int16_t>();
  EXPECT_EQ(std::set<int16_t>(codes, codes + models.array()->count()), (std::set<int16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

  addNode("CLOSED", "NOBODY", zyl::test::FreePort());
  setProperties(q, {{"QUERY_SCP", Variable::ofString("CLOSED")}});
  EXPECT_TRUE(contains(errorOf(q, "QueryModelsSupported", {}),
                       "Error: Open Dicom Association failed (name/aet/err), CLOSED, NOBODY"));
  setProperties(q, {{"QUERY_SCP", Variable::ofString("NOT_CONFIGURED")}});
  EXPECT_TRUE(
      contains(errorOf(q, "QueryModelsSupported", {}),
               "Error: The value in the Query_SCP property is not a valid application entity (prop), NOT_CONFIGURED"));
}

TEST_F(QueryObject, AFindRunStepByStep) {
  std::vector<std::string> files;
  for (const auto& f : kArchive) files.push_back(tk::pydicomFile(f));
  tk::ArchiveScp scp(files, "NOBODY", zyl::test::FreePort());
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
      studies.insert(
          std::string(call(q, "GetValue", {Variable::ofInt32(rsp), Variable::ofString("0020,000D")}).text()));
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

// Query: the whole C-FIND into result records.
class QueryRun : public QueryObject {
 protected:
  void SetUp() override {
    QueryObject::SetUp();
    progress_.listen();
    std::vector<std::string> files;
    for (const auto& f : kArchive) files.push_back(tk::pydicomFile(f));
    scp_ = std::make_unique<tk::ArchiveScp>(files, "NOBODY", zyl::test::FreePort());
    addNode("ARCHIVE", "QRSCP", scp_->port);
  }
  void TearDown() override {
    progress_.stop();
    scp_.reset();
    QueryObject::TearDown();
  }
  void setMaxResponses(int limit) {
    Variable cfg = makeCfg();
    call(cfg, "SetValue", {Variable::ofString("MaxQueryResponses"), Variable::ofInt32(limit)});
    call(cfg, "Commit");
    destroy(cfg);
  }
  Variable query(int model, int level, std::vector<std::pair<std::string, Variable>> keys = {}) {
    Variable q = makeQuery();
    keys.insert(keys.begin(), {{"QUERY_SCP", Variable::ofString("ARCHIVE")},
                               {"CALLBACK_FUNCTION", Variable::ofString("TEST_PROGRESS")},
                               {"QUERY_MODEL", Variable::ofInt32(model)},
                               {"QUERY_LEVEL", Variable::ofInt32(level)}});
    setProperties(q, std::move(keys));
    return q;
  }
  Variable run(Variable& q, uint32_t* count) {
    Variable counted;
    std::vector<zyl::KeywordArg> kws{{"COUNT", &counted}};
    Variable records = fotest::rt().callMethod(q, "Query", {}, kws);
    *count = counted.scalar().u32;
    return records;
  }
  static std::string field(const Variable& records, int64_t index, const char* name) {
    return fotest::recordText(records, index, name);
  }
  std::set<std::string> column(const Variable& records, uint32_t count, const char* name) {
    std::set<std::string> values;
    for (uint32_t i = 0; i < count; ++i) values.insert(field(records, i, name));
    return values;
  }
  cfgtest::Progress progress_;
  std::unique_ptr<tk::ArchiveScp> scp_;
};

TEST_F(QueryRun, StudiesComeBackAsRecordsWithTheirNames) {
  setMaxResponses(100);
  Variable q = query(1, 1);  // Study Root, study level
  uint32_t count = 0;
  const Variable records = run(q, &count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(records.array()->count(), 100);
  EXPECT_EQ(column(records, count, "STUDY_INSTANCE_UID"),
            (std::set<std::string>{"1.3.6.1.4.1.5962.1.2.1.20040119072730.12322",
                                   "1.3.6.1.4.1.5962.1.2.4.20040826185059.5457",
                                   "1.22.333.4.555555.6.7777777777777777777777777777"}));
  EXPECT_TRUE(column(records, count, "FAMILY_NAME").count("CompressedSamples"));
  EXPECT_TRUE(column(records, count, "GIVEN_NAME").count("CT1"));
  EXPECT_EQ(field(records, 3, "STUDY_INSTANCE_UID"), "");
  EXPECT_TRUE(progress_.saw("Query Started. Querying  ARCHIVE."));
  EXPECT_TRUE(progress_.saw("Received Match 3."));
  EXPECT_EQ(progress_.messages.back(), "Query Completed Successfully with 3 matches.");

  // Patient Root at study level asks for no name and returns none.
  Variable patientRoot = query(0, 1);
  const Variable noNames = run(patientRoot, &count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(column(noNames, count, "PATIENT_NAME"), (std::set<std::string>{""}));
}

TEST_F(QueryRun, TheLimitCancelsAndKeepsTheFirstMatches) {
  setMaxResponses(2);
  Variable q = query(1, 1);
  uint32_t count = 0;
  const Variable records = run(q, &count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(records.array()->count(), 2);
  const auto& m = progress_.messages;
  const auto at = std::find(m.begin(), m.end(), "Received Match 2.");
  ASSERT_NE(at, m.end());
  ASSERT_NE(at + 1, m.end());
  EXPECT_EQ(*(at + 1), "Max # of query responses reached...Cancel Request Sent to Remote Node");
  EXPECT_TRUE(m.back() == "Query terminated due to Cancel" ||
              m.back() == "Query Completed Successfully with 2 matches.")
      << m.back();
}

TEST_F(QueryRun, TheCallbackCanStopBeforeAnythingIsSent) {
  setMaxResponses(5);
  Variable q = query(1, 1);
  progress_.stopOn = "Query Started. Querying  ARCHIVE.";
  uint32_t count = 9;
  const Variable records = run(q, &count);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(records.array()->count(), 5);
  EXPECT_EQ(progress_.messages.size(), 1u);
}

TEST_F(QueryRun, PatientNamesAreBuiltFromTheirParts) {
  setMaxResponses(10);
  // All name properties empty: every patient, names returned split.
  Variable all = query(0, 0);
  uint32_t count = 0;
  Variable records = run(all, &count);
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(column(records, count, "PATIENT_NAME").count("Last^First^mid^pre"));
  EXPECT_TRUE(column(records, count, "PREFIX").count("pre"));
  EXPECT_TRUE(column(records, count, "GIVEN_NAME").count("First"));
  EXPECT_TRUE(column(records, count, "MIDDLE_NAME").count("mid"));
  // The parts go into the key in their own places; an empty part before a
  // given one matches anything.
  for (const auto& parts : std::vector<std::vector<std::pair<std::string, Variable>>>{
           {{"FAMILY_NAME", Variable::ofString("Last")},
            {"GIVEN_NAME", Variable::ofString("First")},
            {"MIDDLE_NAME", Variable::ofString("mid")},
            {"PREFIX", Variable::ofString("pre")}},
           {{"MIDDLE_NAME", Variable::ofString("mid")}, {"PREFIX", Variable::ofString("pre")}}}) {
    Variable byParts = query(0, 0, parts);
    records = run(byParts, &count);
    ASSERT_EQ(count, 1u) << parts.size() << " parts";
    EXPECT_EQ(field(records, 0, "PATIENT_NAME"), "Last^First^mid^pre");
  }
  // A given name alone matches any family name before it.
  Variable given = query(0, 0, {{"GIVEN_NAME", Variable::ofString("CT1")}});
  records = run(given, &count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(field(records, 0, "PATIENT_ID"), "1CT1");
  // The whole name wins over its parts.
  Variable whole = query(
      0, 0,
      {{"PATIENT_NAME", Variable::ofString("CompressedSamples^MR1")}, {"FAMILY_NAME", Variable::ofString("Nobody")}});
  records = run(whole, &count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(field(records, 0, "PATIENT_ID"), "4MR1");
}

// dcmqrscp matches the keys asked for: a study date selects one study, a
// modality only the series of that modality.
TEST_F(QueryRun, DateAndModalityKeysNarrowTheMatches) {
  setMaxResponses(100);
  Variable byDate = query(1, 1, {{"STUDY_DATE", Variable::ofString("20040826")}});
  uint32_t count = 0;
  const Variable studies = run(byDate, &count);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(field(studies, 0, "STUDY_INSTANCE_UID"), "1.3.6.1.4.1.5962.1.2.4.20040826185059.5457");
  Variable bothSeries =
      query(1, 2, {{"STUDY_INSTANCE_UID", Variable::ofString("1.3.6.1.4.1.5962.1.2.1.20040119072730.12322")}});
  const Variable all = run(bothSeries, &count);
  ASSERT_GE(count, 1u);
  Variable byModality =
      query(1, 2,
            {{"STUDY_INSTANCE_UID", Variable::ofString("1.3.6.1.4.1.5962.1.2.1.20040119072730.12322")},
             {"MODALITY", Variable::ofString("MR")}});
  const Variable none = run(byModality, &count);
  EXPECT_EQ(count, 0u);  // the CT study has no MR series
}

TEST_F(QueryRun, ImagesOfASeriesWithTheirKeysFilledIn) {
  setMaxResponses(10);
  Variable q = query(1, 3,
                     {{"STUDY_INSTANCE_UID", Variable::ofString("1.3.6.1.4.1.5962.1.2.1.20040119072730.12322")},
                      {"SERIES_INSTANCE_UID", Variable::ofString("1.3.6.1.4.1.5962.1.3.1.1.20040119072730.12322")}});
  uint32_t count = 0;
  const Variable records = run(q, &count);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(field(records, 0, "SOP_INSTANCE_UID"), "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322");
  EXPECT_EQ(field(records, 0, "SERIES_INSTANCE_UID"), "1.3.6.1.4.1.5962.1.3.1.1.20040119072730.12322");
  EXPECT_EQ(field(records, 0, "PATIENT_ID"), "1CT1");
}

// Retrieve: C-MOVE from dcmqrscp to storescp, known to it as STORESCP.
class RetrieveRun : public QueryObject {
 protected:
  void SetUp() override {
    QueryObject::SetUp();
    progress_.listen();
    std::filesystem::create_directories(received());
    storescp_ = std::make_unique<zyl::test::ChildProcess>(
        std::vector<std::string>{"storescp", "-aet", "STORESCP", "-od", received().string(),
                                 std::to_string(storePort_)},
        (dir_.path() / "storescp.log").string());
    ASSERT_TRUE(zyl::test::WaitListening(storePort_));
    std::vector<std::string> files;
    for (const auto& f : kArchive) files.push_back(tk::pydicomFile(f));
    scp_ = std::make_unique<tk::ArchiveScp>(files, "STORESCP", storePort_);
    addNode("ARCHIVE", "QRSCP", scp_->port);
    addNode("DESTINATION", "STORESCP", storePort_);
    addNode("STRANGER", "UNKNOWN_AE", storePort_);
  }
  void TearDown() override {
    progress_.stop();
    scp_.reset();
    storescp_.reset();
    QueryObject::TearDown();
  }
  std::filesystem::path received() const { return dir_.path() / "in"; }
  size_t receivedCount() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(received()), {}));
  }
  Variable retriever(int model, int level, const std::string& destination = "DESTINATION") {
    Variable q = makeQuery();
    setProperties(q, {{"QUERY_SCP", Variable::ofString("ARCHIVE")},
                      {"STORAGE_SCP", Variable::ofString(destination)},
                      {"CALLBACK_FUNCTION", Variable::ofString("TEST_PROGRESS")},
                      {"QUERY_MODEL", Variable::ofInt32(model)},
                      {"QUERY_LEVEL", Variable::ofInt32(level)}});
    return q;
  }
  int16_t retrieve(Variable& q, std::vector<std::pair<std::string, Variable>> keys, uint16_t* count = nullptr) {
    Variable counted;
    std::vector<zyl::KeywordArg> kws{{"COUNT", &counted}};
    for (auto& [name, value] : keys) kws.push_back({name, &value});
    const Variable result = fotest::rt().callMethod(q, "Retrieve", {}, kws);
    if (count) *count = counted.scalar().u16;
    return result.scalar().i16;
  }
  std::string retrieveError(Variable& q, std::vector<std::pair<std::string, Variable>> keys) {
    try {
      retrieve(q, std::move(keys));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  zyl::test::TempDir dir_;
  int storePort_ = zyl::test::FreePort();
  std::unique_ptr<zyl::test::ChildProcess> storescp_;
  std::unique_ptr<tk::ArchiveScp> scp_;
  cfgtest::Progress progress_;
};

const std::string kCtStudy = "1.3.6.1.4.1.5962.1.2.1.20040119072730.12322";

TEST_F(RetrieveRun, AStudyMovesToTheDestination) {
  Variable q = retriever(0, 1);
  uint16_t count = 9;
  EXPECT_EQ(
      retrieve(q, {{"PATIENT_ID", Variable::ofString("1CT1")}, {"STUDY_INSTANCE_UID", Variable::ofString(kCtStudy)}},
               &count),
      1);
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(progress_.saw("Retrieve Started. Moving images from  ARCHIVE  to  DESTINATION."));
  EXPECT_TRUE(progress_.saw("Retrieved 1 file(s).")) << progress_.messages.back();
  EXPECT_EQ(progress_.messages.back(), "Retrieve successfully completed.");
  EXPECT_EQ(receivedCount(), 1u);
  // Study Root sends no patient key, so its placeholder is no obstacle.
  Variable studyRoot = retriever(1, 1);
  EXPECT_EQ(retrieve(studyRoot, {{"PATIENT_ID", Variable::ofString("Unknown Patient Id")},
                                 {"STUDY_INSTANCE_UID", Variable::ofString(kCtStudy)}}),
            1);
}

TEST_F(RetrieveRun, KeysAndPlaceholdersAreCheckedFirst) {
  Variable series = retriever(0, 2);
  EXPECT_TRUE(contains(retrieveError(series, {{"PATIENT_ID", Variable::ofString("1CT1")},
                                              {"STUDY_INSTANCE_UID", Variable::ofString(kCtStudy)}}),
                       "Error: The Series_Instance_Uid keyword is missing."));
  EXPECT_TRUE(contains(retrieveError(series, {}), "Error: The Patient_Id keyword is missing."));
  Variable study = retriever(0, 1);
  EXPECT_TRUE(contains(retrieveError(study, {{"PATIENT_ID", Variable::ofString("Unknown Patient Id")},
                                             {"STUDY_INSTANCE_UID", Variable::ofString(kCtStudy)}}),
                       "Error: Can not retrieve when patient id is set to unknown"));
  EXPECT_TRUE(contains(retrieveError(study, {{"PATIENT_ID", Variable::ofString("1CT1")},
                                             {"STUDY_INSTANCE_UID", Variable::ofString(kCtStudy)},
                                             {"SERIES_INSTANCE_UID", Variable::ofString("Unknown Series UID")}}),
                       "Error: Can not retrieve when series uid is set to unknown"));
  Variable noDestination = makeQuery();
  EXPECT_TRUE(
      contains(retrieveError(noDestination, {}), "Error: Set the Storage_SCP property before calling this method."));
  EXPECT_EQ(receivedCount(), 0u);
}

TEST_F(RetrieveRun, AnUnknownDestinationEndsWithItsStatus) {
  Variable q = retriever(0, 1, "STRANGER");
  messages.clear();
  EXPECT_EQ(
      retrieve(q, {{"PATIENT_ID", Variable::ofString("1CT1")}, {"STUDY_INSTANCE_UID", Variable::ofString(kCtStudy)}}),
      0);
  EXPECT_TRUE(progress_.saw("Retrieve Failed. Move destination unknown.  Response code (a801H, 43009D)"))
      << progress_.messages.back();
  EXPECT_TRUE(sawMessage("Error: Failed to process retrieve response from (ae name/aet/err msg)"));
}

}  // namespace
}  // namespace querytest
