// Associations: requesting them, the registry of open ones, what they report,
// and releasing or aborting them.
#include "../settings.h"
#include "../limits.h"
#include "../tables.h"
#include "net.h"

#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dul.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>

namespace zyl::toolkit::net {
namespace {

thread_local MC_STATUS detailStatus = MC_NORMAL_COMPLETION;
thread_local std::string detailText;

std::mutex registryMutex;
std::map<int, std::shared_ptr<Association>> registry;

void copyText(char* target, std::size_t size, const std::string& text) {
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

MC_STATUS nextAcceptable(int associationId, char* serviceName, int bufferSize, MC_TRANSFER_SYNTAX* syntax, bool first) {
  requireInitialized();
  auto a = findAssociation(associationId);
  if (!serviceName || !syntax) return MC_NULL_POINTER_PARM;
  std::lock_guard lock(a->mutex);
  T_ASC_Parameters* params = a->association->params;
  const int count = ASC_countPresentationContexts(params);
  for (int i = first ? 0 : a->acceptableCursor + 1; i < count; ++i) {
    T_ASC_PresentationContext pc;
    if (ASC_getPresentationContext(params, i, &pc).bad() || pc.resultReason != ASC_P_ACCEPTANCE) continue;
    const Service* service = findServiceByUid(pc.abstractSyntax);
    auto number = tables::syntaxFromUid(pc.acceptedTransferSyntax);
    if (!service || !number) continue;
    a->acceptableCursor = i;
    if (bufferSize <= 0 || service->name.size() + 1 > static_cast<std::size_t>(bufferSize)) return MC_BUFFER_TOO_SMALL;
    std::memcpy(serviceName, service->name.c_str(), service->name.size() + 1);
    *syntax = *number;
    return MC_NORMAL_COMPLETION;
  }
  a->acceptableCursor = count;
  return MC_END_OF_LIST;
}

// Maps a failed association request to a status with a detail text.
[[noreturn]] void failRequest(const OFCondition& cond, Association& a, const std::string& where) {
  if (cond == DUL_ASSOCIATIONREJECTED) {
    T_ASC_RejectParameters reject;
    OFString reason = "reason unknown";
    if (ASC_getRejectParameters(a.association->params, &reject).good()) ASC_printRejectParameters(reason, &reject);
    failWith(MC_ASSOCIATION_REJECTED, where + " refused the association: " + std::string(reason.c_str()));
  }
  const std::string text = cond.text() ? cond.text() : "";
  if (cond.code() == DULC_READTIMEOUT) failWith(MC_TIMEOUT, where + " did not answer the association request in time");
  if (cond.code() == DULC_UNKNOWNHOST) failWith(MC_UNKNOWN_HOST_NAME, where + ": unknown host");
  if (cond.code() == DULC_TCPINITERROR) {
    if (text.find("timed out") != std::string::npos || text.find("imeout") != std::string::npos)
      failWith(MC_TIMEOUT, "connecting to " + where + " timed out");
    failWith(MC_CONNECTION_FAILED, "cannot connect to " + where + " (" + text + ")");
  }
  if (cond.code() == DULC_PEERABORTEDASSOCIATION)
    failWith(MC_ASSOCIATION_ABORTED, where + " aborted the association request");
  failWith(MC_CONNECTION_FAILED, where + ": " + text);
}

}  // namespace

// ---- Shared helpers -----------------------------------------------------------

// DCMTK keeps the socket of a transport connection protected; a member
// pointer taken through a derived class reaches it without copying the object.
struct SocketAccess : DcmTransportConnection {
  static DcmNativeSocketType of(DcmTransportConnection& connection) {
    return (connection.*(&SocketAccess::getSocket))();
  }
};

int socketOf(const Association& a) {
  if (!a.association || !a.association->DULassociation) return -1;
  DcmTransportConnection* connection = DUL_getTransportConnection(a.association->DULassociation);
  return connection ? static_cast<int>(SocketAccess::of(*connection)) : -1;
}

// Nagle off so that small PDUs leave at once; a write limit so that a peer
// that stops reading cannot block a send for ever.
void tuneSocket(const Association& a) {
  const int fd = socketOf(a);
  if (fd < 0) return;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  timeval limit{configuredSeconds(MC_CFG_ASSOCIATION_TIMEOUT), 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void abortAssociation(Association& a) {
  const int fd = socketOf(a);
  if (fd >= 0) {
    // The A-ABORT PDU (source: service user, no reason), written here rather
    // than by DCMTK, whose abort then waits up to 15 s for the peer to close.
    static const unsigned char kAbortPdu[10] = {0x07, 0, 0, 0, 0, 4, 0, 0, 0, 0};
    ::send(fd, kAbortPdu, sizeof kAbortPdu, MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(fd, SHUT_WR);
    // About a second for the peer to see the abort and close, as the
    // protocol's ARTIM timer intends; then the connection closes anyway.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits::kAbortGraceMs);
    char scratch[4096];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      if (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) break;
    }
  }
  ASC_dropAssociation(a.association);  // closes the connection; nothing more is sent
}

void failWith(MC_STATUS status, std::string detail) {
  detailStatus = status;
  // The status's own text, not MC_Error_Message: that would give back the
  // previous detail and make the text grow with every failure.
  const auto* row = tables::findStatus(status);
  detailText = std::string(row ? row->text : "Unknown status") + ": " + detail;
  fail(status);
}

const char* lastDetail(MC_STATUS status) {
  return detailStatus == status && !detailText.empty() ? detailText.c_str() : nullptr;
}

int configuredSeconds(MC_CONFIG_PARAMETER parameter) {
  char text[32] = {};
  if (MC_Get_String_Config_Value(parameter, sizeof text, text) != MC_NORMAL_COMPLETION) return 10;
  return std::max(1, std::atoi(text));
}

void prepareNetwork() {
  static std::once_flag once;
  std::call_once(once, [] {
    // DCMTK reads TCP_NODELAY for every connection; we also set it on our sockets.
    setenv("TCP_NODELAY", "1", 0);
    dcmDisableGethostbyaddr.set(OFTrue);  // no reverse look-up per association
    dcmAssociatePDUSizeLimit.set(limits::kMaxAssociatePduSize);
    // DUL's one-time start-up (it also ignores SIGPIPE) runs here, once.
    T_ASC_Network* network = nullptr;
    if (ASC_initializeNetwork(NET_REQUESTOR, 0, 1, &network).good()) ASC_dropNetwork(&network);
  });
  dcmConnectionTimeout.set(configuredSeconds(MC_CFG_CONNECT_TIMEOUT));
}

void setImplementation(T_ASC_Parameters* params) {
  char uid[65] = {}, version[17] = {};
  if (MC_Get_String_Config_Value(MC_CFG_IMPLEMENTATION_CLASS_UID, sizeof uid, uid) == MC_NORMAL_COMPLETION)
    OFStandard::strlcpy(params->ourImplementationClassUID, uid, sizeof params->ourImplementationClassUID);
  if (MC_Get_String_Config_Value(MC_CFG_IMPLEMENTATION_VERSION, sizeof version, version) == MC_NORMAL_COMPLETION)
    OFStandard::strlcpy(params->ourImplementationVersionName, version, sizeof params->ourImplementationVersionName);
}

Association::~Association() {
  if (association) {
    ASC_dropAssociation(association);
    ASC_destroyAssociation(&association);
  }
  if (network) ASC_dropNetwork(&network);
}

int addAssociation(std::shared_ptr<Association> association) {
  std::lock_guard lock(registryMutex);
  if (static_cast<int>(registry.size()) >= limits::kMaxAssociations)
    failWith(MC_LIMIT_EXCEEDED, "too many associations open at once");
  auto id = IdTable::instance().add({IdKind::Association, nullptr, nullptr, {}});
  if (!id) fail(MC_NO_FREE_ID);
  association->id = *id;
  registry[*id] = std::move(association);
  return *id;
}

std::shared_ptr<Association> findAssociation(int id) {
  std::lock_guard lock(registryMutex);
  auto it = registry.find(id);
  if (it == registry.end()) fail(MC_INVALID_ASSOC_ID);
  return it->second;
}

void removeAssociation(int id) {
  std::shared_ptr<Association> last;  // destroyed after the lock is released
  {
    std::lock_guard lock(registryMutex);
    auto it = registry.find(id);
    if (it == registry.end()) return;
    last = std::move(it->second);
    registry.erase(it);
    IdTable::instance().remove(id);
  }
}

int associationCount() {
  std::lock_guard lock(registryMutex);
  return static_cast<int>(registry.size());
}

}  // namespace zyl::toolkit::net

using namespace zyl::toolkit;
using namespace zyl::toolkit::net;

extern "C" {

MC_STATUS MC_Open_Association(int applicationId, int* associationId, const char* remoteApTitle, int remotePort,
                              const char* remoteHost, const char* serviceListName) {
  return guarded([&] {
    requireInitialized();
    if (!associationId || !remoteApTitle || !remoteHost || !serviceListName) return MC_NULL_POINTER_PARM;
    auto application = IdTable::instance().find(applicationId);
    if (!application || application->kind != IdKind::Application) return MC_INVALID_APPLICATION_ID;
    const std::string called = trimmed(remoteApTitle);
    if (called.empty() || called.size() > 16) return MC_INVALID_LENGTH_FOR_TITLE;
    if (remotePort <= 0 || remotePort > 65535) return MC_INVALID_PORT_NUMBER;
    const std::string host = remoteHost;
    if (host.empty() || host.find(':') != std::string::npos) return MC_INVALID_HOST_NAME;
    std::vector<ContextOffer> offers = resolveServiceList(serviceListName);
    if (offers.empty()) return MC_EMPTY_LIST;
    if (static_cast<int>(offers.size()) > limits::kMaxPresentationContexts)
      failWith(MC_LIMIT_EXCEEDED, std::string("service list ") + serviceListName + " has more than 128 services");
    prepareNetwork();
    const std::string where = called + " at " + host + ":" + std::to_string(remotePort);
    {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* found = nullptr;
      if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        failWith(MC_UNKNOWN_HOST_NAME, "cannot resolve host name '" + host + "'");
      freeaddrinfo(found);
    }
    if (associationCount() >= limits::kMaxAssociations)
      failWith(MC_LIMIT_EXCEEDED, "too many associations open at once");

    auto a = std::make_shared<Association>();
    a->requestor = true;
    a->applicationId = applicationId;
    a->remoteHost = host;
    const int timeout = configuredSeconds(MC_CFG_ASSOCIATION_TIMEOUT);
    if (ASC_initializeNetwork(NET_REQUESTOR, 0, timeout, &a->network).bad()) return MC_SYSTEM_ERROR;

    T_ASC_Parameters* raw = nullptr;
    if (ASC_createAssociationParameters(&raw, limits::kMaxReceivePduSize).bad()) return MC_SYSTEM_ERROR;
    std::unique_ptr<T_ASC_Parameters, void (*)(T_ASC_Parameters*)> params(
        raw, [](T_ASC_Parameters* p) { ASC_destroyAssociationParameters(&p); });
    ASC_setAPTitles(params.get(), application->applicationTitle.c_str(), called.c_str(), nullptr);
    const std::string peer = host + ":" + std::to_string(remotePort);
    ASC_setPresentationAddresses(params.get(), OFStandard::getHostName().c_str(), peer.c_str());
    T_ASC_PresentationContextID contextId = 1;
    for (const auto& offer : offers) {
      std::vector<const char*> syntaxes;
      for (const auto& uid : offer.syntaxUids) syntaxes.push_back(uid.c_str());
      // Role selection only when the SCP role is wanted; SCU alone is the default.
      T_ASC_SC_ROLE role = ASC_SC_ROLE_DEFAULT;
      if (offer.scpRole) role = offer.scuRole ? ASC_SC_ROLE_SCUSCP : ASC_SC_ROLE_SCP;
      if (ASC_addPresentationContext(params.get(), contextId, offer.sopClassUid.c_str(), syntaxes.data(),
                                     static_cast<int>(syntaxes.size()), role)
              .bad())
        return MC_SYSTEM_ERROR;
      contextId = static_cast<T_ASC_PresentationContextID>(contextId + 2);
    }
    setImplementation(params.get());
    // From here the association owns the parameters.
    const OFCondition cond = ASC_requestAssociation(a->network, params.release(), &a->association);
    if (cond.bad()) failRequest(cond, *a, where);
    a->acknowledged = true;
    tuneSocket(*a);
    *associationId = addAssociation(a);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_Association_Info(int associationId, MC_ASSOCIATION_INFO* info) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    if (!info) return MC_NULL_POINTER_PARM;
    std::lock_guard lock(a->mutex);
    *info = MC_ASSOCIATION_INFO{};
    const T_ASC_Parameters* params = a->association->params;
    copyText(info->CallingApTitle, sizeof info->CallingApTitle, trimmed(params->DULparams.callingAPTitle));
    copyText(info->CalledApTitle, sizeof info->CalledApTitle, trimmed(params->DULparams.calledAPTitle));
    copyText(info->RemoteImplementationClassUID, sizeof info->RemoteImplementationClassUID,
             params->theirImplementationClassUID);
    copyText(info->RemoteImplementationVersion, sizeof info->RemoteImplementationVersion,
             params->theirImplementationVersionName);
    info->MaxPduSize = params->theirMaxPDUReceiveSize;
    const int fd = socketOf(*a);
    sockaddr_in remote{}, local{};
    socklen_t length = sizeof remote;
    if (fd >= 0 && getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length) == 0) {
      char ip[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &remote.sin_addr, ip, sizeof ip);
      copyText(info->RemoteIPAddress, sizeof info->RemoteIPAddress, ip);
      info->RemotePort = ntohs(remote.sin_port);
    }
    length = sizeof local;
    if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
      info->LocalPort = ntohs(local.sin_port);
    // Host names are not looked up again: the name we called, or the address.
    copyText(info->RemoteHostName, sizeof info->RemoteHostName,
             a->requestor ? a->remoteHost : std::string(info->RemoteIPAddress));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_First_Acceptable_Service(int associationId, char* serviceName, int bufferSize,
                                          MC_TRANSFER_SYNTAX* syntax) {
  return guarded([&] { return nextAcceptable(associationId, serviceName, bufferSize, syntax, true); });
}

MC_STATUS MC_Get_Next_Acceptable_Service(int associationId, char* serviceName, int bufferSize,
                                         MC_TRANSFER_SYNTAX* syntax) {
  return guarded([&] { return nextAcceptable(associationId, serviceName, bufferSize, syntax, false); });
}

MC_STATUS MC_Close_Association(int associationId) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    MC_STATUS status = MC_NORMAL_COMPLETION;
    {
      std::lock_guard lock(a->mutex);
      if (!a->acknowledged) {
        // Neither accepted nor rejected yet: refuse it without a reason.
        T_ASC_RejectParameters reject{ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON};
        ASC_rejectAssociation(a->association, &reject);
      } else if (ASC_releaseAssociation(a->association).bad()) {
        // The peer did not answer in time (or is gone): abort instead.
        abortAssociation(*a);
        detailStatus = MC_ASSOCIATION_ABORTED;
        detailText = std::string(MC_Error_Message(MC_ASSOCIATION_ABORTED)) +
                     ": the peer did not confirm the release; the association was aborted";
        status = MC_ASSOCIATION_ABORTED;
      }
    }
    removeAssociation(associationId);
    return status;
  });
}

MC_STATUS MC_Abort_Association(int associationId) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    {
      std::lock_guard lock(a->mutex);
      abortAssociation(*a);
    }
    removeAssociation(associationId);
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"
