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
#include "toolkit/tags.h"

namespace orvo::query {
namespace {

constexpr QueryConnection::Texts kQueryTexts = {"Query Failed. Unable to sent query request.  ",
                                                "Query Failed. Unable to read response message.   ",
                                                "Waiting for remote query scp service to reply...."};

// Reads the responses into `results`: a match while pending, then the
// final status. Counts the matches in `count`.
bool drainMatches(QueryConnection& connection, const QueryInstance& self, ResultRecords& results, uint32_t limit,
                  uint32_t& count) {
  return connection.drain([&](zyl::toolkit::MessageHandle& response) {
    unsigned int findStatus = 0;
    const MC_STATUS status = MC_Get_Value_To_UInt(response.get(), zyl::tags::kStatus, &findStatus);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs4, "Error: Failed to read query find response message status (name/aet/err)", connection.name(),
           connection.aet(), std::string(errorText(status)));
    if (findStatus == 0xFF00 || findStatus == 0xFF01) {
      if (count < limit) {
        readFindResponse(self, response.get(), results.at(count));
        ++count;
        connection.cancelIfAsked(deliver(self, formatText("Received Match %u.", count)));
      } else {
        connection.cancelOnce(kFindCancelTexts,
                              "Max # of query responses reached...Cancel Request Sent to Remote Node");
      }
      return true;
    }
    if (findStatus == 0x0000 || findStatus == 0xFE00) {
      deliver(self, findStatus == 0 ? formatText("Query Completed Successfully with %u matches.", count)
                                    : std::string("Query terminated due to Cancel"));
      response.reset();
      connection.close();
      return false;
    }
    const char* pattern = findStatus == 0xC001 ? "Error: Query failed; Unable to process. Response code (%xH, %dD)"
                          : findStatus == 0xA700
                              ? "Error: Query failed; Provider out of resources. Response code (%xH, %dD)"
                          : findStatus == 0xA900 ? "Error: Query failed; Invalid dataset. Response code (%xH, %dD)"
                                                 : "Query Failed. Unknown response code (%xH, %dD)";
    const std::string text = formatText(pattern, findStatus, static_cast<int>(findStatus));
    deliver(self, text);
    response.reset();
    connection.close();
    fail(kErrs4, "Error: Failed to process query response from (ae name/aet/err msg)", connection.name(),
         connection.aet(), text);
  });
}

HostVar* queryWorker(MethodCall<QueryInstance, CountKeywords>& call) {
  const QueryInstance& self = call.self();
  if (std::string_view(zyl::hostStringText(self.aenQuery)).empty())
    fail(kErrs1, "Error: Set the Query_SCP property before calling this method.");
  const QueryEntities entities = readQueryEntities(self);

  std::array<char, 32> maxText{};
  if (readUserParam("MaxQueryResponses", maxText) != 0)
    fail(kErrs1, "Error: Failed to get MaxQueryResponses from orvo cfg.");
  const long limit = std::strtol(maxText.data(), nullptr, 10);
  // No array can have no record: a limit that is no positive count is refused.
  if (limit <= 0) fail(kErrs2, "Error: MaxQueryResponses must be a number above zero ", std::string(maxText.data()));
  ResultRecords results(static_cast<int64_t>(limit));
  uint32_t count = 0;
  auto finish = [&] {
    if (call.keywords().countGiven) storeUInt32(call.keywords().count, count);
    return results.release();
  };

  QueryConnection connection(self, entities, std::string(kModelNames[self.model]) + "_QR_FIND", kQueryTexts);
  if (!deliver(self, formatText("Query Started. Querying  %s.", connection.name().c_str()))) return finish();
  if (!connection.open()) return finish();
  zyl::toolkit::MessageHandle request;
  MC_STATUS status = MC_Open_Message(request.out(), connection.service().c_str(), MC_CMD_C_FIND_RQ);
  if (status == MC_NORMAL_COMPLETION)
    status = MC_Set_Value_From_String(request.get(), zyl::tags::kQueryRetrieveLevel, kLevelNames[self.level]);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Failed to build the query CFind msg (err)", std::string(errorText(status)));
  buildFindIdentifier(self, request.get());
  if (!connection.send(request)) return finish();
  connection.cancelIfAsked(deliver(self, "Query request sent to remote query scp service."));
  request.reset();
  drainMatches(connection, self, results, static_cast<uint32_t>(limit), count);
  return finish();
}

}  // namespace

MethodRows queryMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOQUERY::QUERY", methodEntry<QueryInstance, CountKeywords, queryWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::query
