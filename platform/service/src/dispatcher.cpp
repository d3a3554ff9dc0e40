// The running service's side: the dispatcher runs the service main on a
// thread of its own and turns SIGTERM and SIGINT into the stop control, which
// it hands to the registered control handler on its own thread. Status
// reports go to the entry when the manager started the process.
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

#include "entry.h"
#include "zyl/service.h"

namespace zyl::service {

using namespace detail;

namespace {

struct Dispatcher {
  std::mutex mutex;
  bool active = false;
  bool managed = false;
  std::string name;
  std::string folder;
  ControlHandler handler;
  Status last;
};

Dispatcher& dispatcher() {
  static Dispatcher d;
  return d;
}

constexpr long kSignalPollNanoseconds = 100'000'000;  // how often the dispatcher looks at the main

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int run(std::string_view name, const ServiceMain& main, bool managed, const std::string& folder) {
  {
    std::lock_guard lock(dispatcher().mutex);
    if (dispatcher().active) return kErrorServiceAlreadyRunning;
    dispatcher().active = true;
    dispatcher().managed = managed;
    dispatcher().name = std::string(name);
    dispatcher().folder = folder;
    dispatcher().handler = nullptr;
    dispatcher().last = Status{};
  }
  // The controls arrive as signals; every thread the service starts inherits
  // the blocked mask, so only this thread takes them.
  sigset_t controls, previous;
  sigemptyset(&controls);
  sigaddset(&controls, SIGTERM);
  sigaddset(&controls, SIGINT);
  pthread_sigmask(SIG_BLOCK, &controls, &previous);

  std::atomic<bool> ended{false};
  std::string argv0(name);
  std::thread serviceThread([&] {
    char* argv[] = {argv0.data(), nullptr};
    main(1, argv);
    ended = true;
  });

  bool stopPending = false;
  while (!ended) {
    const timespec wait{0, kSignalPollNanoseconds};
    const int sig = sigtimedwait(&controls, nullptr, &wait);
    if (sig == SIGTERM || sig == SIGINT) stopPending = true;
    if (stopPending) {
      ControlHandler handler;
      {
        std::lock_guard lock(dispatcher().mutex);
        handler = dispatcher().handler;
      }
      if (handler) {
        handler(Control::Stop);
        stopPending = false;
      }
    }
  }
  serviceThread.join();

  // Signals that came after the end are dropped, then the old mask returns.
  const timespec none{0, 0};
  while (sigtimedwait(&controls, nullptr, &none) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  std::lock_guard lock(dispatcher().mutex);
  dispatcher().active = false;
  dispatcher().handler = nullptr;
  return kOk;
}

}  // namespace

int StartDispatcher(std::string_view name, const ServiceMain& main) {
  const char* launched = std::getenv("ZYL_SERVICE_NAME");
  if (launched == nullptr || !sameName(launched, name)) return kErrorFailedServiceControllerConnect;
  const std::string folder = entryFolder(registryRoot(), name);
  const auto record = folder.empty() ? std::nullopt : readProcess(folder);
  if (!record || record->pid != ::getpid()) return kErrorFailedServiceControllerConnect;
  ::unsetenv("ZYL_SERVICE_NAME");  // not inherited by anything the service starts
  return run(name, main, true, folder);
}

int RunInForeground(std::string_view name, const ServiceMain& main) { return run(name, main, false, std::string{}); }

bool RegisterControlHandler(std::string_view name, ControlHandler handler) {
  std::lock_guard lock(dispatcher().mutex);
  if (!dispatcher().active || !sameName(dispatcher().name, name)) return false;
  dispatcher().handler = std::move(handler);
  return true;
}

int SetStatus(const Status& status) {
  std::lock_guard lock(dispatcher().mutex);
  if (!dispatcher().active) return kErrorInvalidHandle;
  dispatcher().last = status;
  if (!dispatcher().managed) return kOk;
  int error = kOk;
  {
    // The manager rewrites the status under this lock when it sends a stop.
    EntryLock entry(dispatcher().folder);
    error = writeStatus(dispatcher().folder, ::getpid(), status);
  }
  if (status.currentState == State::Stopped) reapDeleted(dispatcher().folder);
  return error;
}

}  // namespace zyl::service
