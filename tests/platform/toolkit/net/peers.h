// Real DCMTK peers for the network tests: processes started on free loopback
// ports and always stopped, and helpers to build and send messages.
#pragma once

#include "toolkit/mc.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zyl::toolkit::test {

// A child process, stopped (SIGTERM, then SIGKILL) when the object goes.
class Process {
public:
    // Starts `argv` with TCP_NODELAY=1 in its environment; output goes to `logFile`.
    Process(const std::vector<std::string>& argv, const std::string& logFile);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Waits up to `limit` for the process to end; its exit code, or -1.
    int wait(std::chrono::milliseconds limit);
    bool running();

private:
    int pid_ = -1;
    int status_ = -1;
    bool done_ = false;
};

// A loopback port nobody listens on right now.
int freePort();
// Waits (bounded) until something accepts connections on the port.
bool waitForPort(int port, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs a command to its end (bounded) and returns its output and exit code.
struct RunResult {
    int exitCode = -1;
    std::string output;
};
RunResult run(const std::vector<std::string>& argv, std::chrono::seconds limit = std::chrono::seconds(30));

// The data set of a file as dcmdump prints it, without the meta group.
std::string dumpDataSet(const std::string& path);
std::string fileSyntax(const std::string& path);

// A run-time service list with one service per (toolkit service, syntax)
// pair, SCU role; freed with the object.
struct RuntimeList {
    std::string name;
    std::vector<std::string> services, syntaxLists;
    RuntimeList(const std::string& prefix, const std::vector<std::pair<std::string, MC_TRANSFER_SYNTAX>>& entries);
    ~RuntimeList();
    RuntimeList(const RuntimeList&) = delete;
    RuntimeList& operator=(const RuntimeList&) = delete;
};

// dcmqrscp (called "QRSCP") with its own configuration and database, filled
// with `files` by storescu; it moves to `destinationAet` on loopback at
// `destinationPort`.
struct ArchiveScp {
    TempDir dir;
    int port;
    std::unique_ptr<Process> process;
    ArchiveScp(const std::vector<std::string>& files, const std::string& destinationAet, int destinationPort);
};

// Makes our toolkit listen on `port` for callers of `title` (registered as an
// application when new), so that a peer may connect before the waits begin.
void listenAs(const std::string& title, int port, const char* serviceList);

// Opens a Part 10 file as a C-STORE request message for its SOP class.
int openStoreMessage(const std::string& path);
std::string pydicomFile(const std::string& name);
// The toolkit service of a file's SOP class.
std::string serviceOf(const std::string& path);

}  // namespace zyl::toolkit::test
