// The association of the query client to its remote node, and the progress
// messages it delivers.
#pragma once

#include <functional>
#include <string>

#include "config/orvo_config.h"
#include "query_instance.h"
#include "query_keys.h"
#include "toolkit/handles.h"
#include "toolkit/mc.h"

namespace orvo::query {

// Opens an association to the QUERY_SCP entity from the local entity that
// QRScuServiceAE names, proposing that entity's service list. Configuration
// failures stop the call; the toolkit's status is returned, with the remote
// entity read into `remote` and the id in `association` on success.
MC_STATUS openQueryAssociation(const QueryInstance& self, zyl::config::CfgApplEntity& remote, int& association);

// Delivers a message to the object's progress callback: false asks to stop.
bool deliver(const QueryInstance& self, const std::string& message);

// One call's association to the QUERY_SCP node for one request: opened, the
// request sent, its responses drained, closed; aborted on any other way out.
// Each step reports to the object's progress callback.
class QueryConnection {
 public:
  // What a query and a retrieve report differently.
  struct Texts {
    const char* sendFailed;  // each followed by the node's names and the error
    const char* readFailed;
    const char* waiting;  // while the node stays silent
  };
  QueryConnection(const QueryInstance& self, const QueryEntities& entities, std::string service, const Texts& texts);

  // False, reported, when the association cannot be opened.
  bool open();
  // False, reported after the request is freed, when it cannot be sent.
  bool send(zyl::toolkit::MessageHandle& request);
  // Hands each response to `onResponse` until it returns false; false,
  // reported, when reading fails or the node stays silent too long.
  bool drain(const std::function<bool(zyl::toolkit::MessageHandle& response)>& onResponse);
  // Sends a C-CANCEL once and reports `notice`.
  void cancelOnce(const CancelTexts& texts, const char* notice);
  // A 0 from the callback cancels once.
  void cancelIfAsked(bool goOn, const CancelTexts& texts = kFindCancelTexts,
                     const char* notice = "Cancel Request Sent to Remote Node") {
    if (!goOn) cancelOnce(texts, notice);
  }
  void close() { association_.close(); }
  const std::string& service() const { return service_; }
  const std::string& name() const { return name_; }
  const std::string& aet() const { return aet_; }

 private:
  std::string nodeText(MC_STATUS status) const;

  const QueryInstance& self_;
  const QueryEntities& entities_;
  const std::string service_, name_, aet_;
  const Texts texts_;
  zyl::toolkit::AssociationHandle association_;
  bool cancelled_ = false;
};

}  // namespace orvo::query
