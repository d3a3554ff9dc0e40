// The method wrapper shape, driven through the real host with routines of
// this test's own registered on the module's classes.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "messages.h"
#include "method.h"
#include "file_instance.h"
#include "fileobject/file_class.h"
#include "query/query_class.h"
#include "zyl/runtime.h"

namespace {

struct CountKeywords {
  HostVar* count;
  int countGiven;
  int32_t seqId;
  static const HostKeyword table[];
};
const HostKeyword CountKeywords::table[] = {
    {"COUNT", HOST_KW_REF, offsetof(CountKeywords, count), offsetof(CountKeywords, countGiven)},
    {"SEQID", HOST_KW_INT, offsetof(CountKeywords, seqId), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

int gWorkerRuns = 0;

// Reads a tag argument and reports its length through COUNT.
HostVar* tagLength(orvo::MethodCall<orvo::FileInstance, CountKeywords>& call) {
  const std::string_view tag = call.stringArg(1, orvo::StringArg::Tag);
  ++gWorkerRuns;
  if (call.keywords().countGiven) orvo::storeUInt32(call.keywords().count, static_cast<uint32_t>(tag.size()));
  return HostTempLong(call.keywords().seqId);
}

HostVar* strictCount(orvo::MethodCall<orvo::FileInstance, orvo::NoKeywords>& call) {
  call.requireArgCount(3);
  call.stringArg(1, orvo::StringArg::PrivateCode);
  call.stringArg(2, orvo::StringArg::Group);
  return HostTempLong(1);
}

HostVar* staticEcho(orvo::MethodCall<orvo::StaticMethod, orvo::NoKeywords>& call) {
  return HostTempLong(HostLongScalar(call.arg(1)));
}

const HostRoutineDef kFunctions[] = {
    {"ZYLFFORVO::TAGLENGTH", orvo::method<orvo::FileInstance, CountKeywords, tagLength>, 2, 2, HOST_ROUTINE_KEYWORDS},
    {"ZYLFFORVO::STRICTCOUNT", orvo::method<orvo::FileInstance, orvo::NoKeywords, strictCount>, 1, 4,
     HOST_ROUTINE_KEYWORDS},
    {"ZYLFFORVOQUERY::STATICECHO", orvo::method<orvo::StaticMethod, orvo::NoKeywords, staticEcho>, 2, 2,
     HOST_ROUTINE_STATIC},
};

class MethodWrapper : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(orvo::file::defineStructures());
    ASSERT_TRUE(orvo::query::defineStructures());
    ASSERT_NE(orvo::defineMessageBlock(), nullptr);
    ASSERT_NE(HostAddRoutines(kFunctions, 1, 3), 0);
  }
  void SetUp() override {
    rt().setMessageSink([this](const zyl::Message& m) { messages.push_back(m); });
    gWorkerRuns = 0;
  }
  void TearDown() override {
    rt().setMessageSink(nullptr);
    EXPECT_EQ(rt().liveTemporaries(), 0u);
  }
  static zyl::Runtime& rt() { return zyl::Runtime::instance(); }
  std::vector<zyl::Message> messages;
};

TEST_F(MethodWrapper, RunsTheWorkerWithKeywordsAndStoresOutputs) {
  zyl::Variable file = rt().newObject("ZYLFFORVO", {});
  zyl::Variable tag = zyl::Variable::ofString("0010,0010");
  zyl::Variable count;  // undefined before the call
  zyl::Variable seq = zyl::Variable::ofInt32(5);
  zyl::Variable result = rt().callMethod(file, "TagLength", {&tag}, {{"count", &count}, {"SEQID", &seq}});
  EXPECT_EQ(result.scalar().i32, 5);
  ASSERT_EQ(count.type(), zyl::Type::UInt32);
  EXPECT_EQ(count.scalar().u32, 9u);
  rt().destroyObject(file);
}

TEST_F(MethodWrapper, ANumberForATagStopsTheCallBeforeTheWorkerWithTheTagMessage) {
  zyl::Variable file = rt().newObject("ZYLFFORVO", {});
  zyl::Variable number = zyl::Variable::ofInt32(0x00100010);
  try {
    rt().callMethod(file, "TagLength", {&number});
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(e.code(), orvo::kInvalidDicomTag);
    EXPECT_EQ(std::string(e.what()),
              "ZYLFFORVO::TAGLENGTH: Error: Invalid DicomTag param...must be a string with exactly 9 chars.");
  }
  EXPECT_EQ(gWorkerRuns, 0);
  rt().destroyObject(file);
}

TEST_F(MethodWrapper, AnObjectOfAnotherClassIsRefused) {
  zyl::Variable query = rt().newObject("ZYLFFORVOQUERY", {});
  zyl::Variable tag = zyl::Variable::ofString("0010,0010");
  // Dispatch by name on the wrong class: the routine itself must refuse it.
  EXPECT_THROW(rt().call("ZYLFFORVO::TAGLENGTH", true, {&query, &tag}), zyl::HostError);
  EXPECT_EQ(gWorkerRuns, 0);
  rt().destroyObject(query);
}

TEST_F(MethodWrapper, KeywordsOutsideTheTableAreRefusedAndNoKeywordMethodsIgnoreThem) {
  zyl::Variable file = rt().newObject("ZYLFFORVO", {});
  zyl::Variable tag = zyl::Variable::ofString("0010,0010");
  zyl::Variable one = zyl::Variable::ofInt32(1);
  EXPECT_THROW(rt().callMethod(file, "TagLength", {&tag}, {{"FRAME", &one}}), zyl::HostError);
  // Registered with the keyword flag but reading none: a keyword is accepted and ignored.
  zyl::Variable code = zyl::Variable::ofString("ACME");
  zyl::Variable group = zyl::Variable::ofString("0029");
  EXPECT_EQ(rt().callMethod(file, "StrictCount", {&code, &group}, {{"FRAME", &one}}).scalar().i32, 1);
  rt().destroyObject(file);
}

TEST_F(MethodWrapper, MethodsThatInsistOnTheirCountAndArgumentKindsReportTheirOwnMessages) {
  zyl::Variable file = rt().newObject("ZYLFFORVO", {});
  zyl::Variable code = zyl::Variable::ofString("ACME");
  zyl::Variable number = zyl::Variable::ofInt32(29);
  try {
    rt().callMethod(file, "StrictCount", {&code});
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(std::string(e.what()), "ZYLFFORVO::STRICTCOUNT: Error: Invalid number of arguements.");
  }
  try {
    rt().callMethod(file, "StrictCount", {&code, &number});
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(e.code(), orvo::kInvalidGroup);
  }
  try {
    rt().callMethod(file, "StrictCount", {&number, &code});
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(e.code(), orvo::kInvalidPrivateCode);
  }
  rt().destroyObject(file);
}

TEST_F(MethodWrapper, StaticMethodsNeedNoInstance) {
  zyl::Variable x = zyl::Variable::ofInt32(65280);
  EXPECT_EQ(rt().callStatic("ZYLffOrvoQuery", "StaticEcho", {&x}).scalar().i32, 65280);
}

}  // namespace
