// The runtime driven through the test module: registration, objects, calls,
// keywords, messages, temporaries, the heap and callbacks.
#include <cstddef>

#include "test_support.h"
#include "zyl/runtime.h"

namespace {

using zyl::HostError;
using zyl::KeywordArg;
using zyl::Runtime;
using zyl::Type;
using zyl::Variable;

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(rt.loadModule(ZYL_TESTMOD_PATH, &error)) << error;
    rt.setQuiet(false);
    rt.setMessageSink([this](const zyl::Message& m) { messages.push_back(m); });
  }
  void TearDown() override {
    rt.setMessageSink(nullptr);
    rt.setUserFunctions(nullptr, nullptr);
  }

  Variable makeObject(const char* name, std::vector<KeywordArg> keywords = {}) {
    Variable text = Variable::ofString(name);
    return rt.newObject("ZylTest", {&text}, std::move(keywords));
  }
  // [cleanups, releases] as the module counts them.
  std::pair<int, int> counters() {
    Variable c = rt.call("test_counters", true, {});
    return {c.array()->as<int32_t>()[0], c.array()->as<int32_t>()[1]};
  }
  std::string errorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const HostError& e) {
      return e.what();
    }
    return "(no error)";
  }

  Runtime& rt = Runtime::instance();
  std::vector<zyl::Message> messages;
};

TEST_F(RuntimeTest, StructuresKeepNamesOrderTypesAndOffsets) {
  const zyl::StructDef* def = HostFindStructure("zyltest");
  ASSERT_NE(def, nullptr);
  const std::vector<std::pair<std::string, Type>> expected = {{"ZYLTEST_TOP", Type::Int64},
                                                              {"COUNTER", Type::Int32},
                                                              {"NAME", Type::String},
                                                              {"DATA", Type::Pointer},
                                                              {"ZYLTEST_BOTTOM", Type::Int64}};
  ASSERT_EQ(def->fields().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(def->fields()[i].name, expected[i].first);
    EXPECT_EQ(def->fields()[i].type, expected[i].second);
  }
  EXPECT_EQ(HostStructFieldOffset(def, "counter"), 8u);
  EXPECT_EQ(HostStructFieldOffset(def, "NAME"), 16u);
  EXPECT_EQ(HostStructFieldOffset(def, "DATA"), 32u);
  EXPECT_EQ(HostStructFieldOffset(def, "ZYLTEST_BOTTOM"), 40u);
  EXPECT_EQ(HostStructFieldOffset(def, "NAM"), SIZE_MAX);
  EXPECT_EQ(def->size(), 48u);

  // The class record made at load stays with the definition through a redefinition.
  ASSERT_NE(def->classRecord(), nullptr);
  EXPECT_EQ(def->classRecord(), rt.findClass("zylTEST"));
  EXPECT_EQ(rt.structOfClass(def->classRecord()), def);
  const HostStructTag same[] = {{"zyltest_top", Type::Int64},    {"COUNTER", Type::Int32},
                                {"NAME", Type::String},          {"DATA", Type::Pointer},
                                {"ZYLTEST_BOTTOM", Type::Int64}, {nullptr, Type::Undefined}};
  EXPECT_EQ(HostDefineStructure("ZYLTEST", same), def);
  EXPECT_EQ(def->classRecord(), rt.findClass("ZYLTEST"));
  const HostStructTag different[] = {
      {"ZYLTEST_TOP", Type::Int64}, {"COUNTER", Type::Int16}, {nullptr, Type::Undefined}};
  EXPECT_EQ(HostDefineStructure("ZYLTEST", different), nullptr);
  const HostStructTag twice[] = {{"A", Type::Int16}, {"a", Type::Int32}, {nullptr, Type::Undefined}};
  EXPECT_EQ(HostDefineStructure("ZYLTEST_TWICE", twice), nullptr);
  EXPECT_EQ(HostClassRecordCreate("ZylTest"), def->classRecord());
  // Loading the same module again does not run ZYL_Load a second time.
  std::string error;
  EXPECT_TRUE(rt.loadModule(ZYL_TESTMOD_PATH, &error));
}

