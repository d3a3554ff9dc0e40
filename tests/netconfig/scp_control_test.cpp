// StorageScpService: the storage service installed in a temporary registry
// and installation tree, started, stopped and queried through the object.
#include <cstdlib>

#include "cfg_support.h"
#include "../storscp/support.h"

namespace cfgtest {
namespace {

using namespace std::chrono_literals;
namespace st = storscp_test;

// Points the service manager and the installation root at a test tree for
// the life of the object.
class Environment {
 public:
  explicit Environment(const st::Installation& inst) {
    save("ZYL_SERVICE_ROOT", inst.registry().string());
    save("ZYL_DIR", inst.root().string());
  }
  ~Environment() {
    for (auto& [name, value] : saved_) value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }

 private:
  void save(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class ScpControl : public CfgTest {
 protected:
  std::string control(Variable& cfg, const std::string& operation) {
    return std::string(call(cfg, "StorageScpService", operation).text());
  }
  bool becomes(Variable& cfg, const std::string& text) {
    return st::WaitFor([&] { return control(cfg, "status") == text; }, 15s);
  }
  static st::ToolResult program(const st::Installation& inst, const std::string& argument) {
    return st::RunTool({st::ServiceProgram().string(), argument}, std::chrono::seconds(30),
                       {"ZYL_DIR=" + inst.root().string(), "ZYL_SERVICE_ROOT=" + inst.registry().string()});
  }
};

TEST_F(ScpControl, StartStopAndStatusOfTheInstalledService) {
  st::Settings settings;
  settings.port = st::FreePort();
  st::Installation inst(settings);
  Environment environment(inst);
  Variable cfg = makeCfg();

  EXPECT_EQ(control(cfg, "STATUS"), "failed, is ZYL Orvo Storage SCP service installed?");
  EXPECT_EQ(control(cfg, "stop"), "failed, is ZYL Orvo Storage SCP service installed?");

  program(inst, "/install");  // installs and starts
  struct Uninstall {
    const st::Installation& inst;
    ~Uninstall() { program(inst, "/uninstall"); }
  } uninstall{inst};
  ASSERT_TRUE(becomes(cfg, "service running")) << control(cfg, "status");
  EXPECT_EQ(control(cfg, "Status"), "service running");
  EXPECT_TRUE(zyl::test::WaitListening(settings.port, 15s));
  EXPECT_EQ(control(cfg, "start"), "service already running");

  const std::string stopped = control(cfg, "stop");
  EXPECT_TRUE(stopped == "service stopped" || stopped == "stop request issued") << stopped;
  // Until it has ended the service is stopping, never running, and a start
  // meanwhile waits for the end and then starts it.
  const std::string stopping = control(cfg, "status");
  EXPECT_TRUE(stopping == "service stop pending" || stopping == "service not running") << stopping;
  EXPECT_EQ(control(cfg, "start"), "start request issued");
  ASSERT_TRUE(becomes(cfg, "service running")) << control(cfg, "status");
  control(cfg, "stop");
  ASSERT_TRUE(becomes(cfg, "service not running")) << control(cfg, "status");
  EXPECT_EQ(control(cfg, "stop"), "service not running");

  EXPECT_EQ(control(cfg, "start"), "start request issued");
  ASSERT_TRUE(becomes(cfg, "service running")) << control(cfg, "status");
  EXPECT_TRUE(zyl::test::WaitListening(settings.port, 15s));
  control(cfg, "stop");
  EXPECT_TRUE(becomes(cfg, "service not running"));
}

TEST_F(ScpControl, ArgumentsAndTheControlPortAreCheckedFirst) {
  st::Settings settings;
  settings.port = st::FreePort();
  settings.storScpCtrlPort = std::nullopt;
  st::Installation inst(settings);
  Environment environment(inst);
  Variable cfg = makeCfg();
  EXPECT_TRUE(contains(errorOf(cfg, "StorageScpService", {Variable::ofInt32(1)}), "Error: Argument must be a string"));
  EXPECT_TRUE(contains(errorOf(cfg, "StorageScpService", {Variable::ofString("restart")}),
                       "Error: Invalid storage scp service parameter: , restart"));
  // Only the first six letters count.
  for (const char* operation : {"start", "stop", "STATUS", "statusplease"})
    EXPECT_TRUE(contains(
        errorOf(cfg, "StorageScpService", {Variable::ofString(operation)}),
        "Fatal Error reading StorScpCtrlPort in sys cfg file (file), " + (inst.systemDir() / "orvocfg.xml").string()))
        << operation;
}

}  // namespace
}  // namespace cfgtest
