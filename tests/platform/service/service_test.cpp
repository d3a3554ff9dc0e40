// The service manager against a temporary registry.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/process.h"
#include "support/temp_dir.h"
#include "zyl/service.h"

namespace fs = std::filesystem;
namespace svc = zyl::service;
using namespace std::chrono_literals;

namespace {

using zyl::test::WaitFor;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    root_ = dir_ / "registry";
    marker_ = dir_ / "marker";
    ::setenv(svc::kRootVariable, root_.c_str(), 1);
  }
  void TearDown() override {
    // Stop every program a test left running: its pid is in the marker.
    const std::string text = ReadText(marker_);
    if (const auto space = text.find(' '); space != std::string::npos) {
      const pid_t pid = std::stoi(text.substr(space + 1));
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) WaitFor([&] { return ::kill(pid, 0) != 0; }, 2s);
    }
    ::unsetenv(svc::kRootVariable);
  }

  svc::Config ProgramConfig(const std::string& name) const {
    svc::Config config;
    config.binaryPath = "\"" + std::string(ZYL_SERVICE_TEST_PROGRAM) + "\" " + name + " " + marker_.string();
    config.displayName = name + " display";
    return config;
  }

  // Whether the program reports within five seconds that it runs managed
  // ("managed <pid>" in the marker), and that pid.
  bool WaitManaged() const {
    return WaitFor([&] { return ReadText(marker_).rfind("managed ", 0) == 0; }, 5s);
  }
  pid_t ManagedPid() const { return std::stoi(ReadText(marker_).substr(8)); }

  // Opens the manager, creates the service `name` running the test program and
  // starts it; `pid` is the program's once it runs.
  void CreateAndStart(svc::Manager& manager, svc::Service& service, const std::string& name, pid_t& pid) {
    ASSERT_EQ(svc::Manager::open(manager, svc::kManagerAllAccess), svc::kOk);
    ASSERT_EQ(manager.createService(service, name, ProgramConfig(name), svc::kServiceAllAccess), svc::kOk);
    ASSERT_EQ(service.start(), svc::kOk);
    ASSERT_TRUE(WaitManaged()) << ReadText(marker_);
    pid = ManagedPid();
  }

  svc::State StateOf(svc::Service& service) {
    svc::Status status;
    EXPECT_EQ(service.queryStatus(status), svc::kOk);
    return status.currentState;
  }

  zyl::test::TempDir temp_{"zylservice"};
  fs::path dir_, root_, marker_;
};

}  // namespace

TEST_F(Registry, EntriesAreCreatedOpenedAndDeletedByNameInAnyCase) {
  svc::Manager manager;
  ASSERT_EQ(svc::Manager::open(manager, svc::kManagerAllAccess), svc::kOk);
  EXPECT_TRUE(fs::is_directory(root_));
  svc::Service service;
  ASSERT_EQ(manager.createService(service, "Test Service", ProgramConfig("Test Service"), svc::kServiceAllAccess),
            svc::kOk);
  EXPECT_EQ(manager.createService(service, "TEST SERVICE", ProgramConfig("x"), svc::kServiceAllAccess),
            svc::kErrorServiceExists);
  EXPECT_EQ(manager.createService(service, "Other", ProgramConfig("Test Service"), svc::kServiceAllAccess),
            svc::kErrorDuplicateServiceName);

  ASSERT_EQ(manager.openService(service, "test service", svc::kServiceAllAccess), svc::kOk);
  EXPECT_EQ(service.name(), "Test Service");
  EXPECT_EQ(service.changeDescription("What it does."), svc::kOk);
  svc::Config changed = ProgramConfig("Test Service");
  changed.startType = svc::kStartAuto;
  EXPECT_EQ(service.changeConfig(changed), svc::kOk);
  svc::Config read;
  ASSERT_EQ(service.queryConfig(read), svc::kOk);
  EXPECT_EQ(read.startType, svc::kStartAuto);
  EXPECT_EQ(read.binaryPath, changed.binaryPath);
  EXPECT_EQ(service.description(), "What it does.");
  EXPECT_EQ(StateOf(service), svc::State::Stopped);

  svc::Status status;
  EXPECT_EQ(service.control(svc::Control::Stop, status), svc::kErrorServiceNotActive);
  EXPECT_EQ(service.remove(), svc::kOk);
  EXPECT_EQ(manager.openService(service, "Test Service", svc::kServiceQueryStatus), svc::kErrorServiceDoesNotExist);
  EXPECT_EQ(manager.openService(service, "a/b", svc::kServiceQueryStatus), svc::kErrorInvalidName);
  EXPECT_EQ(manager.openService(service, "..", svc::kServiceQueryStatus), svc::kErrorInvalidName);
}