TEST_F(RuntimeTest, RoutinesAreRegisteredWithTheirCountsAndFlags) {
  const zyl::RoutineInfo* init = rt.findRoutine("zyltest::init", true);
  ASSERT_NE(init, nullptr);
  EXPECT_EQ(init->minArgs, 1);
  EXPECT_EQ(init->maxArgs, 2);
  EXPECT_EQ(init->flags, HOST_ROUTINE_KEYWORDS);
  EXPECT_EQ(rt.findRoutine("ZYLTEST::INIT", false), nullptr);
  EXPECT_NE(rt.findRoutine("ZYLTEST::CLEANUP", false), nullptr);
  std::vector<std::string> names;
  for (const zyl::RoutineInfo* r : rt.routinesOfClass("zyltest")) names.push_back(r->name);
  EXPECT_EQ(names.size(), 10u);
  EXPECT_NE(std::find(names.begin(), names.end(), "ZYLTEST::SQUARE"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "TEST_COUNTERS"), names.end());
}

TEST_F(RuntimeTest, ObjectsCarryTheirInstanceDataAndDestroyRunsCleanupThenRelease) {
  const auto before = counters();
  Variable nameOut;
  Variable counter = Variable::ofString("12");
  Variable obj = makeObject("first", {{"counter", &counter}, {"NAME_OUT", &nameOut}});
  ASSERT_EQ(obj.type(), Type::Object);
  EXPECT_EQ(nameOut.text(), "first");  // an undefined variable bound by reference gets set

  const zyl::ClassRecord* record = nullptr;
  auto* data = static_cast<std::byte*>(rt.objectInstance(obj.scalar().id, &record));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(record, rt.findClass("ZYLTEST"));
  EXPECT_EQ(*reinterpret_cast<int32_t*>(data + 8), 12);
  EXPECT_STREQ(zyl::hostStringText(*reinterpret_cast<zyl::HostString*>(data + 16)), "first");
  EXPECT_EQ(rt.callMethod(obj, "GetName", {}).text(), "first");

  // The release callback frees the heap variable the instance refers to.
  Variable payload = Variable::ofString("payload");
  const size_t heapBefore = rt.heapSize();
  *reinterpret_cast<uint64_t*>(data + 32) = HostHeapNew(&payload);
  EXPECT_EQ(rt.heapSize(), heapBefore + 1);

  rt.destroyObject(obj);
  EXPECT_EQ(rt.heapSize(), heapBefore);
  EXPECT_FALSE(rt.objectValid(obj.scalar().id));
  EXPECT_EQ(counters(), std::make_pair(before.first + 1, before.second + 1));
  EXPECT_NE(errorOf([&] { rt.callMethod(obj, "GetName", {}); }).find("invalid object reference"), std::string::npos);
}

TEST_F(RuntimeTest, NewGivesNullWhenInitFailsAndReleasesWithoutCleanup) {
  const auto before = counters();
  Variable fail = Variable::ofInt32(1);
  Variable obj = makeObject("doomed", {{"FAIL", &fail}});
  EXPECT_EQ(obj.type(), Type::Null);
  EXPECT_EQ(counters(), std::make_pair(before.first, before.second + 1));

  // An error inside INIT destroys the half-made instance the same way.
  Variable number = Variable::ofInt32(5);
  EXPECT_THROW(rt.newObject("ZYLTEST", {&number}), HostError);
  EXPECT_EQ(counters(), std::make_pair(before.first, before.second + 2));
  EXPECT_THROW(rt.newObject("NOSUCHCLASS", {}), HostError);
}

