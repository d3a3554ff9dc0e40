// C-STORE over one association, loopback: the toolkit's network side against
// DCMTK's storescu and storescp.
//
//   net_bench [objects] [runs] [cases]   (defaults: 300 objects, 5 runs, all cases)
//
// `cases` is a comma-separated subset of the names below, e.g. "client_ig"
// to profile our client alone.
//
// Makes <objects> secondary-capture objects of 0.5 MB (512 x 512 x 16 bits,
// explicit VR little endian, each with its own instance UID) in a temporary
// folder, then in every run:
//   dcmtk     storescu -> storescp -od <folder>   (the reference)
//   client    our client -> storescp -od <folder>
//   dcmtk_ig  storescu -> storescp --ignore       (the receiver keeps nothing)
//   client_ig our client -> storescp --ignore
//   client_ig_wf  the same, the client handing each file to MC_Open_File in
//             one piece (read into memory inside the timing)
//   server    storescu -> our listener, which answers every store and keeps
//             nothing: compared with dcmtk_ig
//   startup   storescu sending one object to storescp --ignore
// Our client opens each file through MC_Open_File (64 KiB pieces read from
// disk), sends it and reads the response, all inside the timing, as storescu
// does. storescu is timed from spawn to exit, so its start-up (about the
// `startup` time) counts against it. Besides wall time, the CPU time of the
// sender and of the receiver is measured (getrusage), which the load of a
// shared machine disturbs much less. Every DCMTK program runs with
// TCP_NODELAY=1; each peer is started on a free loopback port and stopped at
// the end of its case.
#include "toolkit/mc.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void die(const std::string& what) { throw std::runtime_error(what); }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ------------------------------------------------------------------ processes

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "net_bench_XXXXXX").string();
    if (!mkdtemp(pattern.data())) die("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A child process; stopped (SIGTERM, then SIGKILL) when the object goes.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) die("cannot start " + argv[0]);
  }
  ~Process() {
    if (done_) return;
    kill(pid_, SIGTERM);
    if (wait(3s) < 0 && !done_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Waits up to `limit`; the exit code, or -1 when still running or killed.
  int wait(Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (!done_) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        done_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (Clock::now() > end) return -1;
      std::this_thread::sleep_for(200us);
    }
    return code_;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int code_ = -1;
};

int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    die("no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool waitForPort(int port) {
  for (int i = 0; i < 200; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(25ms);
  }
  return false;
}

// Whether a socket listens on the loopback or any address at `port`.
bool listening(int port) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  for (int i = 0; i < 200; ++i) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
      // "sl local_address rem_address st ...": state 0A is LISTEN.
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state == "0A" && local.ends_with(suffix)) return true;
    }
    std::this_thread::sleep_for(25ms);
  }
  return false;
}

// ------------------------------------------------------------------ objects

std::vector<fs::path> makeObjects(const fs::path& folder, int count) {
  fs::create_directories(folder);
  std::vector<Uint16> pixels(512 * 512);
  std::mt19937 random(7);
  for (auto& p : pixels) p = static_cast<Uint16>(random() & 0x0FFF);
  char study[100], series[100];
  dcmGenerateUniqueIdentifier(study);
  dcmGenerateUniqueIdentifier(series);
  std::vector<fs::path> files;
  for (int i = 0; i < count; ++i) {
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    char uid[100];
    ds->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
    ds->putAndInsertString(DCM_StudyInstanceUID, study);
    ds->putAndInsertString(DCM_SeriesInstanceUID, series);
    ds->putAndInsertString(DCM_Modality, "OT");
    ds->putAndInsertString(DCM_PatientName, "BENCH^OBJECT");
    ds->putAndInsertString(DCM_PatientID, "BENCH");
    ds->putAndInsertString(DCM_InstanceNumber, std::to_string(i + 1).c_str());
    ds->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    ds->putAndInsertUint16(DCM_Rows, 512);
    ds->putAndInsertUint16(DCM_Columns, 512);
    ds->putAndInsertUint16(DCM_BitsAllocated, 16);
    ds->putAndInsertUint16(DCM_BitsStored, 16);
    ds->putAndInsertUint16(DCM_HighBit, 15);
    ds->putAndInsertUint16(DCM_PixelRepresentation, 0);
    ds->putAndInsertUint16Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    files.push_back(folder / (std::to_string(i) + ".dcm"));
    if (file.saveFile(files.back().c_str(), EXS_LittleEndianExplicit).bad())
      die("cannot write " + files.back().string());
  }
  return files;
}

