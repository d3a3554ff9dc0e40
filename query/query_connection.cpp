// The query client's association for one C-FIND or C-MOVE: open, send,
// drain, close.
#include "format_text.h"
#include "method.h"
#include "query_association.h"

namespace orvo::query {

QueryConnection::QueryConnection(const QueryInstance& self, const QueryEntities& entities, std::string service,
                                 const Texts& texts)
    : self_(self),
      entities_(entities),
      service_(std::move(service)),
      name_(entities.remote.Name.view()),
      aet_(entities.remote.AET.view()),
      texts_(texts) {}

std::string QueryConnection::nodeText(MC_STATUS status) const {
  return formatText("AE Name (%s),   AET (%s),   Err (%s)", name_.c_str(), aet_.c_str(), errorText(status));
}

bool QueryConnection::open() {
  const MC_STATUS status = openAssociation(entities_, *association_.out());
  if (status == MC_NORMAL_COMPLETION) return true;
  association_.gone();
  deliver(self_, "Failed to open an association with the remote query scp service.   " + nodeText(status));
  return false;
}

bool QueryConnection::send(zyl::toolkit::MessageHandle& request) {
  const MC_STATUS status = MC_Send_Request_Message(association_.get(), request.get());
  if (status == MC_NORMAL_COMPLETION) return true;
  request.reset();
  deliver(self_, texts_.sendFailed + nodeText(status));
  return false;
}

bool QueryConnection::drain(const std::function<bool(zyl::toolkit::MessageHandle& response)>& onResponse) {
  // Reads wait a second each; every fourth silent second asks the callback,
  // and twenty such rounds give up.
  int waitCycle = 0, waitCount = 0;
  for (;;) {
    zyl::toolkit::MessageHandle response;
    const char* serviceName = nullptr;
    MC_COMMAND command{};
    const MC_STATUS status = MC_Read_Message(association_.get(), 1, response.out(), &serviceName, &command);
    if (status == MC_TIMEOUT) {
      if (waitCycle == 3) {
        cancelIfAsked(deliver(self_, texts_.waiting));
        if (++waitCount > 20) {
          deliver(self_, "Aborting Wait...remote node failed to reply.");
          return false;
        }
      }
      waitCycle = (waitCycle + 1) % 4;
      continue;
    }
    if (status != MC_NORMAL_COMPLETION) {
      deliver(self_, texts_.readFailed + nodeText(status));
      return false;
    }
    waitCount = 0;
    if (!onResponse(response)) return true;
  }
}

void QueryConnection::cancelOnce(const CancelTexts& texts, const char* notice) {
  if (cancelled_) return;
  sendCancel(service_, association_.get(), texts);
  cancelled_ = true;
  deliver(self_, notice);
}

}  // namespace orvo::query