TEST_F(RuntimeTest, ObjectInstanceRefusesOtherValues) {
  Variable obj = makeObject("x");
  Variable number = Variable::ofInt32(3);
  Variable text = Variable::ofString("x");
  EXPECT_EQ(errorOf([&] { rt.call("ZYLTEST::GETNAME", true, {&number}); }),
            "Object reference type required in this context: ZYLTEST::GETNAME");
  EXPECT_NE(errorOf([&] { HostObjectInstance(&obj, "ZYLFFORVO"); }).find("ZYLFFORVO"), std::string::npos);
  EXPECT_NE(HostObjectInstance(&obj, "zylTest"), nullptr);
  Variable dead = Variable::ofObject(999999);
  EXPECT_THROW(HostObjectInstance(&dead, "ZYLTEST"), HostError);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().block, "ZYL_MBLK_HOST");
  EXPECT_EQ(messages.back().action, HOST_MSG_ERROR);

  const int64_t two[] = {2};
  Variable arr = Variable::ofArray(std::make_unique<zyl::Array>(Type::Int32, two, true));
  EXPECT_NE(errorOf([&] { HostEnsureSimple(&arr); }).find("array"), std::string::npos);
  Variable recs = rt.callMethod(obj, "STRUCTS", {&number});
  EXPECT_NE(errorOf([&] { HostEnsureSimple(&recs); }).find("structure"), std::string::npos);
  EXPECT_NO_THROW(HostEnsureSimple(&text));
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, KeywordsGivenAbsentByReferenceAndRefused) {
  Variable obj = makeObject("k");
  Variable seven = Variable::ofInt32(7);
  Variable count;  // undefined before the call
  Variable result = rt.callMethod(obj, "double", {&seven}, {{"Count", &count}});
  EXPECT_EQ(result.type(), Type::Int32);
  EXPECT_EQ(result.scalar().i32, 14);
  EXPECT_EQ(count.type(), Type::UInt32);
  EXPECT_EQ(count.scalar().u32, 7u);
  ASSERT_EQ(messages.size(), 1u);  // OFFSET was absent
  EXPECT_EQ(messages[0].text, "ZYLTEST::DOUBLE: OFFSET absent");
  EXPECT_EQ(messages[0].block, "ZYL_MBLK_TEST");
  EXPECT_EQ(messages[0].action, HOST_MSG_INFO);
  EXPECT_EQ(messages[0].routine, "ZYLTEST::DOUBLE");

  messages.clear();
  Variable zero = Variable::ofString("0");
  result = rt.callMethod(obj, "DOUBLE", {&seven}, {{"offset", &zero}});
  EXPECT_EQ(result.scalar().i32, 14);
  EXPECT_TRUE(messages.empty());  // given, though 0
  Variable three = Variable::ofFloat64(3.9);
  EXPECT_EQ(rt.callMethod(obj, "DOUBLE", {&seven}, {{"OFFSET", &three}}).scalar().i32, 17);

  Variable word = Variable::ofString("three");
  EXPECT_NE(errorOf([&] {
              rt.callMethod(obj, "DOUBLE", {&seven}, {{"OFFSET", &word}});
            }).find("OFFSET"),
            std::string::npos);
  EXPECT_EQ(errorOf([&] {
              rt.callMethod(obj, "DOUBLE", {&seven}, {{"offs", &three}});
            }),
            "Keyword OFFS not allowed in call to: ZYLTEST::DOUBLE");
  EXPECT_EQ(errorOf([&] {
              rt.callMethod(obj, "DOUBLE", {&seven}, {{"BOGUS", &three}});
            }),
            "Keyword BOGUS not allowed in call to: ZYLTEST::DOUBLE");
  EXPECT_EQ(errorOf([&] {
              rt.callMethod(obj, "GETNAME", {}, {{"COUNT", &count}});
            }),
            "Keyword COUNT not allowed in call to: ZYLTEST::GETNAME");
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, StringKeywordsAreCopiesAndFreedAlsoOnError) {
  struct Result {
    zyl::HostString name;
    int nameGiven;
    double scale;
    HostVar* ref;
  } result{};
  const HostKeyword table[] = {{"NAME", HOST_KW_STRING, offsetof(Result, name), offsetof(Result, nameGiven)},
                               {"SCALE", HOST_KW_DOUBLE, offsetof(Result, scale), HOST_KW_NO_GIVEN},
                               {"REF", HOST_KW_REF, offsetof(Result, ref), HOST_KW_NO_GIVEN},
                               {nullptr, HOST_KW_INT, 0, 0}};
  Variable number = Variable::ofInt16(-4);
  Variable scale = Variable::ofString("0.5");
  zyl::KeywordList list;
  list.routine = "SOMEWHERE";
  list.items = {{"name", &number}, {"SCALE", &scale}};
  {
    HostKeywordScope scope(&list, table, &result);
    EXPECT_STREQ(zyl::hostStringText(result.name), "-4");
    EXPECT_EQ(result.nameGiven, 1);
    EXPECT_DOUBLE_EQ(result.scale, 0.5);
    EXPECT_EQ(result.ref, nullptr);
  }
  EXPECT_EQ(result.name.text, nullptr);

  Variable text = Variable::ofString("kept");
  const int64_t two[] = {2};
  Variable arr = Variable::ofArray(std::make_unique<zyl::Array>(Type::Int32, two, true));
  list.items = {{"NAME", &text}, {"NAME", &arr}};  // the copy made first must not leak
  EXPECT_THROW(HostKeywordScope(&list, table, &result), HostError);
  EXPECT_EQ(result.name.text, nullptr);
  EXPECT_EQ(HostProcessKeywords(nullptr, table, &result), 0);
}

