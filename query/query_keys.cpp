#include "query_keys.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "format_text.h"
#include "messages.h"
#include "query_association.h"
#include "startup.h"
#include "toolkit/tags.h"

namespace orvo::query {

namespace cfg = zyl::config;

namespace {

std::string text(const zyl::HostString& s) { return zyl::hostStringText(s); }
void store(zyl::HostString& field, const std::string& value) {
  HostStringStore(&field, value.c_str(), static_cast<int32_t>(value.size()));
}

// Patient's Name from the name properties: the whole name when given, else
// the components joined, trailing empty ones dropped and an empty one before
// a filled one matching anything.
std::string patientNameKey(const QueryInstance& self) {
  const std::string whole = text(self.patient);
  if (!whole.empty()) return whole.substr(0, 511);
  const std::string family = text(self.family), given = text(self.given), middle = text(self.middle),
                    prefix = text(self.prefix), suffix = text(self.suffix);
  if (family.empty() && given.empty() && middle.empty() && prefix.empty() && suffix.empty()) return "";
  std::string built = suffix.empty() ? "" : "^" + suffix;
  for (const std::string* part : {&prefix, &middle, &given}) {
    if (!part->empty())
      built = "^" + *part + built;
    else if (!built.empty())
      built = "^*" + built;
  }
  built = (family.empty() ? std::string("*") : family) + built;
  return built.substr(0, 511);
}

// The five components of a person name, split at each caret.
std::array<std::string, 5> splitPersonName(const std::string& value) {
  std::array<std::string, 5> parts;
  size_t start = 0;
  for (std::string& part : parts) {
    if (start > value.size()) break;
    const size_t caret = value.find('^', start);
    const size_t end = caret == std::string::npos ? value.size() : caret;
    part = value.substr(start, std::min<size_t>(end - start, 64));
    start = end + 1;
  }
  return parts;
}

std::string responseText(int message, uint32_t tag) {
  std::vector<char> buffer(1024, '\0');
  const MC_STATUS status = MC_Get_Value_To_String(message, tag, static_cast<int>(buffer.size()), buffer.data());
  if (status == MC_EMPTY_VALUE || status == MC_INVALID_TAG || status == MC_NULL_VALUE) return "";
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Failed to read value from c fing response msg (err)", std::string(errorText(status)));
  return buffer.data();
}

}  // namespace

QueryEntities readQueryEntities(const QueryInstance& self, bool withStorage) {
  QueryEntities entities;
  const std::string remoteName = text(self.aenQuery);
  if (readUserApplEntity(remoteName, entities.remote) != 0)
    fail(kErrs2, "Error: The value in the Query_SCP property is not a valid application entity (prop)", remoteName);
  const std::string storageName = text(self.aenStorage);
  if (withStorage && readUserApplEntity(storageName, entities.storage) != 0)
    fail(kErrs2, "Error: The value in the Storage_SCP property is not a valid application entity (prop)", storageName);
  std::array<char, 256> localName{};
  if (readUserParam("QRScuServiceAE", localName) != 0)
    fail(kErrs1, "Error: Failed to get Application Entity Name for the local Query SCU service (QRScuServiceAE).");
  if (readUserApplEntity(localName.data(), entities.local) != 0)
    fail(kErrs2, "Error: Failed to get local Query SCU Application Entity (name) ", std::string(localName.data()));
  return entities;
}

MC_STATUS openAssociation(const QueryEntities& entities, int& association) {
  const int applicationId = applicationIdFor(std::string(entities.local.AET.view()));
  return MC_Open_Association(applicationId, &association, entities.remote.AET.c_str(), entities.remote.Port,
                             entities.remote.Hostname.c_str(), entities.local.ServiceList.c_str());
}

void sendCancel(const std::string& service, int association, const CancelTexts& texts) {
  zyl::toolkit::MessageHandle cancel;
  MC_STATUS status = MC_Open_Message(cancel.out(), service.c_str(), MC_CMD_C_CANCEL_RQ);
  if (status != MC_NORMAL_COMPLETION) fail(kErrs2, texts.create, std::string(errorText(status)));
  status = MC_Send_Request_Message(association, cancel.get());
  if (status != MC_NORMAL_COMPLETION) fail(kErrs2, texts.send, std::string(errorText(status)));
}

HostVar* ResultRecords::make(int64_t count, void** data) {
  return HostMakeTempStructArray(resultsStructure(), 1, &count, 1, data);
}
ResultRecords::ResultRecords(int64_t count)
    : array_(make(count, &data_)), records_(static_cast<QueryResultRecord*>(data_)) {}

void setQueryKey(const QueryInstance& self, int message, uint32_t tag, const std::string& value) {
  const MC_STATUS status =
      value.empty() ? MC_Set_Value_To_NULL(message, tag) : MC_Set_Value_From_String(message, tag, value.c_str());
  if (status == MC_NORMAL_COMPLETION) return;
  const std::string tagText = formatText("%.8x", tag);
  deliver(self, formatText("Error: Failed to set value into query find message, value (%s), tag (%s), err (%s)",
                           value.c_str(), tagText.c_str(), errorText(status)));
  fail(kErrs3, "Error: Failed to set value into query find message (tag/err)", tagText, std::string(errorText(status)));
}

void buildFindIdentifier(const QueryInstance& self, int message) {
  auto key = [&](uint32_t tag, const zyl::HostString& property) { setQueryKey(self, message, tag, text(property)); };
  auto zeroLength = [&](uint32_t tag) { setQueryKey(self, message, tag, ""); };
  key(zyl::tags::kPatientId, self.patientId);
  switch (self.level) {
    case 0:
      break;
    case 1:
      key(zyl::tags::kStudyInstanceUid, self.studyUid);
      key(zyl::tags::kStudyDate, self.studyDate);
      key(zyl::tags::kStudyTime, self.studyTime);
      key(zyl::tags::kAccessionNumber, self.accession);
      key(zyl::tags::kStudyId, self.studyId);
      zeroLength(zyl::tags::kStudyDescription);
      break;
    case 2:
      key(zyl::tags::kStudyInstanceUid, self.studyUid);
      key(zyl::tags::kSeriesInstanceUid, self.seriesUid);
      key(zyl::tags::kModality, self.modality);
      key(zyl::tags::kSeriesNumber, self.seriesNum);
      zeroLength(zyl::tags::kStudyDescription);
      zeroLength(zyl::tags::kSeriesDescription);
      break;
    default:
      key(zyl::tags::kStudyInstanceUid, self.studyUid);
      key(zyl::tags::kSeriesInstanceUid, self.seriesUid);
      key(zyl::tags::kSopInstanceUid, self.sopUid);
      key(zyl::tags::kInstanceNumber, self.instanceNum);
      break;
  }
  if (self.level == 0 || self.model == 1) setQueryKey(self, message, zyl::tags::kPatientName, patientNameKey(self));
}

void readFindResponse(const QueryInstance& self, int message, QueryResultRecord& record) {
  // A unique key the response left empty: the object's own, else a placeholder.
  auto unique = [&](zyl::HostString& field, uint32_t tag, const zyl::HostString& own, const char* placeholder) {
    std::string value = responseText(message, tag);
    if (value.empty()) value = text(own).empty() ? placeholder : text(own);
    store(field, value);
  };
  auto plain = [&](zyl::HostString& field, uint32_t tag) { store(field, responseText(message, tag)); };
  unique(record.patientId, zyl::tags::kPatientId, self.patientId, "Unknown Patient Id");
  if (self.level >= 1)
    unique(record.studyInstanceUid, zyl::tags::kStudyInstanceUid, self.studyUid, "Unknown Study UID");
  if (self.level >= 2)
    unique(record.seriesInstanceUid, zyl::tags::kSeriesInstanceUid, self.seriesUid, "Unknown Series UID");
  switch (self.level) {
    case 1:
      plain(record.studyDate, zyl::tags::kStudyDate);
      plain(record.studyTime, zyl::tags::kStudyTime);
      plain(record.accessionNumber, zyl::tags::kAccessionNumber);
      plain(record.studyId, zyl::tags::kStudyId);
      plain(record.studyDescription, zyl::tags::kStudyDescription);
      break;
    case 2:
      plain(record.modality, zyl::tags::kModality);
      plain(record.seriesNumber, zyl::tags::kSeriesNumber);
      plain(record.studyDescription, zyl::tags::kStudyDescription);
      plain(record.seriesDescription, zyl::tags::kSeriesDescription);
      break;
    case 3:
      unique(record.sopInstanceUid, zyl::tags::kSopInstanceUid, self.sopUid, "Unknown Image UID");
      plain(record.instanceNumber, zyl::tags::kInstanceNumber);
      break;
    default:
      break;
  }
  if (self.level == 0 || self.model == 1) {
    const std::string name = responseText(message, zyl::tags::kPatientName);
    store(record.patientName, name);
    const auto parts = splitPersonName(name);
    zyl::HostString* fields[] = {&record.familyName, &record.givenName, &record.middleName, &record.prefix,
                                 &record.suffix};
    for (size_t i = 0; i < parts.size(); ++i) store(*fields[i], parts[i]);
  }
}

}  // namespace orvo::query
