// The service main and its control handler: report the states, run the
// listener once a second until the stop event or a failed start-up.
#include "service_main.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "state.h"
#include "zyl/service.h"

namespace zyl::storscp {

namespace svc = zyl::service;

namespace {

constexpr std::uint32_t kPendingWaitHintMs = 10000;
constexpr auto kStopWait = std::chrono::milliseconds(1000);

// An auto-reset event: a wait that sees it signalled clears it.
class StopEvent {
 public:
  void signal() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  // True when signalled within the time.
  bool waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const bool signalled = cv_.wait_for(lock, timeout, [this] { return signalled_; });
    signalled_ = false;
    return signalled;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

struct RunningService {
  std::mutex mutex;
  svc::Status status;
  StopEvent* stopEvent = nullptr;
};

RunningService& Running() {
  static RunningService running;
  return running;
}

void Report(svc::State state, std::uint32_t waitHint) {
  svc::Status copy;
  {
    std::lock_guard lock(Running().mutex);
    Running().status.currentState = state;
    Running().status.waitHint = waitHint;
    copy = Running().status;
  }
  svc::SetStatus(copy);
}

void ControlHandler(svc::Control control) {
  std::lock_guard lock(Running().mutex);
  if ((control == svc::Control::Stop || control == svc::Control::Shutdown) && Running().stopEvent != nullptr) {
    Running().stopEvent->signal();
    return;
  }
  svc::SetStatus(Running().status);
}

}  // namespace

void ServiceMain(int /*argc*/, char** /*argv*/) {
  {
    std::lock_guard lock(Running().mutex);
    Running().status = svc::Status{};
    Running().status.serviceType = svc::kServiceOwnProcess;
    Running().status.controlsAccepted = svc::kAcceptStop | svc::kAcceptShutdown;
    Running().status.waitHint = kPendingWaitHintMs;
  }
  if (!svc::RegisterControlHandler(kServiceName, ControlHandler)) return;
  Report(svc::State::StartPending, kPendingWaitHintMs);
  {
    StopEvent stopEvent;
    {
      std::lock_guard lock(Running().mutex);
      Running().stopEvent = &stopEvent;
    }
    Report(svc::State::Running, 0);
    // After a step that met a caller the next one follows at once (the
    // stop event is still looked at), so that callers are not held to one
    // association a second; after an idle or failed step the full wait keeps
    // a failing listener from spinning.
    StepResult last = StepResult::Idle;
    while (!stopEvent.waitFor(last == StepResult::Caller ? std::chrono::milliseconds(0) : kStopWait)) {
      last = ListenerStep();
      if (last == StepResult::Stop) break;
    }
    Report(svc::State::StopPending, kPendingWaitHintMs);
    std::lock_guard lock(Running().mutex);
    Running().stopEvent = nullptr;
  }
  Report(svc::State::Stopped, 0);
}

}  // namespace zyl::storscp
