// Several service instances behind a TCP load balancer (HAProxy) share one
// storage folder. That is safe because every object is written into a depot
// file of its own, created exclusively and named after the writing process,
// and reaches its final name by an atomic rename; each instance's start-up
// removes only depot files whose writer's lock is gone. So instances never
// write into each other's files, and a reader sees whole objects only. (With
// depot files named by a per-process counter alone, the two instances meet in
// one depot file: this test then finds objects lost and stored under other
// objects' names.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support.h"

using namespace storscp_test;
using namespace std::chrono_literals;

namespace {

// The load balancer program, or an empty path when it is not installed.
fs::path LoadBalancerProgram() {
  std::string dirs = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  dirs += ":/usr/sbin:/usr/local/sbin";
  std::istringstream in(dirs);
  for (std::string dir; std::getline(in, dir, ':');) {
    const fs::path candidate = fs::path(dir) / "haproxy";
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// The set-up of docs/storscp.md: TCP mode, associations shared in turn, at
// most six per instance (its own limit; more wait in the balancer's queue),
// each instance health-checked by a connect on its port; idle timeouts kept
// short here so that a stuck association fails the test soon.
std::string LoadBalancerConfig(int frontPort, const std::vector<int>& backendPorts) {
  std::ostringstream c;
  c << "global\n  maxconn 64\n"
    << "defaults\n  mode tcp\n  timeout connect 2s\n  timeout client 10s\n  timeout server 10s\n"
    << "  timeout check 1s\n  timeout queue 10s\n"
    << "frontend storage\n  bind 127.0.0.1:" << frontPort << "\n  default_backend instances\n"
    << "backend instances\n  balance roundrobin\n";
  for (std::size_t i = 0; i < backendPorts.size(); ++i)
    c << "  server instance" << i + 1 << " 127.0.0.1:" << backendPorts[i] << " maxconn 6 check inter 1s\n";
  return c.str();
}

std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

constexpr int kSenders = 6;
constexpr int kObjectsPerSender = 500;
constexpr std::size_t kPixelBytes = 64 * 64;

std::string ObjectUid(int sender, int index) {
  return "1.2.826.0.1.3680043.10.998.20." + std::to_string(sender + 1) + "." + std::to_string(index + 1);
}
std::string PatientName(int sender, int index) {
  return "LB^S" + std::to_string(sender + 1) + "^" + std::to_string(index + 1);
}

}  // namespace

// Six storescu callers send 500 distinct objects each through the balancer
// to two instances on one folder: every object lands once, whole, under its
// own name, no depot file stays, and both instances stored some of them.
TEST(LoadBalancer, TwoInstancesOnOneFolderStoreEveryObjectOnceAndWhole) {
  const fs::path balancer = LoadBalancerProgram();
  if (balancer.empty()) GTEST_SKIP() << "haproxy is not installed (scripts/install-deps.sh)";

  TempDir shared;
  const fs::path storage = shared.path() / "storage";
  std::vector<std::unique_ptr<Installation>> installations;
  std::vector<std::unique_ptr<ServiceProcess>> instances;
  std::vector<int> ports;
  for (int i = 0; i < 2; ++i) {
    Settings settings;
    settings.port = FreePort();
    settings.storScpDir = storage.string();
    installations.push_back(std::make_unique<Installation>(settings));
    instances.push_back(std::make_unique<ServiceProcess>(*installations.back()));
    ports.push_back(settings.port);
  }
  for (const auto& instance : instances) ASSERT_TRUE(instance->waitListening());
  const int frontPort = FreePort();
  const fs::path config = shared.path() / "haproxy.cfg";
  std::ofstream(config) << LoadBalancerConfig(frontPort, ports);
  ChildProcess loadBalancer({balancer.string(), "-db", "-f", config.string()}, shared.path() / "haproxy.out");
  ASSERT_TRUE(WaitListening(frontPort, 15s));

  // Each sender's objects in a folder of its own, made by the test support.
  const fs::path sent = shared.path() / "sent";
  std::vector<std::vector<std::string>> files(kSenders);
  for (int s = 0; s < kSenders; ++s) {
    fs::create_directories(sent / std::to_string(s));
    for (int i = 0; i < kObjectsPerSender; ++i) {
      const fs::path file = sent / std::to_string(s) / (std::to_string(i) + ".dcm");
      std::ofstream(file, std::ios::binary) << Part10File(
          kSecondaryCapture, ObjectUid(s, i), SmallDataSet(ObjectUid(s, i), PatientName(s, i), kPixelBytes));
      files[s].push_back(file.string());
    }
  }

  std::vector<ToolResult> results(kSenders);
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&, s] {
      std::vector<std::string> args = {"storescu",     "-aet",      "ZYL_STOR_SCU",           "-aec",
                                       "ZYL_STOR_SCP", "127.0.0.1", std::to_string(frontPort)};
      args.insert(args.end(), files[s].begin(), files[s].end());
      results[s] = RunTool(args, std::chrono::seconds(120));
    });
  for (auto& sender : senders) sender.join();
  // Stopped together (each takes up to two seconds); the checks read files only.
  loadBalancer.stop();
  for (const auto& instance : instances) instance->stop();
  for (int s = 0; s < kSenders; ++s) {
    EXPECT_EQ(results[s].exitCode, 0) << "sender " << s << ": " << results[s].output;
    EXPECT_EQ(results[s].output.find("E:"), std::string::npos) << "sender " << s << ": " << results[s].output;
  }

