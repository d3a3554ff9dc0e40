// The listening side: one socket on the configured port, kept open across
// calls; negotiation against a service list; accepting and rejecting.
//
// A thread of the listener accepts connections and watches each until its
// A-ASSOCIATE-RQ has arrived completely; callers that stay silent past the
// request time limit are dropped. MC_Wait_For_Association takes connections
// whose requests are complete and lets DCMTK read them, so one silent caller
// never holds up the others.
#include "../limits.h"
#include "net.h"

#include <dcmtk/dcmnet/dul.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <set>
#include <thread>
#include <utility>

namespace zyl::toolkit::net {
namespace {

using Clock = std::chrono::steady_clock;

// A socket descriptor, closed with its owner.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

// Accepts connections on its own thread and queues those whose association
// request has arrived. The thread stops and is joined when the object goes.
class Acceptor {
 public:
  Acceptor(Socket listening, int port, std::chrono::seconds requestLimit, Socket wakeRead, Socket wakeWrite)
      : listening_(std::move(listening)),
        wakeRead_(std::move(wakeRead)),
        wakeWrite_(std::move(wakeWrite)),
        port_(port),
        requestLimit_(requestLimit) {
    thread_ = std::thread([this] { run(); });
  }
  ~Acceptor() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    const char byte = 0;
    [[maybe_unused]] const auto n = ::write(wakeWrite_.get(), &byte, 1);
    if (thread_.joinable()) thread_.join();
  }
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;

  // Opens the listening socket; nullptr and `error` when that fails.
  static std::unique_ptr<Acceptor> open(int port, std::chrono::seconds requestLimit, std::string& error) {
    Socket listening(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listening) {
      error = std::strerror(errno);
      return nullptr;
    }
    const int on = 1;
    setsockopt(listening.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening.get(), SOMAXCONN) != 0) {
      error = std::strerror(errno);
      return nullptr;
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
      error = std::strerror(errno);
      return nullptr;
    }
    return std::make_unique<Acceptor>(std::move(listening), port, requestLimit, Socket(pipeEnds[0]),
                                      Socket(pipeEnds[1]));
  }

  int port() const { return port_; }

  // A connection whose association request has arrived, waiting up to `limit`.
  std::optional<Socket> take(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, limit, [&] { return !queue_.empty(); })) return std::nullopt;
    Socket socket = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    wake();  // room for more callers
    return socket;
  }

 private:
  struct Pending {
    Socket socket;
    Clock::time_point deadline;
    bool partial = false;  // some of the request has arrived
  };

  enum class RequestState { Waiting, Partial, Complete, Gone };

  void wake() {
    const char byte = 0;
    [[maybe_unused]] const auto n = ::write(wakeWrite_.get(), &byte, 1);
  }

  // Whether the A-ASSOCIATE-RQ (or whatever the caller sent) is there to read.
  static RequestState inspect(int fd) {
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0) return RequestState::Gone;
    if (available < 6) return available > 0 ? RequestState::Partial : RequestState::Waiting;
    unsigned char header[6];
    const auto n = ::recv(fd, header, sizeof header, MSG_PEEK | MSG_DONTWAIT);
    if (n != static_cast<ssize_t>(sizeof header)) return RequestState::Partial;
    // Anything but an association request goes to DCMTK at once, which refuses it.
    if (header[0] != 0x01) return RequestState::Complete;
    const std::uint32_t length = (std::uint32_t{header[2]} << 24) | (std::uint32_t{header[3]} << 16) |
                                 (std::uint32_t{header[4]} << 8) | std::uint32_t{header[5]};
    const auto have = static_cast<std::size_t>(available);
    if (have >= std::size_t{length} + 6 || have >= limits::kAssociateRequestReadyBytes) return RequestState::Complete;
    return RequestState::Partial;
  }

  void run() {
    std::vector<Pending> pending;
    std::vector<pollfd> fds;
    for (;;) {
      std::size_t queued = 0;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queued = queue_.size();
      }
      const bool room = pending.size() + queued < static_cast<std::size_t>(limits::kMaxPendingConnections);
      fds.clear();
      fds.push_back({wakeRead_.get(), POLLIN, 0});
      fds.push_back({room ? listening_.get() : -1, POLLIN, 0});
      auto now = Clock::now();
      auto wait = std::chrono::milliseconds(1000);
      for (const auto& p : pending) {
        // A partly arrived request is looked at again on a short tick, not
        // on every poll, so that its buffered bytes do not spin the loop.
        fds.push_back({p.socket.get(), static_cast<short>(p.partial ? POLLRDHUP : (POLLIN | POLLRDHUP)), 0});
        if (p.partial) wait = std::min(wait, std::chrono::milliseconds(20));
        wait = std::min(
            wait, std::chrono::ceil<std::chrono::milliseconds>(std::max(p.deadline - now, Clock::duration::zero())));
      }
      const int found = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
      if (found < 0 && errno != EINTR) return;
      if (fds[0].revents & POLLIN) {
        char drain[64];
        while (::read(wakeRead_.get(), drain, sizeof drain) > 0) {
        }
      }
      now = Clock::now();
      if (fds[1].revents & POLLIN) {
        for (std::size_t i = 0;
             i < 16 && pending.size() + queued < static_cast<std::size_t>(limits::kMaxPendingConnections); ++i) {
          Socket accepted(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
          if (!accepted) break;
          pending.push_back({std::move(accepted), now + requestLimit_, false});
        }
      }
      std::vector<Socket> complete;
      for (std::size_t i = 0; i < pending.size();) {
        Pending& p = pending[i];
        const RequestState state = inspect(p.socket.get());
        bool drop = false;
        if (state == RequestState::Complete) {
          complete.push_back(std::move(p.socket));
          drop = true;
        } else if (state == RequestState::Gone || now >= p.deadline) {
          drop = true;  // closes the connection
        } else {
          // A caller that hung up before its request was complete is gone.
          const auto it =
              std::find_if(fds.begin() + 2, fds.end(), [&](const pollfd& f) { return f.fd == p.socket.get(); });
          if (it != fds.end() && (it->revents & (POLLRDHUP | POLLHUP | POLLERR))) drop = true;
          p.partial = state == RequestState::Partial;
        }
        if (drop) {
          pending[i] = std::move(pending.back());
          pending.pop_back();
        } else {
          ++i;
        }
      }
      if (!complete.empty()) {
        {
          std::lock_guard lock(mutex_);
          for (auto& socket : complete) queue_.push_back(std::move(socket));
        }
        ready_.notify_all();
      }
    }
  }

  Socket listening_, wakeRead_, wakeWrite_;
  int port_;
  std::chrono::seconds requestLimit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Socket> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

