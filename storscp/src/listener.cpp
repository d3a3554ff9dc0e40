// The listener: one wait for an association per step, and the decision
// whether a new association thread may serve it.
#include <thread>

#include "state.h"
#include "toolkit/mc.h"

namespace zyl::storscp {

namespace {

constexpr int kWaitSeconds = 1;
constexpr int kMaxAssociationThreads = 6;

}  // namespace

StepResult ListenerStep() {
  ServiceState& s = State();
  if (!s.initialised && !StartUp()) return StepResult::Stop;

  int applicationId = 0;
  int associationId = 0;
  const MC_STATUS status =
      MC_Wait_For_Association(s.ownEntity.ServiceList.c_str(), kWaitSeconds, &applicationId, &associationId);
  switch (status) {
    case MC_TIMEOUT:
      return StepResult::Idle;
    case MC_UNKNOWN_HOST_CONNECTED:
      LogLine(
          "MC_Wait_For_Association returned MC_UNKNOWN_HOST_CONNECTED. err(%s). Not accepting "
          "association...continuing... ",
          MC_Error_Message(status));
      return StepResult::Idle;
    case MC_NEGOTIATION_ABORTED:
      LogLine(
          "MC_Wait_For_Association returned MC_NEGOTIATION_ABORTED. err(%s). Not accepting "
          "association...continuing...... ",
          MC_Error_Message(status));
      LogLine("This error can occur if you are trying to run more than one zyl_orvostorscp on the same machine.");
      return StepResult::Idle;
    case MC_NORMAL_COMPLETION:
      break;
    default:
      LogLine(
          "MC_Wait_For_Association returned an err. err #(%d), err(%s). Not accepting "
          "association...continuing...... ",
          static_cast<int>(status), MC_Error_Message(status));
      return StepResult::Idle;
  }
  if (applicationId != s.applicationId) {
    LogLine(
        "MC_Wait_For_Association returned and unexpected application id. Not accepting "
        "association...continuing....");
    return StepResult::Idle;
  }
  // A thread is counted here, before it starts, so that a burst of callers
  // cannot start more threads than the limit.
  int running = s.threadCount.load();
  if (running < 0) {
    s.threadCount.compare_exchange_strong(running, 0);
    running = 0;
  }
  while (true) {
    if (running >= kMaxAssociationThreads) {
      LogLine("Max Number of threads in service. Not accepting association...continuing.");
      MC_Reject_Association(associationId, MC_REJECT_LOCAL_LIMIT_EXCEEDED);
      return StepResult::Caller;
    }
    if (s.threadCount.compare_exchange_weak(running, running + 1)) break;
  }
  try {
    std::thread(AssociationThread, associationId).detach();
  } catch (const std::system_error&) {
    --s.threadCount;
    LogLine("Failed to create thread.");
    MC_Abort_Association(associationId);
  }
  return StepResult::Caller;
}

void WaitForAssociationThreads(int milliseconds) {
  for (int waited = 0; waited < milliseconds && State().threadCount.load() > 0; waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace zyl::storscp
