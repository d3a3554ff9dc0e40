// The program's command line through the service manager, and stopping.
#include <gtest/gtest.h>

#include <thread>

#include "support.h"
#include "zyl/service.h"

using namespace storscp_test;
using namespace std::chrono_literals;
namespace svc = zyl::service;

namespace {

ToolResult Command(const Installation& inst, const std::string& argument) {
  return RunTool({ServiceProgram().string(), argument}, std::chrono::seconds(30),
                 {"ZYL_DIR=" + inst.root().string(), "ZYL_SERVICE_ROOT=" + inst.registry().string()});
}

// The installed service's state as the manager sees it; nullopt when absent.
std::optional<svc::State> InstalledState(const Installation& inst) {
  ::setenv("ZYL_SERVICE_ROOT", inst.registry().c_str(), 1);
  svc::Manager manager;
  svc::Service service;
  svc::Status status;
  if (svc::Manager::open(manager, svc::kManagerConnect) != svc::kOk ||
      manager.openService(service, "ZYL Orvo Storage SCP", svc::kServiceQueryStatus) != svc::kOk ||
      service.queryStatus(status) != svc::kOk)
    return std::nullopt;
  return status.currentState;
}

// Stops and removes whatever the test installed.
struct Uninstaller {
  const Installation& inst;
  ~Uninstaller() {
    Command(inst, "/uninstall");
    WaitFor([&] { return !InstalledState(inst).has_value(); }, 5s);
  }
};

}  // namespace

TEST(CommandLine, HelpAndUnknownArgumentsPrintTheUsage) {
  Settings settings;
  settings.port = FreePort();
  Installation inst(settings);
  for (const char* help : {"/help", "/?", "/HELP", "/Help"}) {
    const ToolResult r = Command(inst, help);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "Usage: zyl_orvostorscp </install | /uninstall>\n") << help;
  }
  for (const char* other : {"/x", "install", "-help"}) {
    const ToolResult r = Command(inst, other);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "Usage: zyl_orvostorscp </install | /uninstall | /help | /?>\n") << other;
  }
  EXPECT_FALSE(fs::exists(inst.registry()));
}

TEST(CommandLine, InstallStartsTheServiceAndUninstallRemovesIt) {
  Settings settings;
  settings.port = FreePort();
  Installation inst(settings);
  Uninstaller cleanup{inst};

  ToolResult r = Command(inst, "/install");
  EXPECT_EQ(r.output,
            "Attempting to install and start the service...\n"
            "SCM opened\n"
            "Service entry created\n"
            "Updated the service description\n"
            "Service started\n");
  EXPECT_TRUE(WaitFor([&] { return InstalledState(inst) == svc::State::Running; }, 5s));
  EXPECT_TRUE(WaitListening(settings.port, 15s));

  // Installing over the running service stops it, updates it and tries to
  // start it again while the old instance may still be stopping.
  r = Command(inst, "/INSTALL");
  EXPECT_EQ(r.output.rfind("Attempting to install and start the service...\n"
                           "SCM opened\n"
                           "Service entry already exists, error 1073\n"
                           "Service entry opened\n"
                           "Service stopped\n"
                           "Service entry updated\n"
                           "Updated the service description\n",
                           0),
            0u)
      << r.output;
  const bool started = r.output.ends_with("Service started\n") || r.output.ends_with("Service already running\n");
  EXPECT_TRUE(started) << r.output;
  // A stop is refused while a start is pending (1061), as the manager refuses
  // any control then: uninstall once the new start has settled.
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto state = InstalledState(inst);
        return state == svc::State::Running || state == svc::State::Stopped;
      },
      15s));

  r = Command(inst, "/Uninstall");
  EXPECT_EQ(r.output.rfind("Attempting to uninstall the service...\nSCM opened\nService entry opened\n", 0), 0u)
      << r.output;
  EXPECT_TRUE(r.output.ends_with("Service entry deleted\n") ||
              r.output.ends_with("Service entry already marked for deletion- you may need to reboot\n"))
      << r.output;
  EXPECT_TRUE(WaitFor([&] { return !InstalledState(inst).has_value(); }, 5s));
  r = Command(inst, "/uninstall");
  EXPECT_EQ(r.output, "Attempting to uninstall the service...\nSCM opened\nService not installed\n");
}

TEST(CommandLine, UninstallingAStoppedServicePrintsNotRunningAndDeletesIt) {
  Settings settings;
  settings.port = FreePort();
  settings.storScpDir.reset();  // start-up fails: the installed service stops by itself
  Installation inst(settings);
  Uninstaller cleanup{inst};
  Command(inst, "/install");
  ASSERT_TRUE(WaitFor([&] { return InstalledState(inst) == svc::State::Stopped; }, 10s));
  const ToolResult r = Command(inst, "/uninstall");
  EXPECT_EQ(r.output,
            "Attempting to uninstall the service...\nSCM opened\nService entry opened\nService not running\n"
            "Service entry deleted\n");
  // The entry goes as soon as the stopped program's process has ended.
  EXPECT_TRUE(WaitFor([&] { return !InstalledState(inst).has_value(); }, 5s));
}

TEST(Stopping, TheForegroundServiceStopsWithinTwoSecondsOfSigterm) {
  RunningService running(OnFreePort());
  ASSERT_TRUE(running.service.waitListening());
  std::this_thread::sleep_for(300ms);
  const auto asked = std::chrono::steady_clock::now();
  running.service.stop();
  const auto exit = running.service.waitExit(5s);
  ASSERT_TRUE(exit.has_value());
  EXPECT_EQ(*exit, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 3000ms);  // two seconds, and slack for a loaded machine
}

TEST(Stopping, TheInstalledServiceStopsWithinTwoSecondsOfTheStopControl) {
  Settings settings;
  settings.port = FreePort();
  Installation inst(settings);
  Uninstaller cleanup{inst};
  Command(inst, "/install");
  ASSERT_TRUE(WaitListening(settings.port, 15s));
  ::setenv("ZYL_SERVICE_ROOT", inst.registry().c_str(), 1);
  svc::Manager manager;
  ASSERT_EQ(svc::Manager::open(manager, svc::kManagerConnect), svc::kOk);
  svc::Service service;
  ASSERT_EQ(manager.openService(service, "zyl orvo storage scp", svc::kServiceStop | svc::kServiceQueryStatus),
            svc::kOk);
  svc::Status status;
  const auto asked = std::chrono::steady_clock::now();
  ASSERT_EQ(service.control(svc::Control::Stop, status), svc::kOk);
  EXPECT_TRUE(WaitFor(
      [&] { return service.queryStatus(status) == svc::kOk && status.currentState == svc::State::Stopped; }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 3000ms);  // two seconds, and slack for a loaded machine
  EXPECT_EQ(service.control(svc::Control::Stop, status), svc::kErrorServiceNotActive);
}