struct Listener {
  std::mutex mutex;  // one waiter at a time
  std::unique_ptr<Acceptor> acceptor;
  // DCMTK's side: reads the requests of the connections we hand it.
  T_ASC_Network* network = nullptr;
  ~Listener() {
    acceptor.reset();  // stops and joins the accept thread
    if (network) ASC_dropNetwork(&network);
  }
};

Listener& listener() {
  static Listener instance;
  return instance;
}

// Hands an accepted connection to DCMTK, which reads its association request.
// The external socket setting is process-wide; only this listener accepts, and
// it does so under its mutex.
OFCondition receiveOn(Listener& l, Socket socket, T_ASC_Association** association) {
  struct Restore {
    ~Restore() { dcmExternalSocketHandle.set(DCMNET_INVALID_SOCKET); }
  } restore;
  dcmExternalSocketHandle.set(socket.get());
  if (!l.network) {
    // With the external socket set, DCMTK opens no listening socket of its own.
    const OFCondition cond =
        ASC_initializeNetwork(NET_ACCEPTOR, 0, configuredSeconds(MC_CFG_REQUEST_TIMEOUT), &l.network);
    if (cond.bad()) {
      l.network = nullptr;
      return cond;
    }
  }
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(socket.get(), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
    return DUL_NOASSOCIATIONREQUEST;  // the caller has gone; the socket closes here
  // From here DCMTK's connection owns the descriptor.
  socket.release();
  return ASC_receiveAssociation(l.network, association, limits::kMaxReceivePduSize, nullptr, nullptr, OFFalse,
                                DUL_NOBLOCK, 0);
}

void reject(T_ASC_Association* association, T_ASC_RejectParametersResult result, T_ASC_RejectParametersSource source,
            T_ASC_RejectParametersReason reason) {
  T_ASC_RejectParameters parameters{result, source, reason};
  ASC_rejectAssociation(association, &parameters);
}

// Accepts every context whose SOP class the list offers, with the first of the
// caller's transfer syntaxes that the service allows. Returns how many.
int negotiate(T_ASC_Parameters* params, const std::vector<ContextOffer>& offers) {
  int accepted = 0;
  const int count = ASC_countPresentationContexts(params);
  for (int i = 0; i < count; ++i) {
    T_ASC_PresentationContext pc;
    if (ASC_getPresentationContext(params, i, &pc).bad()) continue;
    std::set<std::string> allowed;
    for (const auto& offer : offers)
      if (offer.sopClassUid == pc.abstractSyntax) allowed.insert(offer.syntaxUids.begin(), offer.syntaxUids.end());
    if (allowed.empty()) {
      ASC_refusePresentationContext(params, pc.presentationContextID, ASC_P_ABSTRACTSYNTAXNOTSUPPORTED);
      continue;
    }
    const char* chosen = nullptr;
    for (int k = 0; k < pc.transferSyntaxCount && !chosen; ++k)
      if (allowed.count(pc.proposedTransferSyntaxes[k])) chosen = pc.proposedTransferSyntaxes[k];
    if (!chosen) {
      ASC_refusePresentationContext(params, pc.presentationContextID, ASC_P_TRANSFERSYNTAXESNOTSUPPORTED);
      continue;
    }
    if (ASC_acceptPresentationContext(params, pc.presentationContextID, chosen).good()) ++accepted;
  }
  return accepted;
}

int listenPort() {
  char text[32] = {};
  if (MC_Get_String_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, sizeof text, text) != MC_NORMAL_COMPLETION)
    fail(MC_CONFIG_INFO_ERROR);
  const int port = std::atoi(text);
  if (port <= 0 || port > 65535) fail(MC_INVALID_PORT_NUMBER);
  return port;
}

}  // namespace
}  // namespace zyl::toolkit::net

