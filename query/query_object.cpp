// ZYLffOrvoQuery's life and properties: the remote nodes, model and level,
// matching keys and the progress callback; the association the client opens.
#include <array>
#include <cstddef>
#include <string>

#include "callback.h"
#include "method.h"
#include "query_association.h"
#include "query_keys.h"
#include "query_methods.h"
#include "startup.h"

namespace orvo::query {

namespace cfg = zyl::config;

MC_STATUS openQueryAssociation(const QueryInstance& self, cfg::CfgApplEntity& remote, int& association) {
  const QueryEntities entities = readQueryEntities(self);
  remote = entities.remote;
  return openAssociation(entities, association);
}

bool deliver(const QueryInstance& self, const std::string& message) {
  return notifyCallback(zyl::hostStringText(self.callback), self.callbackData, message) != 0;
}

namespace {

using Call = MethodCall<QueryInstance, NoKeywords>;

// The 23 properties, in the order one call handles them.
enum class Kind { Text, Model, Level, CallbackData };
struct Property {
  const char* keyword;
  Kind kind;
  zyl::HostString QueryInstance::*field;  // text properties only
};
constexpr Property kProperties[] = {
    {"QUERY_SCP", Kind::Text, &QueryInstance::aenQuery},
    {"STORAGE_SCP", Kind::Text, &QueryInstance::aenStorage},
    {"QUERY_MODEL", Kind::Model, nullptr},
    {"QUERY_LEVEL", Kind::Level, nullptr},
    {"CALLBACK_FUNCTION", Kind::Text, &QueryInstance::callback},
    {"CALLBACK_DATA", Kind::CallbackData, nullptr},
    {"PATIENT_NAME", Kind::Text, &QueryInstance::patient},
    {"FAMILY_NAME", Kind::Text, &QueryInstance::family},
    {"GIVEN_NAME", Kind::Text, &QueryInstance::given},
    {"MIDDLE_NAME", Kind::Text, &QueryInstance::middle},
    {"PREFIX", Kind::Text, &QueryInstance::prefix},
    {"SUFFIX", Kind::Text, &QueryInstance::suffix},
    {"PATIENT_ID", Kind::Text, &QueryInstance::patientId},
    {"STUDY_INSTANCE_UID", Kind::Text, &QueryInstance::studyUid},
    {"STUDY_ID", Kind::Text, &QueryInstance::studyId},
    {"STUDY_DATE", Kind::Text, &QueryInstance::studyDate},
    {"STUDY_TIME", Kind::Text, &QueryInstance::studyTime},
    {"ACCESSION_NUMBER", Kind::Text, &QueryInstance::accession},
    {"SERIES_INSTANCE_UID", Kind::Text, &QueryInstance::seriesUid},
    {"SERIES_NUMBER", Kind::Text, &QueryInstance::seriesNum},
    {"MODALITY", Kind::Text, &QueryInstance::modality},
    {"SOP_INSTANCE_UID", Kind::Text, &QueryInstance::sopUid},
    {"INSTANCE_NUMBER", Kind::Text, &QueryInstance::instanceNum},
};
constexpr size_t kPropertyCount = std::size(kProperties);

void storeText(zyl::HostString& field, std::string_view text) {
  HostStringStore(&field, text.data(), static_cast<int32_t>(text.size()));
}

void clearAll(QueryInstance& self) {
  for (const Property& p : kProperties)
    if (p.kind == Kind::Text) storeText(self.*p.field, "");
  storeText(self.patientId, "*");
  self.model = 0;
  self.level = 0;
}

// Each keyword a value slot and a given flag.
struct PropertyKeywords {
  struct Slot {
    HostVar* value;
    int given;
  };
  std::array<Slot, kPropertyCount> slots;
};

constexpr std::array<HostKeyword, kPropertyCount + 1> makeTable() {
  std::array<HostKeyword, kPropertyCount + 1> table{};
  for (size_t i = 0; i < kPropertyCount; ++i)
    table[i] = {kProperties[i].keyword, HOST_KW_REF,
                offsetof(PropertyKeywords, slots) + i * sizeof(PropertyKeywords::Slot),
                offsetof(PropertyKeywords, slots) + i * sizeof(PropertyKeywords::Slot) +
                    offsetof(PropertyKeywords::Slot, given)};
  table[kPropertyCount] = {nullptr, HOST_KW_INT, 0, 0};
  return table;
}
constexpr auto kPropertyTable = makeTable();

// Runs `handle(property, value)` for each keyword given, in table order.
template <typename Handle>
void forEachGiven(zyl::KeywordList* argk, Handle handle) {
  PropertyKeywords kw{};
  const HostKeywordScope scope(argk, kPropertyTable.data(), &kw);
  for (size_t i = 0; i < kPropertyCount; ++i)
    if (kw.slots[i].given && kw.slots[i].value != nullptr) handle(kProperties[i], kw.slots[i].value);
}

HostVar* initWorker(MethodCall<QueryInstance, SystemKeywords>& call) {
  clearAll(call.self());
  return HostTempLong(1);
}

HostVar* cleanupWorker(Call& call) {
  QueryInstance& self = call.self();
  if (self.callbackData != 0) setCallbackData(self.callbackData, nullptr);
  return nullptr;
}

HostVar* clearWorker(Call& call) {
  clearAll(call.self());
  return nullptr;
}

HostVar* getWorker(Call& call, zyl::KeywordList* argk) {
  QueryInstance& self = call.self();
  forEachGiven(argk, [&](const Property& p, HostVar* out) {
    switch (p.kind) {
      case Kind::Text:
        HostVarCopy(HostStringToVar(std::string(zyl::hostStringText(self.*p.field)).c_str()), out);
        break;
      case Kind::CallbackData:
        getCallbackData(self.callbackData, out);
        break;
      case Kind::Model:
      case Kind::Level: {
        zyl::Scalar s{};
        s.i16 = p.kind == Kind::Model ? self.model : self.level;
        HostStoreScalar(out, zyl::Type::Int16, &s);
        break;
      }
    }
  });
  return nullptr;
}

// Study Root has no patient level: the level moves to study.
void keepLevelInModel(QueryInstance& self) {
  if (self.model == 1 && self.level == 0) {
    self.level = 1;
    report(kErrs1, HOST_MSG_INFO, "Warning: The query level has automatically been changed from patient to study.");
  }
}

// A string property holds text only.
std::string textValue(HostVar* value, const char* keyword) {
  if (!value->isScalarString()) fail(kErrs2, "Error: The property value must be a string ", keyword);
  return std::string(value->text());
}

HostVar* setWorker(Call& call, zyl::KeywordList* argk) {
  QueryInstance& self = call.self();
  forEachGiven(argk, [&](const Property& p, HostVar* value) {
    switch (p.kind) {
      case Kind::Text:
        storeText(self.*p.field, textValue(value, p.keyword));
        break;
      case Kind::CallbackData:
        setCallbackData(self.callbackData, value);
        break;
      case Kind::Model: {
        const auto model = static_cast<uint16_t>(HostToInt(value));
        if (model > 2)
          fail(kErrs1,
               "Error: Invalid value for Query_Model property. valid values: 0 = Patient_Root, 1 = Study_Root, "
               "2 = Patient_Study_Only.");
        self.model = static_cast<int16_t>(model);
        keepLevelInModel(self);
        break;
      }
      case Kind::Level: {
        const auto level = static_cast<uint16_t>(HostToInt(value));
        if (level > 3)
          fail(kErrs1,
               "Error: Invalid value for Query_Level property. valid values: 0 = PATIENT, 1 = STUDY, "
               "2 = SERIES, 3 = IMAGE.");
        self.level = static_cast<int16_t>(level);
        keepLevelInModel(self);
        break;
      }
    }
  });
  return nullptr;
}

// The property methods handle their 23 keywords themselves, in table order.
constexpr MethodEntry getProperty{[](int argc, HostVar* argv[], zyl::KeywordList* argk) {
                                    Call call(argc, argv, argk);
                                    return getWorker(call, argk);
                                  },
                                  kPropertyTable.data()};
constexpr MethodEntry setProperty{[](int argc, HostVar* argv[], zyl::KeywordList* argk) {
                                    Call call(argc, argv, argk);
                                    return setWorker(call, argk);
                                  },
                                  kPropertyTable.data()};

}  // namespace

MethodRows queryObjectMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOQUERY::INIT", methodEntry<QueryInstance, SystemKeywords, initWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOQUERY::CLEANUP", methodEntry<QueryInstance, NoKeywords, cleanupWorker>, 1, 1, 0),
      procedureRow("ZYLFFORVOQUERY::CLEARPROPERTIES", methodEntry<QueryInstance, NoKeywords, clearWorker>, 1, 1, 0),
      procedureRow("ZYLFFORVOQUERY::GETPROPERTY", getProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOQUERY::SETPROPERTY", setProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::query
