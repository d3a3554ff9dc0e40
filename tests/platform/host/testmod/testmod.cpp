// A test-only module: one class and a few plain routines that exercise every
// part of the host API a real module relies on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "zyl/host.h"

namespace {

struct TestInstance {
  int64_t top;
  int32_t counter;
  zyl::HostString name;
  uint64_t data;
  int64_t bottom;
};

const HostStructTag kTestTags[] = {{"ZYLTEST_TOP", HostType::Int64},    {"COUNTER", HostType::Int32},
                                   {"NAME", HostType::String},          {"DATA", HostType::Pointer},
                                   {"ZYLTEST_BOTTOM", HostType::Int64}, {nullptr, HostType::Undefined}};

struct TestRecord {
  zyl::HostString tag;
  int32_t value;
  double scale;
};

const HostStructTag kRecordTags[] = {{"TAG", HostType::String},
                                     {"VALUE", HostType::Int32},
                                     {"SCALE", HostType::Float64},
                                     {nullptr, HostType::Undefined}};

const HostMessageDef kMessages[] = {{"ZYL_M_TEST_ERRS1", "%N %s"}, {"ZYL_M_TEST_ERRS2", "%N %s, %s"}};

HostMsgBlock gBlock = nullptr;
zyl::StructDef* gRecordDef = nullptr;
int32_t gCleanups = 0;
int32_t gReleases = 0;

TestInstance* instance(HostVar* object) { return static_cast<TestInstance*>(HostObjectInstance(object, "ZYLTEST")); }

void releaseInstance(void* data) {
  auto* self = static_cast<TestInstance*>(data);
  HostStringDelete(&self->name);
  if (self->data != 0) HostHeapFree(self->data);
  ++gReleases;
}

struct InitKeywords {
  int32_t fail;
  int32_t counter;
  HostVar* nameOut;
  int nameOutGiven;
};
const HostKeyword kInitKeywords[] = {
    {"COUNTER", HOST_KW_INT, offsetof(InitKeywords, counter), HOST_KW_NO_GIVEN},
    {"FAIL", HOST_KW_INT, offsetof(InitKeywords, fail), HOST_KW_NO_GIVEN},
    {"NAME_OUT", HOST_KW_REF, offsetof(InitKeywords, nameOut), offsetof(InitKeywords, nameOutGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* testInit(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  InitKeywords kw{};
  HostKeywordScope scope(argk, kInitKeywords, &kw);
  TestInstance* self = instance(argv[0]);
  const char* name = argc > 1 ? HostVarGetString(argv[1]) : "";
  HostStringStore(&self->name, name, -1);
  self->counter = kw.counter;
  if (kw.fail != 0) return HostTempLong(0);
  if (kw.nameOutGiven) HostVarCopy(HostStringToVar(name), kw.nameOut);
  return HostTempLong(1);
}

HostVar* testCleanup(int, HostVar* argv[], zyl::KeywordList*) {
  instance(argv[0]);
  ++gCleanups;
  return nullptr;
}

HostVar* testGetName(int, HostVar* argv[], zyl::KeywordList*) {
  return HostStringToVar(zyl::hostStringText(instance(argv[0])->name));
}

struct DoubleKeywords {
  HostVar* count;
  int countGiven;
  int32_t offset;
  int offsetGiven;
};
const HostKeyword kDoubleKeywords[] = {
    {"COUNT", HOST_KW_REF, offsetof(DoubleKeywords, count), offsetof(DoubleKeywords, countGiven)},
    {"OFFSET", HOST_KW_INT, offsetof(DoubleKeywords, offset), offsetof(DoubleKeywords, offsetGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* testDouble(int, HostVar* argv[], zyl::KeywordList* argk) {
  DoubleKeywords kw{};
  HostKeywordScope scope(argk, kDoubleKeywords, &kw);
  instance(argv[0]);
  const int32_t value = HostLongScalar(argv[1]);
  if (!kw.offsetGiven && value == 7) HostMessage(gBlock, 0, HOST_MSG_INFO, "OFFSET absent");
  if (kw.countGiven) {
    zyl::Scalar count{};
    count.u32 = static_cast<uint32_t>(value);
    HostStoreScalar(kw.count, HostType::UInt32, &count);
  }
  return HostTempLong(2 * value + kw.offset);
}

HostVar* testFail(int, HostVar* argv[], zyl::KeywordList*) {
  instance(argv[0]);
  void* data = nullptr;
  HostMakeTempVector(HostType::Float64, 1000, 1, &data);  // left for the runtime to release
  HostEnsureSimple(argv[1]);
  HostMessage(gBlock, -1, HOST_MSG_ERROR, "Error: Test failure", HostVarGetString(argv[1]));
  return nullptr;
}

HostVar* testWarn(int, HostVar* argv[], zyl::KeywordList*) {
  instance(argv[0]);
  HostMessage(gBlock, 0, HOST_MSG_INFO_QUIET, HostVarGetString(argv[1]));
  return nullptr;
}

struct CallbackKeywords {
  HostVar* data;
  int dataGiven;
};
const HostKeyword kCallbackKeywords[] = {
    {"DATA", HOST_KW_REF, offsetof(CallbackKeywords, data), offsetof(CallbackKeywords, dataGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* testCallback(int, HostVar* argv[], zyl::KeywordList* argk) {
  CallbackKeywords kw{};
  HostKeywordScope scope(argk, kCallbackKeywords, &kw);
  instance(argv[0]);
  HostRoutineHandle fn = HostLookupName(HostVarGetString(argv[1]));
  if (fn == nullptr) HostMessage(gBlock, -1, HOST_MSG_ERROR, "Error: No such function", HostVarGetString(argv[1]));
  HostVar* args[2] = {HostStringToVar(HostVarGetString(argv[2])), nullptr};
  int nargs = 1;
  if (kw.dataGiven && kw.data->isDefined()) {
    args[1] = HostTempVar(HostType::Undefined);
    *args[1] = *kw.data;
    args[1]->markTemporary(true);
    nargs = 2;
  }
  HostVar* result = HostCallRoutine(fn, nargs, args);
  const int16_t answer = HostToInt(result);
  HostFreeTemporary(result);
  for (int i = 0; i < nargs; ++i) HostFreeTemporary(args[i]);
  return HostTempInt(answer);
}

HostVar* testSquare(int, HostVar* argv[], zyl::KeywordList*) {
  const int32_t x = HostLongScalar(argv[1]);
  return HostTempLong(x * x);
}

HostVar* testStructs(int, HostVar* argv[], zyl::KeywordList*) {
  instance(argv[0]);
  const int64_t n = HostLongScalar(argv[1]);
  void* data = nullptr;
  HostVar* result = HostMakeTempStructArray(gRecordDef, 1, &n, 1, &data);
  auto* records = static_cast<TestRecord*>(data);
  for (int64_t i = 0; i < n; ++i) {
    HostStringStore(&records[i].tag, ("T" + std::to_string(i)).c_str(), -1);
    records[i].value = static_cast<int32_t>(i);
    records[i].scale = static_cast<double>(i) / 2.0;
  }
  return result;
}

template <typename T>
void fillRamp(void* data, int64_t n) {
  auto* p = static_cast<T*>(data);
  for (int64_t i = 0; i < n; ++i) p[i] = static_cast<T>(i);
}

HostVar* testArray(int, HostVar* argv[], zyl::KeywordList*) {
  instance(argv[0]);
  const zyl::Type type = zyl::typeFromName(HostVarGetString(argv[1]));
  const int64_t n = HostLongScalar(argv[2]);
  if (!zyl::isNumeric(type) || n <= 0)
    HostMessage(gBlock, -1, HOST_MSG_ERROR, "Error: Bad array request", HostVarGetString(argv[1]));
  void* data = nullptr;
  HostVar* result = HostMakeTempVector(type, n, 1, &data);
  switch (type) {
    case zyl::Type::Byte:
      fillRamp<uint8_t>(data, n);
      break;
    case zyl::Type::Int16:
      fillRamp<int16_t>(data, n);
      break;
    case zyl::Type::UInt16:
      fillRamp<uint16_t>(data, n);
      break;
    case zyl::Type::Int32:
      fillRamp<int32_t>(data, n);
      break;
    case zyl::Type::UInt32:
      fillRamp<uint32_t>(data, n);
      break;
    case zyl::Type::Int64:
      fillRamp<int64_t>(data, n);
      break;
    case zyl::Type::UInt64:
      fillRamp<uint64_t>(data, n);
      break;
    case zyl::Type::Float32:
      fillRamp<float>(data, n);
      break;
    default:
      fillRamp<double>(data, n);
      break;
  }
  return result;
}

HostVar* testCounters(int, HostVar*[], zyl::KeywordList*) {
  void* data = nullptr;
  HostVar* result = HostMakeTempVector(HostType::Int32, 2, 1, &data);
  static_cast<int32_t*>(data)[0] = gCleanups;
  static_cast<int32_t*>(data)[1] = gReleases;
  return result;
}

HostVar* testSetEnv(int, HostVar* argv[], zyl::KeywordList*) {
  HostSetEnv(HostVarGetString(argv[0]));
  return nullptr;
}

const HostRoutineDef kFunctions[] = {
    {"ZYLTEST::INIT", testInit, 1, 2, HOST_ROUTINE_KEYWORDS, kInitKeywords},
    {"ZYLTEST::GETNAME", testGetName, 1, 1, 0},
    {"ZYLTEST::DOUBLE", testDouble, 2, 2, HOST_ROUTINE_KEYWORDS, kDoubleKeywords},
    {"ZYLTEST::CALLBACK", testCallback, 3, 3, HOST_ROUTINE_KEYWORDS},
    {"ZYLTEST::SQUARE", testSquare, 2, 2, HOST_ROUTINE_STATIC},
    {"ZYLTEST::STRUCTS", testStructs, 2, 2, 0},
    {"ZYLTEST::ARRAY", testArray, 3, 3, 0},
    {"TEST_COUNTERS", testCounters, 0, 0, 0},
};
const HostRoutineDef kProcedures[] = {
    {"ZYLTEST::CLEANUP", testCleanup, 1, 1, 0},
    {"ZYLTEST::FAIL", testFail, 2, 2, 0},
    {"ZYLTEST::WARN", testWarn, 2, 2, 0},
    {"TEST_SETENV", testSetEnv, 1, 1, 0},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int ZYL_Load() {
  zyl::StructDef* def = HostDefineStructure("ZYLTEST", kTestTags);
  gRecordDef = HostDefineStructure("ZYLTESTREC", kRecordTags);
  if (def == nullptr || gRecordDef == nullptr) return 0;
  if (HostStructFieldOffset(def, "NAME") != offsetof(TestInstance, name) ||
      HostStructFieldOffset(def, "DATA") != offsetof(TestInstance, data) || def->size() != sizeof(TestInstance))
    return 0;
  if (def->classRecord() == nullptr) def->setClassRecord(HostClassRecordCreate("ZYLTEST"));
  HostSetClassReleaseCallback(def->classRecord(), releaseInstance);
  gBlock = HostDefineMessageBlock("ZYL_MBLK_TEST", 2, kMessages);
  if (gBlock == nullptr) return 0;
  if (!HostAddRoutines(kFunctions, 1, static_cast<int>(std::size(kFunctions)))) return 0;
  return HostAddRoutines(kProcedures, 0, static_cast<int>(std::size(kProcedures))) != 0 ? 1 : 0;
}
