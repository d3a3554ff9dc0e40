// The pieces of a query the client builds and reads: the local and remote
// entities, the C-FIND identifier from the object's keys, and the result
// records filled from the responses.
#pragma once

#include <cstdint>
#include <string>

#include "config/orvo_config.h"
#include "host_temporary.h"
#include "query_instance.h"
#include "toolkit/handles.h"
#include "toolkit/mc.h"
#include "zyl/host.h"

namespace orvo::query {

// Names of the information models and levels, by the property values.
inline constexpr const char* kModelNames[] = {"PATIENT_ROOT", "STUDY_ROOT", "PATIENT_STUDY_ONLY"};
inline constexpr const char* kLevelNames[] = {"PATIENT", "STUDY", "SERIES", "IMAGE"};

struct QueryEntities {
  zyl::config::CfgApplEntity remote{};
  zyl::config::CfgApplEntity storage{};  // read only for a retrieve
  zyl::config::CfgApplEntity local{};
};
// The QUERY_SCP entity, with `withStorage` the STORAGE_SCP entity, and the
// local entity QRScuServiceAE names; what cannot be read stops the call.
QueryEntities readQueryEntities(const QueryInstance& self, bool withStorage = false);
// An association between them over the local entity's service list.
MC_STATUS openAssociation(const QueryEntities& entities, int& association);

// Sends a C-CANCEL for `service` on the association; the texts name the
// failures to create and to send it.
struct CancelTexts {
  const char* create;
  const char* send;
};
inline constexpr CancelTexts kFindCancelTexts = {"Error: Failed to create a CFind Cancel msg (err)",
                                                 "Error: Failed to send CFind Cancel msg (err)"};
void sendCancel(const std::string& service, int association, const CancelTexts& texts);

// A temporary array of result records, all fields empty, released unless
// handed back.
class ResultRecords {
 public:
  explicit ResultRecords(int64_t count);
  QueryResultRecord& at(uint32_t index) { return records_[index]; }
  HostVar* release() { return array_.release(); }

 private:
  static HostVar* make(int64_t count, void** data);
  void* data_ = nullptr;
  HostTemporary array_;
  QueryResultRecord* records_;
};

// Sets one key: text as it is, or zero length (universal matching, and a
// request to return the attribute) for empty text.
void setQueryKey(const QueryInstance& self, int message, uint32_t tag, const std::string& text);
// The keys of the object's level and model.
void buildFindIdentifier(const QueryInstance& self, int message);
// Fills a record from a pending response of the object's level.
void readFindResponse(const QueryInstance& self, int message, QueryResultRecord& record);

}  // namespace orvo::query