TEST_F(RuntimeTest, StaticMethodsGetTheClassNameFirst) {
  Variable five = Variable::ofInt32(5);
  EXPECT_EQ(rt.callStatic("zyltest", "Square", {&five}).scalar().i32, 25);
  Variable obj = makeObject("s");
  EXPECT_EQ(rt.callMethod(obj, "SQUARE", {&five}).scalar().i32, 25);
  Variable cls = Variable::ofString("ZYLTEST");
  EXPECT_EQ(rt.call("ZYLTEST::SQUARE", true, {&cls, &five}).scalar().i32, 25);
  EXPECT_NE(errorOf([&] { rt.callStatic("ZYLTEST", "SQUARE", {}); }).find("ZYLTEST::SQUARE"), std::string::npos);
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, ArgumentCountsAreChecked) {
  Variable obj = makeObject("n");
  const std::string tooFew = errorOf([&] { rt.callMethod(obj, "DOUBLE", {}); });
  EXPECT_NE(tooFew.find("ZYLTEST::DOUBLE"), std::string::npos) << tooFew;
  EXPECT_NE(tooFew.find("2 expected"), std::string::npos) << tooFew;
  Variable a = Variable::ofString("a");
  const std::string tooMany = errorOf([&] { rt.callMethod(obj, "INIT", {&a, &a}); });
  EXPECT_NE(tooMany.find("1 to 2"), std::string::npos) << tooMany;
  EXPECT_NE(errorOf([&] { rt.call("NO_SUCH_ROUTINE", true, {}); }).find("NO_SUCH_ROUTINE"), std::string::npos);
  EXPECT_NE(errorOf([&] { rt.callMethod(obj, "NOPE", {}); }).find("ZYLTEST::NOPE"), std::string::npos);
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, ActionTwoUnwindsNamingTheRoutineAndLeavesNoTemporaries) {
  Variable obj = makeObject("e");
  const size_t live = rt.liveTemporaries();
  Variable why = Variable::ofString("boom");
  try {
    rt.callMethod(obj, "Fail", {&why});
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(), "ZYLTEST::FAIL: Error: Test failure, boom");
    EXPECT_EQ(e.block(), "ZYL_MBLK_TEST");
    EXPECT_EQ(e.code(), -1);
    EXPECT_EQ(e.action(), HOST_MSG_ERROR);
  }
  EXPECT_EQ(rt.liveTemporaries(), live);
  EXPECT_EQ(rt.currentRoutine(), "");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "ZYLTEST::FAIL: Error: Test failure, boom");

  // A host error inside the routine (not a string) unwinds the same way.
  Variable number = Variable::ofInt32(1);
  EXPECT_EQ(errorOf([&] { rt.callMethod(obj, "FAIL", {&number}); }),
            "String expression required in this context: ZYLTEST::FAIL");
  EXPECT_EQ(rt.liveTemporaries(), live);
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, QuietMessagesAreSilentOnlyWhileQuietIsSet) {
  Variable obj = makeObject("w");
  Variable text = Variable::ofString("odd length");
  rt.setQuiet(true);
  rt.callMethod(obj, "WARN", {&text});
  EXPECT_TRUE(messages.empty());
  rt.setQuiet(false);
  rt.callMethod(obj, "WARN", {&text});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "ZYLTEST::WARN: odd length");
  EXPECT_EQ(messages[0].action, HOST_MSG_INFO_QUIET);
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, ResultsOfStructureAndTypedArrays) {
  Variable obj = makeObject("r");
  const size_t live = rt.liveTemporaries();
  Variable three = Variable::ofInt32(3);
  Variable recs = rt.callMethod(obj, "STRUCTS", {&three});
  ASSERT_TRUE(recs.isStruct());
  ASSERT_EQ(recs.array()->count(), 3);
  const zyl::StructDef* def = recs.array()->structDef();
  EXPECT_EQ(def->name(), "ZYLTESTREC");
  std::byte* second = recs.array()->element(2);
  EXPECT_STREQ(zyl::hostStringText(*reinterpret_cast<zyl::HostString*>(second + HostStructFieldOffset(def, "TAG"))),
               "T2");
  EXPECT_EQ(*reinterpret_cast<int32_t*>(second + HostStructFieldOffset(def, "VALUE")), 2);
  EXPECT_DOUBLE_EQ(*reinterpret_cast<double*>(second + HostStructFieldOffset(def, "SCALE")), 1.0);

  Variable type = Variable::ofString("UINT16");
  Variable ramp = rt.callMethod(obj, "ARRAY", {&type, &three});
  ASSERT_TRUE(ramp.isArray());
  EXPECT_EQ(ramp.type(), Type::UInt16);
  EXPECT_EQ(ramp.array()->as<uint16_t>()[2], 2);
  EXPECT_EQ(rt.liveTemporaries(), live);
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, CallbacksReachUserFunctionsFirstThenRegisteredFunctions) {
  std::vector<std::string> seen;
  rt.setUserFunctions([](std::string_view name) { return name == "progress" || name == "broken"; },
                      [&](std::string_view name, std::vector<Variable*>& args) {
                        if (name == "broken") Runtime::instance().fail("callback failed");
                        seen.emplace_back(args[0]->text());
                        if (args.size() > 1) {
                          seen.push_back(std::to_string(args[1]->scalar().i32));
                          args[1]->scalar().i32 = -1;  // a copy: the caller's data stays
                        }
                        return Variable::ofInt32(static_cast<int32_t>(args.size()) * 10);
                      });
  Variable obj = makeObject("c");
  const size_t live = rt.liveTemporaries();
  Variable fn = Variable::ofString("progress");
  Variable msg = Variable::ofString("step 1");
  Variable data = Variable::ofInt32(42);
  EXPECT_EQ(rt.callMethod(obj, "CALLBACK", {&fn, &msg}).scalar().i16, 10);
  EXPECT_EQ(rt.callMethod(obj, "CALLBACK", {&fn, &msg}, {{"DATA", &data}}).scalar().i16, 20);
  EXPECT_EQ(seen, (std::vector<std::string>{"step 1", "step 1", "42"}));
  EXPECT_EQ(data.scalar().i32, 42);

  // A registered function is found when no user function has the name.
  Variable square = Variable::ofString("zyltest::square");
  Variable six = Variable::ofInt32(6);
  EXPECT_EQ(rt.callMethod(obj, "CALLBACK", {&square, &msg}, {{"DATA", &six}}).scalar().i16, 36);
  EXPECT_EQ(HostLookupName("progress"), HostLookupName("progress"));
  EXPECT_EQ(HostLookupName("ZYLTEST::SQUARE"), HostLookupName("zyltest::square"));
  EXPECT_EQ(HostLookupName("nothing"), nullptr);

  Variable broken = Variable::ofString("broken");
  EXPECT_EQ(errorOf([&] { rt.callMethod(obj, "CALLBACK", {&broken, &msg}); }), "callback failed");
  Variable unknown = Variable::ofString("nothing");
  EXPECT_EQ(errorOf([&] {
              rt.callMethod(obj, "CALLBACK", {&unknown, &msg});
            }),
            "ZYLTEST::CALLBACK: Error: No such function, nothing");
  EXPECT_EQ(rt.liveTemporaries(), live);
  rt.destroyObject(obj);
}

