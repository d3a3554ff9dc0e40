// The network side of the toolkit: associations over DCMTK's ASC_/DIMSE_
// layer, the service lists they propose or accept, and the messages they carry.
#pragma once

#include "../access.h"
#include "../dcmtk.h"
#include "toolkit/mc.h"

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zyl::toolkit::net {

// ---- Failures with a detail text --------------------------------------------

// Fails with `status` and remembers `detail` for this thread, so that the
// caller's next MC_Error_Message of that status can say what went wrong.
[[noreturn]] void failWith(MC_STATUS status, std::string detail);
// The detail of the last failure on this thread with `status`, if any.
const char* lastDetail(MC_STATUS status);

// Process-wide DCMTK settings (Nagle off, no reverse DNS, time limits); runs once.
void prepareNetwork();
// A time limit of the profile, in seconds (at least 1).
int configuredSeconds(MC_CONFIG_PARAMETER parameter);

// ---- Service lists ----------------------------------------------------------

// One presentation context to propose, or one service to accept.
struct ContextOffer {
  std::string serviceName;  // the toolkit service
  std::string sopClassUid;
  std::vector<std::string> syntaxUids;
  bool scuRole = false;  // role selection asked for (run-time services)
  bool scpRole = false;
};

// The services of a list from the toolkit's files or made at run time; fails
// with MC_INVALID_SERVICE_LIST_NAME for unknown names.
std::vector<ContextOffer> resolveServiceList(const std::string& name);

// ---- Messages -----------------------------------------------------------------

// Whether a message may be made with `command`: one of the DIMSE commands the
// toolkit sends and reads.
bool isKnownCommand(MC_COMMAND command);

// ---- Associations -----------------------------------------------------------

struct Association {
  std::mutex mutex;  // one call at a time on an association
  int id = 0;
  int applicationId = 0;
  bool requestor = false;            // we asked for it
  bool acknowledged = false;         // accepted (listener side) or established (requestor side)
  T_ASC_Network* network = nullptr;  // requestor side: owned
  T_ASC_Association* association = nullptr;
  std::string remoteHost;  // requestor side: the name we connected to
  int acceptableCursor = -1;

  // Message ids: the next one we send, the outstanding request we may cancel,
  // and the last request read, which a response answers.
  DIC_US nextMessageId = 1;
  struct Request {
    DIC_US messageId = 0;
    T_ASC_PresentationContextID contextId = 0;
    MC_COMMAND command = MC_CMD_NONE;
    std::string sopClassUid, sopInstanceUid;
  };
  std::optional<Request> lastSent, lastRead;

  ~Association();
};

// Registers an association under a new id of the one id table.
int addAssociation(std::shared_ptr<Association> association);
// The association an id names; fails with MC_INVALID_ASSOC_ID.
std::shared_ptr<Association> findAssociation(int id);
// Frees the id; DCMTK's structures go with the last reference.
void removeAssociation(int id);
int associationCount();

// The socket of an association (-1 when there is none), and its options:
// Nagle off, and a time limit on writes.
int socketOf(const Association& association);
// Sends an A-ABORT, gives the peer about a second to close, then closes the
// connection.
void abortAssociation(Association& association);
void tuneSocket(const Association& association);

// An AE title without its padding.
inline std::string trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  return s;
}

// Our implementation class UID and version name into DCMTK's parameters.
void setImplementation(T_ASC_Parameters* params);

}  // namespace zyl::toolkit::net