TEST_F(Registry, RightsNotAskedForAreDenied) {
  svc::Manager manager;
  ASSERT_EQ(svc::Manager::open(manager, svc::kManagerAllAccess), svc::kOk);
  svc::Service service;
  ASSERT_EQ(manager.createService(service, "Rights", ProgramConfig("Rights"), svc::kServiceAllAccess), svc::kOk);
  ASSERT_EQ(manager.openService(service, "Rights", svc::kServiceQueryStatus), svc::kOk);
  svc::Status status;
  EXPECT_EQ(service.start(), svc::kErrorAccessDenied);
  EXPECT_EQ(service.control(svc::Control::Stop, status), svc::kErrorAccessDenied);
  EXPECT_EQ(service.remove(), svc::kErrorAccessDenied);
  EXPECT_EQ(service.changeDescription("no"), svc::kErrorAccessDenied);
  svc::Manager connectOnly;
  ASSERT_EQ(svc::Manager::open(connectOnly, svc::kManagerConnect), svc::kOk);
  EXPECT_EQ(connectOnly.createService(service, "New", ProgramConfig("New"), svc::kServiceAllAccess),
            svc::kErrorAccessDenied);
}

TEST_F(Registry, AnUnprivilegedUserCannotOpenASystemRegistryForChanges) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  fs::create_directories(root_);
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    svc::Manager manager;
    const int all = svc::Manager::open(manager, svc::kManagerAllAccess);
    const int connect = svc::Manager::open(manager, svc::kManagerConnect);
    ::_exit(all == svc::kErrorAccessDenied && connect == svc::kOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Registry, StartRunsTheProgramDetachedAndStopEndsIt) {
  svc::Manager manager;
  svc::Service service;
  pid_t pid = 0;
  ASSERT_NO_FATAL_FAILURE(CreateAndStart(manager, service, "Runner", pid));
  EXPECT_NE(::getsid(pid), ::getsid(0));  // a session of its own, away from the caller's terminal
  EXPECT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Running; }, 5s));
  EXPECT_EQ(service.start(), svc::kErrorServiceAlreadyRunning);

  // Deleting a running service marks it; the entry goes when it stops.
  EXPECT_EQ(service.remove(), svc::kOk);
  EXPECT_EQ(service.remove(), svc::kErrorServiceMarkedForDelete);
  EXPECT_EQ(manager.createService(service, "Runner", ProgramConfig("Runner"), svc::kServiceAllAccess),
            svc::kErrorServiceMarkedForDelete);
  ASSERT_EQ(manager.openService(service, "Runner", svc::kServiceAllAccess), svc::kOk);
  EXPECT_EQ(service.start(), svc::kErrorServiceMarkedForDelete);

  svc::Status status;
  ASSERT_EQ(service.control(svc::Control::Stop, status), svc::kOk);
  EXPECT_TRUE(WaitFor([&] { return ReadText(marker_) == "stopped"; }, 5s));
  EXPECT_TRUE(WaitFor([&] { return ::kill(pid, 0) != 0; }, 5s));
  EXPECT_TRUE(WaitFor(
      [&] {
        return manager.openService(service, "Runner", svc::kServiceQueryStatus) == svc::kErrorServiceDoesNotExist;
      },
      5s));
}

TEST_F(Registry, AProgramThatDiedIsSeenAsStoppedAndCanStartAgain) {
  svc::Manager manager;
  svc::Service service;
  pid_t pid = 0;
  ASSERT_NO_FATAL_FAILURE(CreateAndStart(manager, service, "Crasher", pid));
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Stopped; }, 5s));
  svc::Status status;
  EXPECT_EQ(service.control(svc::Control::Stop, status), svc::kErrorServiceNotActive);
  fs::remove(marker_);
  EXPECT_EQ(service.start(), svc::kOk);
  EXPECT_TRUE(WaitManaged());
}

// A program that reported stopped but has not exited yet does not keep its
// successor from starting: the caller was told the service is not running.
TEST_F(Registry, AStoppedProgramStillExitingDoesNotBlockTheNextStart) {
  svc::Manager manager;
  ASSERT_EQ(svc::Manager::open(manager, svc::kManagerAllAccess), svc::kOk);
  svc::Service service;
  svc::Config config = ProgramConfig("Lingerer");
  config.binaryPath += " 3000";
  ASSERT_EQ(manager.createService(service, "Lingerer", config, svc::kServiceAllAccess), svc::kOk);
  ASSERT_EQ(service.start(), svc::kOk);
  ASSERT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Running; }, 5s));
  const pid_t first = ManagedPid();
  svc::Status status;
  ASSERT_EQ(service.control(svc::Control::Stop, status), svc::kOk);
  ASSERT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Stopped; }, 5s));
  ASSERT_EQ(::kill(first, 0), 0);  // still lingering
  fs::remove(marker_);
  EXPECT_EQ(service.start(), svc::kOk);
  ASSERT_TRUE(WaitManaged());
  EXPECT_NE(ManagedPid(), first);
  EXPECT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Running; }, 5s));
  ASSERT_EQ(service.control(svc::Control::Stop, status), svc::kOk);
  EXPECT_TRUE(WaitFor([&] { return ::kill(first, 0) != 0; }, 6s));
}

