// A service program for the tests:
// `test_program NAME MARKER [LINGER_MS [STOP_MS [STOP_HINT_MS]]]`
// runs the service NAME under the manager, or in the foreground when started
// directly. It reports start pending, running, then waits for the stop
// control and reports stop pending and stopped. It writes "<how> <pid>" into
// MARKER when running and "stopped" when done; with LINGER_MS it stays that
// long after reporting stopped, as a program still cleaning up would; with
// STOP_MS it takes that long between seeing the stop and reporting stop
// pending (with STOP_HINT_MS as its wait hint), and as long again before it
// reports stopped.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

#include "zyl/service.h"

namespace svc = zyl::service;

namespace {
std::string name, marker;
std::atomic<bool> stopAsked{false};
int lingerMs = 0;
int stopMs = 0;
std::uint32_t stopHintMs = 0;
bool underManager = true;

void Main(int, char**) {
  if (!svc::RegisterControlHandler(name, [](svc::Control c) {
        if (c == svc::Control::Stop || c == svc::Control::Shutdown) stopAsked = true;
      }))
    return;
  svc::Status status;
  status.controlsAccepted = svc::kAcceptStop | svc::kAcceptShutdown;
  status.currentState = svc::State::StartPending;
  status.waitHint = 10000;
  svc::SetStatus(status);
  status.currentState = svc::State::Running;
  status.waitHint = 0;
  svc::SetStatus(status);
  std::ofstream(marker) << (underManager ? "managed " : "foreground ") << ::getpid() << "\n";
  for (int i = 0; i < 600 && !stopAsked; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(stopMs));
  status.currentState = svc::State::StopPending;
  status.waitHint = stopHintMs;
  svc::SetStatus(status);
  std::this_thread::sleep_for(std::chrono::milliseconds(stopMs));
  status.currentState = svc::State::Stopped;
  svc::SetStatus(status);
  std::ofstream(marker) << "stopped\n";
  std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  name = argv[1];
  marker = argv[2];
  if (argc > 3) lingerMs = std::stoi(argv[3]);
  if (argc > 4) stopMs = std::stoi(argv[4]);
  if (argc > 5) stopHintMs = static_cast<std::uint32_t>(std::stoul(argv[5]));
  if (svc::StartDispatcher(name, Main) == svc::kErrorFailedServiceControllerConnect) {
    underManager = false;
    svc::RunInForeground(name, Main);
  }
  return 0;
}