TEST_F(RuntimeTest, HeapVariablesAreCopiesWithIdentifiersNeverReused) {
  Variable text = Variable::ofString("kept");
  const uint64_t a = HostHeapNew(&text);
  const uint64_t b = HostHeapNew(&text);
  EXPECT_GE(a, 1u);
  EXPECT_GT(b, a);
  text.setString("changed");
  EXPECT_EQ(HostHeapFind(a)->text(), "kept");
  HostHeapFree(a);
  EXPECT_EQ(HostHeapFind(a), nullptr);
  const uint64_t c = HostHeapNew(&text);
  EXPECT_GT(c, b);
  Variable undefined;
  EXPECT_EQ(HostHeapNew(&undefined), 0u);
  HostHeapFree(b);
  HostHeapFree(c);
  HostHeapFree(12345678);  // unknown identifiers are ignored
}

TEST_F(RuntimeTest, TemporariesAndOutputVariables) {
  const size_t live = rt.liveTemporaries();
  HostVar* t = HostTempVar(Type::UInt16);
  EXPECT_TRUE(t->isTemporary());
  EXPECT_EQ(t->type(), Type::UInt16);
  HostVar* u = HostTempVar(Type::Undefined);
  EXPECT_FALSE(u->isDefined());
  Variable out = Variable::ofString("old");
  HostVarCopy(HostStringToVar("new"), &out);  // the temporary is consumed
  EXPECT_EQ(out.text(), "new");
  EXPECT_FALSE(out.isTemporary());
  zyl::Scalar value{};
  value.f64 = 1.5;
  HostStoreScalar(&out, Type::Float64, &value);
  EXPECT_EQ(out.type(), Type::Float64);
  HostReleaseOutput(&out);
  EXPECT_FALSE(out.isDefined());
  EXPECT_EQ(rt.liveTemporaries(), live + 2);
  HostReleaseOutput(t);  // a temporary is freed instead
  HostFreeTemporary(u);
  EXPECT_EQ(rt.liveTemporaries(), live);
  void* data = nullptr;
  HostVar* nine = HostTempLong(9);
  EXPECT_EQ(HostVarGetData(nine, &data), 1);
  EXPECT_EQ(*static_cast<int32_t*>(data), 9);
  HostFreeTemporary(nine);
}

