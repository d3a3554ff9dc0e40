// Start-up: failures stop the service with their log line; the log picks its
// file at start; stale depot files go; the relative storage folder.
#include <gtest/gtest.h>

#include <fstream>

#include "support.h"

using namespace storscp_test;
using namespace std::chrono_literals;

namespace {

// Runs the service on a configuration and expects it to stop by itself.
std::string FailedStartLog(const Settings& settings, const std::optional<std::string>& rawXml = std::nullopt) {
  Installation inst(settings);
  if (rawXml) inst.writeConfig(*rawXml);
  ServiceProcess service(inst);
  const auto exit = service.waitExit(15s);
  EXPECT_TRUE(exit.has_value()) << "the service did not stop";
  if (exit) {
    EXPECT_EQ(*exit, 0);
  }
  EXPECT_FALSE(fs::exists(inst.storageDir() / "depot"));
  return inst.log() + "\ncfg=" + (inst.systemDir() / "orvocfg.xml").string();
}

std::string ConfigPath(const std::string& log) { return log.substr(log.rfind("\ncfg=") + 5); }

}  // namespace

TEST(StartUp, AMissingStorScpDirStopsTheService) {
  Settings settings;
  settings.port = FreePort();
  settings.storScpDir.reset();
  const std::string log = FailedStartLog(settings);
  const std::string cfg = ConfigPath(log);
  EXPECT_NE(log.find("ZYL Orvo Storage SCP Service Started"), std::string::npos) << log;
  EXPECT_NE(log.find("Failed to read StorScpDir from xml config file. cfg file(" + cfg +
                     "), err(Error: Failed to read Orvo Cfg param (StorScpDir) from (" + cfg + ")) \n"),
            std::string::npos)
      << log;
}

TEST(StartUp, AnEmptyStorScpDirStopsTheService) {
  Settings settings;
  settings.port = FreePort();
  settings.storScpDir = "";
  const std::string log = FailedStartLog(settings);
  EXPECT_NE(log.find("Error: StorScpDir config param is not set. cfg file(" + ConfigPath(log) + "), err() \n"),
            std::string::npos)
      << log;
}

TEST(StartUp, AMissingStorScpCtrlPortStopsTheService) {
  Settings settings;
  settings.port = FreePort();
  settings.storScpCtrlPort.reset();
  const std::string log = FailedStartLog(settings);
  const std::string cfg = ConfigPath(log);
  EXPECT_NE(log.find("Failed to read StorScpCtrlPort from xml config file. cfg file(" + cfg +
                     "), err(Error: Failed to read Orvo Cfg param (StorScpCtrlPort) from (" + cfg + "))"),
            std::string::npos)
      << log;
}

TEST(StartUp, AnUnreadableConfigurationStopsTheService) {
  Settings settings;
  settings.port = FreePort();
  const std::string log = FailedStartLog(settings, std::string("<OrvoConfiguration><StorScpDir>"));
  EXPECT_NE(
      log.find("Failed to load xml config file. cfg file(" + ConfigPath(log) + "), err(Error: Failed to load xml"),
      std::string::npos)
      << log;
}

TEST(StartUp, AnUnknownOwnEntityStopsTheService) {
  Settings settings;
  settings.port = FreePort();
  std::string xml = ConfigXml(settings);
  const std::string own = "<StorScpServiceAE>ZYL_AE_STOR_SCP<";
  xml.replace(xml.find(own), own.size(), "<StorScpServiceAE>NO_SUCH_ENTITY<");
  const std::string log = FailedStartLog(settings, xml);
  EXPECT_NE(log.find("Failed to read VEL_AE_STOR_SCP application entity from xml config file. cfg file("),
            std::string::npos)
      << log;
}

TEST(StartUp, TheLogContinuesInTheSecondFileWhenTheFirstIsFull) {
  Settings settings;
  settings.port = FreePort();
  Installation inst(settings);
  std::ofstream(inst.systemDir() / "storscp1.log") << std::string(250000, 'x');
  {
    ServiceProcess service(inst);
    ASSERT_TRUE(service.waitListening());
  }
  EXPECT_EQ(fs::file_size(inst.systemDir() / "storscp1.log"), 250000u);
  std::ifstream in(inst.systemDir() / "storscp2.log");
  std::string second((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(second.find(", -------------------------------------------------------------- \n"), std::string::npos);
  EXPECT_NE(second.find(", ZYL Orvo Storage SCP Service Started \n"), std::string::npos);
  EXPECT_NE(second.find("StorScpDir = (" + inst.storageDir().string() + "). cfg file("), std::string::npos) << second;
}

TEST(StartUp, StaleDepotFilesOfEndedProcessesAreRemoved) {
  Settings settings;
  settings.port = FreePort();
  Installation inst(settings);
  const fs::path depot = inst.storageDir() / "depot";
  fs::create_directories(depot);
  // pid 0x7FFFFFF0 never runs; the other file is not the service's.
  std::ofstream(depot / "2147483632-1-1.2.3.dcm.part") << "half";
  std::ofstream(depot / "notes.txt") << "keep";
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());
  EXPECT_EQ(FileNames(depot), std::vector<std::string>{"notes.txt"});
}
