// Query of ZYLffOrvoQuery: one C-FIND built from the object's level, model
// and keys, its pending responses read into result records, cancelled when
// the callback asks, the limit is reached or the node stays silent.
#include <array>
#include <cstdlib>
#include <string>

#include "format_text.h"
#include "method.h"
#include "query_association.h"
#include "query_keys.h"
#include "query_methods.h"
#include "startup.h"

namespace orvo::query {
namespace {

namespace cfg = zyl::config;


struct QueryRun {
  const QueryInstance& self;
  std::string service;
  zyl::toolkit::AssociationHandle association;
  bool cancelled = false;

  void sendCancel() { query::sendCancel(service, association.get(), kFindCancelTexts); }
  // A 0 from the callback cancels once.
  void cancelIfAsked(bool goOn, const char* notice = "Cancel Request Sent to Remote Node") {
    if (goOn || cancelled) return;
    sendCancel();
    cancelled = true;
    deliver(self, notice);
  }
};

HostVar* queryWorker(MethodCall<QueryInstance, CountKeywords>& call) {
  const QueryInstance& self = call.self();
  if (std::string_view(zyl::hostStringText(self.aenQuery)).empty())
    fail(kErrs1, "Error: Set the Query_SCP property before calling this method.");
  const QueryEntities entities = readQueryEntities(self);

  std::array<char, 32> maxText{};
  if (readUserParam("MaxQueryResponses", maxText) != 0) fail(kErrs1, "Error: Failed to get MaxQueryResponses from orvo cfg.");
  const long limit = std::strtol(maxText.data(), nullptr, 10);
  // No array can have no record: a limit that is no positive count is refused.
  if (limit <= 0) fail(kErrs2, "Error: MaxQueryResponses must be a number above zero ", std::string(maxText.data()));
  ResultRecords results(static_cast<int64_t>(limit));
  uint32_t count = 0;
  auto finish = [&] {
    if (call.keywords().countGiven) storeUInt32(call.keywords().count, count);
    return results.release();
  };
  const std::string name(entities.remote.Name.view()), aet(entities.remote.AET.view());

  if (!deliver(self, formatText("Query Started. Querying  %s.", name.c_str()))) return finish();
  QueryRun run{self, std::string(kModelNames[self.model]) + "_QR_FIND", zyl::toolkit::AssociationHandle{}, false};
  MC_STATUS status = openAssociation(entities, *run.association.out());
  if (status != MC_NORMAL_COMPLETION) {
    run.association.gone();
    deliver(self, formatText("Failed to open an association with the remote query scp service.   AE Name (%s),   AET "
                             "(%s),   Err (%s)",
                             name.c_str(), aet.c_str(), errorText(status)));
    return finish();
  }
  zyl::toolkit::MessageHandle request;
  status = MC_Open_Message(request.out(), run.service.c_str(), MC_CMD_C_FIND_RQ);
  if (status == MC_NORMAL_COMPLETION) status = MC_Set_Value_From_String(request.get(), 0x00080052, kLevelNames[self.level]);
  if (status != MC_NORMAL_COMPLETION) fail(kErrs2, "Error: Failed to build the query CFind msg (err)", std::string(errorText(status)));
  buildFindIdentifier(self, request.get());
  status = MC_Send_Request_Message(run.association.get(), request.get());
  if (status != MC_NORMAL_COMPLETION) {
    request.reset();
    deliver(self, formatText("Query Failed. Unable to sent query request.  AE Name (%s),   AET (%s),   Err (%s)",
                             name.c_str(), aet.c_str(), errorText(status)));
    return finish();
  }
  run.cancelIfAsked(deliver(self, "Query request sent to remote query scp service."));
  request.reset();

  int waitCycle = 0, waitCount = 0;
  for (;;) {
    zyl::toolkit::MessageHandle response;
    const char* service = nullptr;
    MC_COMMAND command{};
    status = MC_Read_Message(run.association.get(), 1, response.out(), &service, &command);
    if (status == MC_TIMEOUT) {
      response.release();
      if (waitCycle == 3) {
        run.cancelIfAsked(deliver(self, "Waiting for remote query scp service to reply...."));
        if (++waitCount > 20) {
          deliver(self, "Aborting Wait...remote node failed to reply.");
          return finish();
        }
      }
      waitCycle = (waitCycle + 1) % 4;
      continue;
    }
    if (status != MC_NORMAL_COMPLETION) {
      response.release();
      deliver(self, formatText("Query Failed. Unable to read response message.   AE Name (%s),   AET (%s),   Err (%s)",
                               name.c_str(), aet.c_str(), errorText(status)));
      return finish();
    }
    waitCount = 0;
    unsigned int findStatus = 0;
    status = MC_Get_Value_To_UInt(response.get(), 0x00000900, &findStatus);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs4, "Error: Failed to read query find response message status (name/aet/err)", name, aet,
           std::string(errorText(status)));
    if (findStatus == 0xFF00 || findStatus == 0xFF01) {
      if (count < static_cast<uint32_t>(limit)) {
        readFindResponse(self, response.get(), results.at(count));
        ++count;
        run.cancelIfAsked(deliver(self, formatText("Received Match %u.", count)));
      } else if (!run.cancelled) {
        run.sendCancel();
        run.cancelled = true;
        deliver(self, "Max # of query responses reached...Cancel Request Sent to Remote Node");
      }
      continue;
    }
    if (findStatus == 0x0000 || findStatus == 0xFE00) {
      deliver(self, findStatus == 0 ? formatText("Query Completed Successfully with %u matches.", count)
                                    : std::string("Query terminated due to Cancel"));
      response.reset();
      run.association.close();
      return finish();
    }
    const char* pattern = findStatus == 0xC001   ? "Error: Query failed; Unable to process. Response code (%xH, %dD)"
                          : findStatus == 0xA700 ? "Error: Query failed; Provider out of resources. Response code (%xH, %dD)"
                          : findStatus == 0xA900 ? "Error: Query failed; Invalid dataset. Response code (%xH, %dD)"
                                                 : "Query Failed. Unknown response code (%xH, %dD)";
    const std::string text = formatText(pattern, findStatus, static_cast<int>(findStatus));
    deliver(self, text);
    response.reset();
    run.association.close();
    fail(kErrs4, "Error: Failed to process query response from (ae name/aet/err msg)", name, aet, text);
  }
}

}  // namespace

constexpr MethodEntry runQuery = methodEntry<QueryInstance, CountKeywords, queryWorker>;

}  // namespace orvo::query