  // Exactly the sent names, nothing left in the depot.
  std::set<std::string> expectedNames;
  for (int s = 0; s < kSenders; ++s)
    for (int i = 0; i < kObjectsPerSender; ++i) expectedNames.insert(ObjectUid(s, i) + ".dcm");
  const std::vector<std::string> names = FileNames(storage);
  EXPECT_EQ(names.size(), expectedNames.size());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expectedNames);
  EXPECT_EQ(DepotFiles(storage), std::vector<std::string>{});

  // pydicom reads every stored object: its UID (in the data set and the meta
  // group) is its name, its patient is the one sent with it, its pixels whole.
  const ToolResult read =
      RunTool({"/usr/bin/python3", "-c",
               "import pydicom,pathlib,sys\n"
               "for f in sorted(pathlib.Path(sys.argv[1]).glob('*.dcm')):\n"
               "  d=pydicom.dcmread(f)\n"
               "  print(f.name, d.SOPInstanceUID, d.file_meta.MediaStorageSOPInstanceUID, d.PatientName,\n"
               "        d.PixelData==b'Z'*int(sys.argv[2]))\n",
               storage.string(), std::to_string(kPixelBytes)},
              std::chrono::seconds(120));
  ASSERT_EQ(read.exitCode, 0) << read.output.substr(0, 2000);
  std::set<std::string> expectedLines;
  for (int s = 0; s < kSenders; ++s)
    for (int i = 0; i < kObjectsPerSender; ++i)
      expectedLines.insert(ObjectUid(s, i) + ".dcm " + ObjectUid(s, i) + " " + ObjectUid(s, i) + " " +
                           PatientName(s, i) + " True");
  std::set<std::string> foundLines;
  std::istringstream lines(read.output);
  for (std::string line; std::getline(lines, line);) foundLines.insert(line);
  EXPECT_EQ(foundLines, expectedLines);

  // A sample, attribute by attribute in dcmdump: the stored data set is the sent one.
  for (int s = 0; s < kSenders; ++s)
    for (int i = 0; i < kObjectsPerSender; i += 250) {
      const fs::path stored = storage / (ObjectUid(s, i) + ".dcm");
      EXPECT_EQ(DataSetDump(stored), DataSetDump(files[s][static_cast<std::size_t>(i)])) << stored;
    }

  // Both instances stored objects, and together all of them (one log line
  // per object: 1500 fit in an instance's two log files).
  std::size_t total = 0;
  for (const auto& installation : installations) {
    const std::size_t stored = Occurrences(installation->log(), "Writing file(");
    EXPECT_GT(stored, 0u) << installation->log().substr(0, 2000);
    total += stored;
  }
  EXPECT_EQ(total, expectedNames.size());
}