using namespace zyl::toolkit;
using namespace zyl::toolkit::net;

extern "C" {

MC_STATUS MC_Wait_For_Association(const char* serviceListName, int timeoutSeconds, int* applicationId,
                                  int* associationId) {
  return guarded([&] {
    requireInitialized();
    if (!serviceListName || !applicationId || !associationId) return MC_NULL_POINTER_PARM;
    if (timeoutSeconds < 0) return MC_MUST_BE_POSITIVE;
    const std::vector<ContextOffer> offers = resolveServiceList(serviceListName);
    prepareNetwork();
    auto a = std::make_shared<Association>();
    {
      Listener& l = listener();
      std::lock_guard lock(l.mutex);
      const int port = listenPort();
      if (!l.acceptor || l.acceptor->port() != port) {
        l.acceptor.reset();
        std::string error;
        l.acceptor = Acceptor::open(port, std::chrono::seconds(configuredSeconds(MC_CFG_REQUEST_TIMEOUT)), error);
        if (!l.acceptor)
          failWith(MC_NEGOTIATION_ABORTED, "cannot listen on TCP port " + std::to_string(port) + " (" + error + ")");
      }
      const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
      OFCondition cond = DUL_NOASSOCIATIONREQUEST;
      do {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(std::max(deadline - Clock::now(), Clock::duration::zero()));
        std::optional<Socket> caller = l.acceptor->take(left);
        if (!caller) return MC_TIMEOUT;
        cond = receiveOn(l, std::move(*caller), &a->association);
        // A caller that went away before it could be read is skipped.
      } while (cond == DUL_NOASSOCIATIONREQUEST && !a->association);
      if (cond.bad()) {
        if (cond.code() == DULC_READTIMEOUT)
          failWith(MC_NEGOTIATION_ABORTED, "a caller sent no complete association request in time");
        failWith(MC_NEGOTIATION_ABORTED, "the association request failed (" + std::string(cond.text()) + ")");
      }
    }
    T_ASC_Parameters* params = a->association->params;
    const std::string called = trimmed(params->DULparams.calledAPTitle);
    const std::string calling = trimmed(params->DULparams.callingAPTitle);
    auto application = IdTable::instance().findApplication(called);
    if (!application) {
      reject(a->association, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
             ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED);
      failWith(MC_UNKNOWN_HOST_CONNECTED,
               "caller " + calling + " asked for AE title " + called + ", which no application registered");
    }
    if (associationCount() >= limits::kMaxAssociations) {
      reject(a->association, ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
             ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED);
      failWith(MC_LIMIT_EXCEEDED, "too many associations open at once; caller " + calling + " rejected");
    }
    if (negotiate(params, offers) == 0) {
      reject(a->association, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON);
      failWith(MC_NEGOTIATION_ABORTED,
               "caller " + calling + " proposed no service of list " + std::string(serviceListName));
    }
    setImplementation(params);
    a->applicationId = *application;
    *associationId = addAssociation(a);
    *applicationId = *application;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Accept_Association(int associationId) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    std::unique_lock lock(a->mutex);
    if (a->requestor || a->acknowledged) return MC_STATE_VIOLATION;
    const OFCondition cond = ASC_acknowledgeAssociation(a->association);
    if (cond.bad()) {
      lock.unlock();
      removeAssociation(associationId);
      failWith(MC_ASSOCIATION_ABORTED, "cannot send the acceptance (" + std::string(cond.text()) + ")");
    }
    a->acknowledged = true;
    tuneSocket(*a);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Reject_Association(int associationId, MC_REJECT_REASON reason) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    T_ASC_RejectParameters parameters{};
    switch (reason) {
      case MC_REJECT_NO_REASON_GIVEN:
        parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON};
        break;
      case MC_REJECT_APPLICATION_CONTEXT_NOT_SUPPORTED:
        parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED};
        break;
      case MC_REJECT_CALLING_AE_NOT_RECOGNIZED:
        parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED};
        break;
      case MC_REJECT_CALLED_AE_NOT_RECOGNIZED:
        parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED};
        break;
      case MC_REJECT_PROTOCOL_VERSION_NOT_SUPPORTED:
        parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEPROVIDER_ACSE_RELATED,
                      ASC_REASON_SP_ACSE_PROTOCOLVERSIONNOTSUPPORTED};
        break;
      case MC_REJECT_TEMPORARY_CONGESTION:
        parameters = {ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                      ASC_REASON_SP_PRES_TEMPORARYCONGESTION};
        break;
      case MC_REJECT_LOCAL_LIMIT_EXCEEDED:
        parameters = {ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                      ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
        break;
      default:
        return MC_VALUE_OUT_OF_RANGE;
    }
    {
      std::lock_guard lock(a->mutex);
      if (a->requestor || a->acknowledged) return MC_STATE_VIOLATION;
      ASC_rejectAssociation(a->association, &parameters);
    }
    removeAssociation(associationId);
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"
