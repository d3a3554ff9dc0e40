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

// The string properties: keyword and field.
struct TextProperty {
  const char* keyword;
  zyl::HostString QueryInstance::*field;
};
constexpr TextProperty kKeys[] = {
    {"PATIENT_NAME", &QueryInstance::patient},
    {"FAMILY_NAME", &QueryInstance::family},
    {"GIVEN_NAME", &QueryInstance::given},
    {"MIDDLE_NAME", &QueryInstance::middle},
    {"PREFIX", &QueryInstance::prefix},
    {"SUFFIX", &QueryInstance::suffix},
    {"PATIENT_ID", &QueryInstance::patientId},
    {"STUDY_INSTANCE_UID", &QueryInstance::studyUid},
    {"STUDY_ID", &QueryInstance::studyId},
    {"STUDY_DATE", &QueryInstance::studyDate},
    {"STUDY_TIME", &QueryInstance::studyTime},
    {"ACCESSION_NUMBER", &QueryInstance::accession},
    {"SERIES_INSTANCE_UID", &QueryInstance::seriesUid},
    {"SERIES_NUMBER", &QueryInstance::seriesNum},
    {"MODALITY", &QueryInstance::modality},
    {"SOP_INSTANCE_UID", &QueryInstance::sopUid},
    {"INSTANCE_NUMBER", &QueryInstance::instanceNum},
};
constexpr size_t kKeyCount = std::size(kKeys);

void storeText(zyl::HostString& field, std::string_view text) {
  HostStringStore(&field, text.data(), static_cast<int32_t>(text.size()));
}

void clearAll(QueryInstance& self) {
  for (auto* field : {&self.aenQuery, &self.aenStorage, &self.callback}) storeText(*field, "");
  for (const TextProperty& key : kKeys) storeText(self.*key.field, "");
  storeText(self.patientId, "*");
  self.model = 0;
  self.level = 0;
}

// The 23 property keywords, in the order they are handled: each a value
// slot and a given flag.
constexpr const char* kPropertyNames[] = {
    "QUERY_SCP", "STORAGE_SCP", "QUERY_MODEL", "QUERY_LEVEL", "CALLBACK_FUNCTION", "CALLBACK_DATA",
    "PATIENT_NAME", "FAMILY_NAME", "GIVEN_NAME", "MIDDLE_NAME", "PREFIX", "SUFFIX", "PATIENT_ID",
    "STUDY_INSTANCE_UID", "STUDY_ID", "STUDY_DATE", "STUDY_TIME", "ACCESSION_NUMBER", "SERIES_INSTANCE_UID",
    "SERIES_NUMBER", "MODALITY", "SOP_INSTANCE_UID", "INSTANCE_NUMBER"};
constexpr size_t kPropertyCount = std::size(kPropertyNames);
static_assert(kPropertyCount == 6 + kKeyCount);

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
    table[i] = {kPropertyNames[i], HOST_KW_REF, offsetof(PropertyKeywords, slots) + i * sizeof(PropertyKeywords::Slot),
                offsetof(PropertyKeywords, slots) + i * sizeof(PropertyKeywords::Slot) +
                    offsetof(PropertyKeywords::Slot, given)};
  table[kPropertyCount] = {nullptr, HOST_KW_INT, 0, 0};
  return table;
}
constexpr auto kPropertyTable = makeTable();

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

zyl::HostString* textField(QueryInstance& self, size_t index) {
  switch (index) {
    case 0: return &self.aenQuery;
    case 1: return &self.aenStorage;
    case 4: return &self.callback;
    default: return index >= 6 ? &(self.*kKeys[index - 6].field) : nullptr;
  }
}

HostVar* getWorker(Call& call, zyl::KeywordList* argk) {
  QueryInstance& self = call.self();
  PropertyKeywords kw{};
  const HostKeywordScope scope(argk, kPropertyTable.data(), &kw);
  for (size_t i = 0; i < kPropertyCount; ++i) {
    const auto& slot = kw.slots[i];
    if (!slot.given || slot.value == nullptr) continue;
    if (zyl::HostString* field = textField(self, i)) {
      HostVarCopy(HostStringToVar(std::string(zyl::hostStringText(*field)).c_str()), slot.value);
    } else if (i == 5) {
      getCallbackData(self.callbackData, slot.value);
    } else {
      zyl::Scalar s{};
      s.i16 = i == 2 ? self.model : self.level;
      HostStoreScalar(slot.value, zyl::Type::Int16, &s);
    }
  }
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
  PropertyKeywords kw{};
  const HostKeywordScope scope(argk, kPropertyTable.data(), &kw);
  for (size_t i = 0; i < kPropertyCount; ++i) {
    const auto& slot = kw.slots[i];
    if (!slot.given || slot.value == nullptr) continue;
    if (zyl::HostString* field = textField(self, i)) {
      storeText(*field, textValue(slot.value, kPropertyNames[i]));
    } else if (i == 5) {
      setCallbackData(self.callbackData, slot.value);
    } else if (i == 2) {
      const auto model = static_cast<uint16_t>(HostToInt(slot.value));
      if (model > 2)
        fail(kErrs1, "Error: Invalid value for Query_Model property. valid values: 0 = Patient_Root, 1 = Study_Root, "
                     "2 = Patient_Study_Only.");
      self.model = static_cast<int16_t>(model);
      keepLevelInModel(self);
    } else {
      const auto level = static_cast<uint16_t>(HostToInt(slot.value));
      if (level > 3)
        fail(kErrs1, "Error: Invalid value for Query_Level property. valid values: 0 = PATIENT, 1 = STUDY, 2 = SERIES, "
                     "3 = IMAGE.");
      self.level = static_cast<int16_t>(level);
      keepLevelInModel(self);
    }
  }
  return nullptr;
}

}  // namespace

HostVar* init(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  return method<QueryInstance, SystemKeywords, initWorker>(argc, argv, argk);
}
HostVar* cleanup(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  return method<QueryInstance, NoKeywords, cleanupWorker>(argc, argv, argk);
}
HostVar* clearProperties(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  return method<QueryInstance, NoKeywords, clearWorker>(argc, argv, argk);
}
// The property methods handle their 23 keywords themselves, in table order.
HostVar* getProperty(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  MethodCall<QueryInstance, NoKeywords> call(argc, argv, argk);
  return getWorker(call, argk);
}
HostVar* setProperty(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  MethodCall<QueryInstance, NoKeywords> call(argc, argv, argk);
  return setWorker(call, argk);
}

}  // namespace orvo::query