// ------------------------------------------------------------------ toolkit

int g_application = 0;     // our client's application
int g_scpApplication = 0;  // our listener's application ("NET_SCP")
int g_listenPort = 0;

void initToolkit() {
  const std::string ini = std::string(ZYL_TOOLKIT_RESOURCES) + "/merge.ini";
  if (MC_Set_MergeINI(ini.c_str()) != MC_NORMAL_COMPLETION) die("MC_Set_MergeINI " + ini);
  if (MC_Library_Initialization(nullptr, nullptr, nullptr) != MC_NORMAL_COMPLETION) die("MC_Library_Initialization");
  if (MC_Register_Application(&g_application, "NET_BENCH") != MC_NORMAL_COMPLETION) die("register NET_BENCH");
  if (MC_Register_Application(&g_scpApplication, "NET_SCP") != MC_NORMAL_COMPLETION) die("register NET_SCP");
  g_listenPort = freePort();
  if (MC_Set_Int_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, g_listenPort) != MC_NORMAL_COMPLETION) die("listen port");
  // The proposed list: secondary capture in explicit VR little endian.
  const MC_TRANSFER_SYNTAX syntax = MC_TS_EXPLICIT_LITTLE_ENDIAN;
  const char* services[] = {"bench_sc"};
  if (MC_NewSyntaxList("bench_syntaxes", &syntax, 1) != MC_NORMAL_COMPLETION ||
      MC_NewServiceFromName("bench_sc", "STANDARD_SECONDARY_CAPTURE_IMAGE", "bench_syntaxes", 1, 0) !=
          MC_NORMAL_COMPLETION ||
      MC_NewProposedServiceList("bench_list", services, 1) != MC_NORMAL_COMPLETION)
    die("service list");
}

// CPU seconds (user + system) of `who` so far.
double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto tv = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return tv(usage.ru_utime) + tv(usage.ru_stime);
}

// Hands a file to MC_Open_File in 64 KiB pieces read from disk, as an
// application streaming a file would.
struct FileChunks {
  int fd = -1;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(64 * 1024);
};

