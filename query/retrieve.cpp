// Retrieve of ZYLffOrvoQuery: a C-MOVE of the objects the unique keys select
// to the STORAGE_SCP entity, followed to its final response.
#include <cstddef>
#include <string>

#include "format_text.h"
#include "method.h"
#include "query_association.h"
#include "query_keys.h"
#include "query_methods.h"
#include "toolkit/tags.h"

namespace orvo::query {
namespace {

namespace cfg = zyl::config;

struct RetrieveKeywords {
  HostVar* count;
  int countGiven;
  zyl::HostString patientId, studyUid, seriesUid, sopUid;
  static const HostKeyword table[];
};
const HostKeyword RetrieveKeywords::table[] = {
    {"COUNT", HOST_KW_REF, offsetof(RetrieveKeywords, count), offsetof(RetrieveKeywords, countGiven)},
    {"PATIENT_ID", HOST_KW_STRING, offsetof(RetrieveKeywords, patientId), HOST_KW_NO_GIVEN},
    {"SERIES_INSTANCE_UID", HOST_KW_STRING, offsetof(RetrieveKeywords, seriesUid), HOST_KW_NO_GIVEN},
    {"SOP_INSTANCE_UID", HOST_KW_STRING, offsetof(RetrieveKeywords, sopUid), HOST_KW_NO_GIVEN},
    {"STUDY_INSTANCE_UID", HOST_KW_STRING, offsetof(RetrieveKeywords, studyUid), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

std::string text(const zyl::HostString& s) { return zyl::hostStringText(s); }

constexpr CancelTexts kMoveCancelTexts = {"Error: Failed to create a CMove Cancel msg (err)",
                                          "Error: Failed to send CMove Cancel msg (err)"};

const char* failureText(unsigned status) {
  switch (status) {
    case 0xA701:
      return "Retrieve Failed. Unable to calculate number of matches.  Response code (%xH, %dD)";
    case 0xA702:
      return "Retrieve Failed. Unable to perform sub-operations.  Response code (%xH, %dD)";
    case 0xA801:
      return "Retrieve Failed. Move destination unknown.  Response code (%xH, %dD)";
    case 0xA900:
      return "Retrieve Failed. Invalid dataset error.  Response code (%xH, %dD)";
    case 0xB000:
      return "Retrieve Failed. One or more failures.  Response code (%xH, %dD)";
    default:
      return "Retrieve Failed. Unknown response code (%xH, %dD)";
  }
}

constexpr QueryConnection::Texts kRetrieveTexts = {"Retrieve Failed. Unable to sent retrieve request.  ",
                                                   "Retrieve Failed. Unable to read response message.   ",
                                                   "Waiting for retrieve to complete...."};

// Checks the keys the object's level needs; the placeholders of a query
// result name nothing a node can move.
struct RetrieveKeys {
  std::string patientId, studyUid, seriesUid, sopUid;
};
RetrieveKeys requiredKeys(const QueryInstance& self, const RetrieveKeywords& kw) {
  RetrieveKeys keys{text(kw.patientId), text(kw.studyUid), text(kw.seriesUid), text(kw.sopUid)};
  if (keys.patientId.empty()) fail(kErrs1, "Error: The Patient_Id keyword is missing.");
  if (self.level >= 1 && keys.studyUid.empty()) fail(kErrs1, "Error: The Study_Instance_Uid keyword is missing.");
  if (self.level >= 2 && keys.seriesUid.empty()) fail(kErrs1, "Error: The Series_Instance_Uid keyword is missing.");
  if (self.level >= 3 && keys.sopUid.empty()) fail(kErrs1, "Error: The Sop_Instance_Uid keyword is missing.");
  return keys;
}
void refusePlaceholders(const QueryInstance& self, const RetrieveKeys& keys) {
  if (keys.patientId == "Unknown Patient Id" && self.model != 1)
    fail(kErrs1, "Error: Can not retrieve when patient id is set to unknown");
  if (keys.studyUid == "Unknown Study UID") fail(kErrs1, "Error: Can not retrieve when study uid is set to unknown");
  if (keys.seriesUid == "Unknown Series UID") fail(kErrs1, "Error: Can not retrieve when series uid is set to unknown");
  if (keys.sopUid == "Unknown Image UID") fail(kErrs1, "Error: Can not retrieve when image uid is set to unknown");
}

// The C-MOVE request: level, destination and the unique keys down to the level.
void buildMoveRequest(const QueryInstance& self, const RetrieveKeys& keys, const std::string& service,
                      const char* destination, zyl::toolkit::MessageHandle& request) {
  MC_STATUS status = MC_Open_Message(request.out(), service.c_str(), MC_CMD_C_MOVE_RQ);
  if (status == MC_NORMAL_COMPLETION)
    status = MC_Set_Value_From_String(request.get(), zyl::tags::kQueryRetrieveLevel, kLevelNames[self.level]);
  if (status == MC_NORMAL_COMPLETION)
    status = MC_Set_Value_From_String(request.get(), zyl::tags::kMoveDestination, destination);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Failed to build the CMove msg (err)", std::string(errorText(status)));
  refusePlaceholders(self, keys);
  if (self.level >= 3) setQueryKey(self, request.get(), zyl::tags::kSopInstanceUid, keys.sopUid);
  if (self.level >= 2) setQueryKey(self, request.get(), zyl::tags::kSeriesInstanceUid, keys.seriesUid);
  if (self.level >= 1) setQueryKey(self, request.get(), zyl::tags::kStudyInstanceUid, keys.studyUid);
  if (self.level == 0 || self.model != 1) setQueryKey(self, request.get(), zyl::tags::kPatientId, keys.patientId);
}

// Follows the responses to the final one: 1 when the move completed or was
// cancelled, 0 when it failed; `completed` the node's count of stored files.
int16_t drainMove(QueryConnection& connection, const QueryInstance& self, const cfg::CfgApplEntity& storageEntity,
                  uint32_t& completed) {
  int16_t result = 0;
  connection.drain([&](zyl::toolkit::MessageHandle& response) {
    unsigned int moveStatus = 0;
    const MC_STATUS status = MC_Get_Value_To_UInt(response.get(), zyl::tags::kStatus, &moveStatus);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs4, "Error: Failed to read retrieve move response message status (name/aet/err)",
           std::string(storageEntity.Name.view()), std::string(storageEntity.AET.view()),
           std::string(errorText(status)));
    if (moveStatus == 0xFF00) {
      connection.cancelIfAsked(deliver(self, "Retrieving..."));
      return true;
    }
    if (moveStatus == 0x0000 || moveStatus == 0xFE00) {
      unsigned int done = 0;
      if (MC_Get_Value_To_UInt(response.get(), zyl::tags::kCompletedSubOperations, &done) == MC_NORMAL_COMPLETION) {
        completed = done;
        deliver(self, formatText("Retrieved %u file(s).", completed));
      }
      deliver(self, moveStatus == 0 ? "Retrieve successfully completed." : "Retrieve terminated due to Cancel.");
      response.reset();
      connection.close();
      result = 1;
      return false;
    }
    std::string failure;
    if (moveStatus == 0xC001) {
      const std::string first = formatText("Retrieve Failed. Unable to Process error.  Response code (%xH, %dD)",
                                           moveStatus, static_cast<int>(moveStatus));
      const std::string second = "Verify that the destination Storage SCP Service is properly configured and running.";
      deliver(self, first);
      deliver(self, second);
      failure = first + ". " + second;
    } else {
      failure = formatText(failureText(moveStatus), moveStatus, static_cast<int>(moveStatus));
      deliver(self, failure);
    }
    response.reset();
    report(kErrs4, HOST_MSG_INFO, "Error: Failed to process retrieve response from (ae name/aet/err msg)",
           connection.name(), connection.aet(), failure);
    connection.close();
    return false;
  });
  return result;
}

HostVar* retrieveWorker(MethodCall<QueryInstance, RetrieveKeywords>& call) {
  const QueryInstance& self = call.self();
  const RetrieveKeywords& kw = call.keywords();
  const std::string storage = text(self.aenStorage);
  if (storage.empty()) fail(kErrs1, "Error: Set the Storage_SCP property before calling this method.");
  const RetrieveKeys keys = requiredKeys(self, kw);

  uint32_t completed = 0;
  auto finish = [&](int16_t result) {
    if (kw.countGiven) {
      zyl::Scalar s{};
      s.u16 = static_cast<uint16_t>(completed);
      HostStoreScalar(kw.count, zyl::Type::UInt16, &s);
    }
    return HostTempInt(result);
  };

  const QueryEntities entities = readQueryEntities(self, true);
  const cfg::CfgApplEntity& storageEntity = entities.storage;
  QueryConnection connection(self, entities, std::string(kModelNames[self.model]) + "_QR_MOVE", kRetrieveTexts);
  deliver(self, formatText("Retrieve Started. Moving images from  %s  to  %s.", connection.name().c_str(),
                           storageEntity.Name.c_str()));
  if (!connection.open()) return finish(0);
  zyl::toolkit::MessageHandle request;
  buildMoveRequest(self, keys, connection.service(), storageEntity.AET.c_str(), request);
  if (!connection.send(request)) return finish(0);
  connection.cancelIfAsked(deliver(self, "Retrieve request sent to remote query scp service."), kMoveCancelTexts);
  request.reset();
  return finish(drainMove(connection, self, storageEntity, completed));
}

}  // namespace

MethodRows retrieveMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOQUERY::RETRIEVE", methodEntry<QueryInstance, RetrieveKeywords, retrieveWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::query