TEST_F(RuntimeTest, ShutdownReleasesObjectsAndHeap) {
  const auto before = counters();
  Variable a = makeObject("a");
  Variable b = makeObject("b");
  Variable v = Variable::ofInt32(1);
  HostHeapNew(&v);
  rt.shutdown();
  EXPECT_EQ(rt.heapSize(), 0u);
  EXPECT_FALSE(rt.objectValid(a.scalar().id));
  EXPECT_EQ(counters(), std::make_pair(before.first, before.second + 2));
}

TEST_F(RuntimeTest, ModulesThatCannotLoadAreReported) {
  std::string error;
  EXPECT_FALSE(rt.loadModule("/nonexistent/zyl_none.so", &error));
  EXPECT_NE(error.find("zyl_none.so"), std::string::npos);
  // The host library is a shared object without ZYL_Load.
  EXPECT_FALSE(rt.loadModule(rt.programDir() + "libzyl.so", &error));
  EXPECT_NE(error.find("ZYL_Load"), std::string::npos);
}

TEST_F(RuntimeTest, LoadRunsInItsOwnContext) {
  const size_t live = rt.liveTemporaries();
  std::string error;
  {
    ScopedEnv mode("ZYL_LOADMOD_MODE", "error");
    EXPECT_FALSE(rt.loadModule(ZYL_LOADMOD_PATH, &error));
    EXPECT_NE(error.find("ZYL_LOAD: Error: refused"), std::string::npos) << error;
  }
  {
    ScopedEnv mode("ZYL_LOADMOD_MODE", "zero");
    EXPECT_FALSE(rt.loadModule(ZYL_LOADMOD_PATH, &error));
    EXPECT_NE(error.find("returned 0"), std::string::npos) << error;
  }
  ScopedEnv mode("ZYL_LOADMOD_MODE", "ok");
  EXPECT_TRUE(rt.loadModule(ZYL_LOADMOD_PATH, &error)) << error;
  ASSERT_EQ(messages.size(), 4u);  // "loading" three times, the refusal once
  EXPECT_EQ(messages[0].text, "ZYL_LOAD: loading");
  EXPECT_EQ(messages[0].routine, "ZYL_LOAD");
  EXPECT_EQ(rt.currentRoutine(), "");
  EXPECT_EQ(rt.liveTemporaries(), live);
}

}  // namespace