MC_STATUS readChunk(const char*, void* user, int* size, void** data, int, int* isLast) {
  auto* file = static_cast<FileChunks*>(user);
  std::size_t filled = 0;
  while (filled < file->buffer.size()) {
    const ssize_t n = read(file->fd, file->buffer.data() + filled, file->buffer.size() - filled);
    if (n < 0) return MC_CANNOT_COMPLY;
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  *size = static_cast<int>(filled);
  *data = file->buffer.data();
  *isLast = filled < file->buffer.size();
  return MC_NORMAL_COMPLETION;
}

// Hands the whole file to MC_Open_File in one piece (read beforehand, inside
// the timing), as an application holding the object in memory would.
struct WholeFile {
  std::vector<std::uint8_t> bytes;
};

MC_STATUS giveWholeFile(const char*, void* user, int* size, void** data, int, int* isLast) {
  auto* file = static_cast<WholeFile*>(user);
  *size = static_cast<int>(file->bytes.size());
  *data = file->bytes.data();
  *isLast = 1;
  return MC_NORMAL_COMPLETION;
}

// One case's measurements: wall time, and the CPU time of the sending and
// the receiving program.
struct Result {
  double wall = 0, senderCpu = 0, receiverCpu = 0;
  double prepare = 0, send = 0, response = 0;  // our client only
};

// Our client: one association; every file opened as a message, sent and
// answered. Fills the wall, sender CPU and split times. Throws on failure.
void runClient(int port, const std::vector<fs::path>& files, bool wholeFile, Result& r) {
  const double cpu0 = cpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  int association = 0;
  MC_STATUS s = MC_Open_Association(g_application, &association, "STORESCP", port, "127.0.0.1", "bench_list");
  if (s != MC_NORMAL_COMPLETION) die(std::string("MC_Open_Association: ") + MC_Error_Message(s));
  FileChunks chunks;
  for (const auto& path : files) {
    const auto t0 = Clock::now();
    chunks.fd = open(path.c_str(), O_RDONLY);
    if (chunks.fd < 0) die("cannot open " + path.string());
    int id = 0;
    if (MC_Create_Empty_File(&id, path.c_str()) != MC_NORMAL_COMPLETION) die("MC_Create_Empty_File");
    if (wholeFile) {
      WholeFile whole;
      whole.bytes.resize(fs::file_size(path));
      if (::read(chunks.fd, whole.bytes.data(), whole.bytes.size()) != static_cast<ssize_t>(whole.bytes.size()))
        die("cannot read " + path.string());
      s = MC_Open_File(g_application, id, &whole, giveWholeFile);
    } else {
      s = MC_Open_File(g_application, id, &chunks, readChunk);
    }
    close(chunks.fd);
    if (s != MC_NORMAL_COMPLETION) die(std::string("MC_Open_File: ") + MC_Error_Message(s));
    if (MC_File_To_Message(id) != MC_NORMAL_COMPLETION) die("MC_File_To_Message");
    if (MC_Set_Service_Command(id, "STANDARD_SECONDARY_CAPTURE_IMAGE", MC_CMD_C_STORE_RQ) != MC_NORMAL_COMPLETION)
      die("MC_Set_Service_Command");
    const auto t1 = Clock::now();
    s = MC_Send_Request_Message(association, id);
    MC_Free_Message(id);
    if (s != MC_NORMAL_COMPLETION) die(std::string("MC_Send_Request_Message: ") + MC_Error_Message(s));
    const auto t2 = Clock::now();
    int response = 0;
    const char* service = nullptr;
    MC_COMMAND command{};
    s = MC_Read_Message(association, 30, &response, &service, &command);
    if (s != MC_NORMAL_COMPLETION) die(std::string("MC_Read_Message: ") + MC_Error_Message(s));
    unsigned status = 0xFFFF;
    MC_Get_Value_To_UInt(response, 0x00000900, &status);
    MC_Free_Message(response);
    if (command != MC_CMD_C_STORE_RSP || status != 0) die("store refused, status " + std::to_string(status));
    const auto t3 = Clock::now();
    r.prepare += seconds(t1 - t0);
    r.send += seconds(t2 - t1);
    r.response += seconds(t3 - t2);
  }
  if (MC_Close_Association(association) != MC_NORMAL_COMPLETION) die("MC_Close_Association");
  r.wall = seconds(Clock::now() - start);
  r.senderCpu = cpuSeconds(RUSAGE_SELF) - cpu0;  // the listener thread is idle meanwhile
}

struct Served {
  int stored = -1;
  double cpu = 0;
  MC_TRANSFER_SYNTAX syntax = MC_TS_INVALID;  // of the first store received
};

// Our listener: waits (bounded) for one association, answers every request
// with success until the peer releases. `stored` stays -1 on failure.
Served serveOneAssociation(int expected) {
  Served result;
  const double cpu0 = cpuSeconds(RUSAGE_THREAD);
  int app = 0, association = 0;
  MC_STATUS s = MC_TIMEOUT;
  for (int i = 0; i < 20 && s == MC_TIMEOUT; ++i)
    s = MC_Wait_For_Association("Storage_SCP_Service_List", 1, &app, &association);
  if (s != MC_NORMAL_COMPLETION) return result;
  if (MC_Accept_Association(association) != MC_NORMAL_COMPLETION) return result;
  int stored = 0;
  for (int i = 0; i < expected + 10; ++i) {
    int message = 0;
    const char* service = nullptr;
    MC_COMMAND command{};
    s = MC_Read_Message(association, 30, &message, &service, &command);
    if (s == MC_ASSOCIATION_CLOSED) {
      result.stored = stored;
      result.cpu = cpuSeconds(RUSAGE_THREAD) - cpu0;
      return result;
    }
    if (s != MC_NORMAL_COMPLETION) return result;
    if (stored == 0 && command == MC_CMD_C_STORE_RQ) MC_Get_Message_Transfer_Syntax(message, &result.syntax);
    MC_Free_Message(message);
    int response = 0;
    if (MC_Open_Message(&response, service, static_cast<MC_COMMAND>(command | 0x8000)) != MC_NORMAL_COMPLETION)
      return result;
    s = MC_Send_Response_Message(association, 0x0000, response);
    MC_Free_Message(response);
    if (s != MC_NORMAL_COMPLETION) return result;
    if (command == MC_CMD_C_STORE_RQ) ++stored;
  }
  MC_Abort_Association(association);
  return result;
}

// ------------------------------------------------------------------ cases

std::vector<std::string> storescuArgs(const std::string& called, int port, const std::vector<fs::path>& files) {
  std::vector<std::string> argv{"storescu",          "-aet", "BENCH", "-aec", called, "-to", "30", "127.0.0.1",
                                std::to_string(port)};
  for (const auto& f : files) argv.push_back(f.string());
  return argv;
}

// storescp on a free port, storing into <work>/in or (ignore) discarding.
// Stopping it reaps it, which adds its CPU time to RUSAGE_CHILDREN.
struct StoreScp {
  int port = freePort();
  std::unique_ptr<Process> process;
  StoreScp(const fs::path& work, bool ignore)
      : process(std::make_unique<Process>(arguments(work, ignore), work / "storescp.log")) {
    if (!waitForPort(port)) die("storescp did not start");
  }
  std::vector<std::string> arguments(const fs::path& work, bool ignore) const {
    const fs::path in = work / "in";
    fs::remove_all(in);
    fs::create_directories(in);
    std::vector<std::string> argv{"storescp", "-aet", "STORESCP"};
    if (ignore) {
      argv.push_back("--ignore");
    } else {
      argv.push_back("-od");
      argv.push_back(in.string());
    }
    argv.push_back(std::to_string(port));
    return argv;
  }
  // Stops storescp; its CPU seconds.
  double stop() {
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    process.reset();
    return cpuSeconds(RUSAGE_CHILDREN) - before;
  }
};

// Runs storescu to its end; fills the wall time and its CPU time.
void runStorescu(const std::vector<std::string>& argv, const fs::path& log, Result& r) {
  const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
  const auto start = Clock::now();
  Process client(argv, log);
  const int code = client.wait(300s);
  r.wall = seconds(Clock::now() - start);
  r.senderCpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
  if (code != 0) die("storescu failed (exit " + std::to_string(code) + "), see " + log.string());
}

Result caseDcmtk(const fs::path& work, const std::vector<fs::path>& files, bool ignore) {
  Result r;
  StoreScp scp(work, ignore);
  runStorescu(storescuArgs("STORESCP", scp.port, files), work / "storescu.log", r);
  r.receiverCpu = scp.stop();
  return r;
}

Result caseClient(const fs::path& work, const std::vector<fs::path>& files, bool ignore, bool wholeFile = false) {
  Result r;
  StoreScp scp(work, ignore);
  runClient(scp.port, files, wholeFile, r);
  r.receiverCpu = scp.stop();
  return r;
}

Result caseServer(const fs::path& work, const std::vector<fs::path>& files) {
  Result r;
  auto served = std::async(std::launch::async, serveOneAssociation, static_cast<int>(files.size()));
  // Seen in the kernel's table rather than probed, so that the listener's
  // first association is storescu's.
  if (!listening(g_listenPort)) die("our listener did not start");
  runStorescu(storescuArgs("NET_SCP", g_listenPort, files), work / "storescu_ours.log", r);
  const Served s = served.get();
  if (s.stored != static_cast<int>(files.size())) die("our listener stored " + std::to_string(s.stored));
  r.receiverCpu = s.cpu;
  static bool told = false;
  if (!told)
    std::printf(" [our listener received syntax %s]", s.syntax == MC_TS_EXPLICIT_LITTLE_ENDIAN
                                                          ? "explicit VR little endian"
                                                          : std::to_string(int(s.syntax)).c_str());
  told = true;
  return r;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double loadAverage() {
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  const int runs = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 50) : 5;
  const std::string only = argc > 3 ? argv[3] : "";
  const auto wanted = [&](const std::string& name) {
    return only.empty() || ("," + only + ",").find("," + name + ",") != std::string::npos;
  };
  setenv("TCP_NODELAY", "1", 1);  // inherited by every DCMTK peer
  signal(SIGPIPE, SIG_IGN);
  try {
    TempDir work;
    initToolkit();
    const auto files = makeObjects(work.path() / "objects", count);
    std::uintmax_t bytes = 0;
    for (const auto& f : files) bytes += fs::file_size(f);
    std::printf("%d objects, %.1f MB, %d runs\n", count, double(bytes) / 1e6, runs);

    const std::vector<std::string> names{"dcmtk",     "client",       "server", "dcmtk_ig",
                                         "client_ig", "client_ig_wf", "startup"};
    std::map<std::string, std::vector<Result>> results;
    std::vector<double> loads;
    for (int run = 0; run < runs; ++run) {
      loads.push_back(loadAverage());
      std::printf("run %d (load %.1f):", run + 1, loads.back());
      for (const auto& name : names) {
        if (!wanted(name)) continue;
        Result r;
        if (name == "startup")
          r = caseDcmtk(work.path(), {files.front()}, true);
        else if (name == "dcmtk")
          r = caseDcmtk(work.path(), files, false);
        else if (name == "dcmtk_ig")
          r = caseDcmtk(work.path(), files, true);
        else if (name == "client")
          r = caseClient(work.path(), files, false);
        else if (name == "client_ig")
          r = caseClient(work.path(), files, true);
        else if (name == "client_ig_wf")
          r = caseClient(work.path(), files, true, true);
        else
          r = caseServer(work.path(), files);
        results[name].push_back(r);
        std::printf(" %s %.3f s", name.c_str(), r.wall);
        std::fflush(stdout);
      }
      std::printf("\n");
    }

    const auto med = [&](const std::string& name, double Result::*field) {
      std::vector<double> v;
      for (const auto& r : results[name]) v.push_back(r.*field);
      return median(v);
    };
    const double mb = double(bytes) / 1e6;
    std::printf("\nload average %.1f to %.1f; medians of %d runs; CPU in ms per object\n",
                *std::min_element(loads.begin(), loads.end()), *std::max_element(loads.begin(), loads.end()), runs);
    std::printf("%-10s %8s %8s %8s %10s %11s %11s\n", "case", "wall s", "files/s", "MB/s", "vs. dcmtk", "sender CPU",
                "recv. CPU");
    for (const auto& name : names) {
      if (results[name].empty()) continue;
      const double n = name == "startup" ? 1.0 : count;
      const double t = med(name, &Result::wall);
      const std::string base = name.find("_ig") != std::string::npos || name == "server" ? "dcmtk_ig" : "dcmtk";
      const double reference = results[base].empty() ? 0.0 : med(base, &Result::wall);
      std::printf("%-10s %8.3f %8.0f %8.1f %10.2f %11.2f %11.2f\n", name.c_str(), t, n / t, n * mb / count / t,
                  name == "startup" ? 0.0 : reference / t, 1e3 * med(name, &Result::senderCpu) / n,
                  1e3 * med(name, &Result::receiverCpu) / n);
    }
    for (const char* name : {"client", "client_ig", "client_ig_wf"})
      if (!results[name].empty())
        std::printf("%s split: open %.3f s, send %.3f s, wait for the response %.3f s\n", name,
                    med(name, &Result::prepare), med(name, &Result::send), med(name, &Result::response));
  } catch (const std::exception& e) {
    std::cerr << "net_bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