// Between the stop and the program's next report the service is stop
// pending, never running; a start meanwhile waits for the stop to end and
// then starts, unless the stop outlasts the program's wait hint.
TEST_F(Registry, AStartDuringAPendingStopWaitsForItOrSaysWhyNot) {
  svc::Manager manager;
  ASSERT_EQ(svc::Manager::open(manager, svc::kManagerAllAccess), svc::kOk);
  struct Case {
    const char* name;
    const char* stopTimes;  // STOP_MS and STOP_HINT_MS of the program
    int startResult;
  };
  const Case cases[] = {{"Slow", "0 700", svc::kOk}, {"Slower", "0 1500 300", svc::kErrorServiceCannotAcceptControl}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    svc::Service service;
    svc::Config config = ProgramConfig(c.name);
    config.binaryPath += std::string(" ") + c.stopTimes;
    ASSERT_EQ(manager.createService(service, c.name, config, svc::kServiceAllAccess), svc::kOk);
    fs::remove(marker_);
    ASSERT_EQ(service.start(), svc::kOk);
    ASSERT_TRUE(WaitManaged());
    const pid_t first = ManagedPid();
    ASSERT_EQ(StateOf(service), svc::State::Running);
    svc::Status status;
    ASSERT_EQ(service.control(svc::Control::Stop, status), svc::kOk);
    EXPECT_EQ(status.currentState, svc::State::StopPending);
    EXPECT_EQ(StateOf(service), svc::State::StopPending);
    EXPECT_EQ(service.start(), c.startResult);
    if (c.startResult == svc::kOk) {
      // The first program has ended; its successor runs.
      ASSERT_TRUE(WaitManaged());
      EXPECT_NE(ManagedPid(), first);
      EXPECT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Running; }, 5s));
      ASSERT_EQ(service.control(svc::Control::Stop, status), svc::kOk);
    }
    EXPECT_TRUE(WaitFor([&] { return StateOf(service) == svc::State::Stopped; }, 10s));
    EXPECT_TRUE(WaitFor([&] { return ::kill(first, 0) != 0; }, 5s));
    ASSERT_EQ(service.remove(), svc::kOk);
  }
}

TEST_F(Registry, StartFailsForAMissingProgramOrADisabledService) {
  svc::Manager manager;
  ASSERT_EQ(svc::Manager::open(manager, svc::kManagerAllAccess), svc::kOk);
  svc::Service service;
  svc::Config missing = ProgramConfig("Missing");
  missing.binaryPath = "\"" + (dir_ / "no" / "program").string() + "\"";
  ASSERT_EQ(manager.createService(service, "Missing", missing, svc::kServiceAllAccess), svc::kOk);
  EXPECT_EQ(service.start(), svc::kErrorPathNotFound);
  EXPECT_EQ(StateOf(service), svc::State::Stopped);
  svc::Config disabled = ProgramConfig("Disabled");
  disabled.startType = svc::kStartDisabled;
  ASSERT_EQ(manager.createService(service, "Disabled", disabled, svc::kServiceAllAccess), svc::kOk);
  EXPECT_EQ(service.start(), svc::kErrorServiceDisabled);
}

TEST_F(Registry, TheDispatcherRefusesAProcessTheManagerDidNotStart) {
  ::setenv("ZYL_SERVICE_NAME", "Impostor", 1);
  bool ran = false;
  EXPECT_EQ(svc::StartDispatcher("Impostor", [&](int, char**) { ran = true; }),
            svc::kErrorFailedServiceControllerConnect);
  ::unsetenv("ZYL_SERVICE_NAME");
  EXPECT_FALSE(ran);
}

TEST_F(Registry, TheForegroundRunTakesSigtermAsTheStopControl) {
  for (int sig : {SIGTERM, SIGINT}) {
    fs::remove(marker_);
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl(ZYL_SERVICE_TEST_PROGRAM, ZYL_SERVICE_TEST_PROGRAM, "Foreground", marker_.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_TRUE(WaitFor([&] { return ReadText(marker_).rfind("foreground ", 0) == 0; }, 5s));
    ::kill(child, sig);
    int status = -1;
    const bool ended = WaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5s);
    if (!ended) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sig;
    EXPECT_EQ(ReadText(marker_), "stopped");
  }
}
