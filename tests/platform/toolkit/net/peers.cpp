#include "peers.h"

#include "../support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace zyl::toolkit::test {

Process::Process(const std::vector<std::string>& argv, const std::string& logFile) {
    // Everything the child needs is made before fork: other threads of the
    // test may hold the allocator's lock at that moment, and a child that
    // allocates (setenv does) would then wait forever.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> environment{"TCP_NODELAY=1"};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TCP_NODELAY=", 12) != 0) environment.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
}

Process::~Process() {
    if (pid_ <= 0 || done_) return;
    kill(pid_, SIGTERM);
    if (wait(std::chrono::seconds(3)) == -1 && !done_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

int Process::wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done_) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            done_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool Process::running() { return !done_ && wait(std::chrono::milliseconds(0)) == -1 && !done_; }

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool waitForPort(int port, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TempDir::TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("zyl_net_" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

RunResult run(const std::vector<std::string>& argv, std::chrono::seconds limit) {
    TempDir dir;
    const std::string log = (dir.path() / "out.txt").string();
    RunResult result;
    {
        Process process(argv, log);
        result.exitCode = process.wait(limit);
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    return result;
}

std::string dumpDataSet(const std::string& path) {
    const RunResult r = run({"dcmdump", "-q", "+L", "+U8", "--print-all", path});
    std::istringstream lines(r.output);
    std::string kept;
    // Lengths of sequences and items may be encoded either way; the content may not differ.
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.rfind("(0002,", 0) == 0 || line.rfind("#", 0) == 0) continue;
        if (line.find("Delimitation") != std::string::npos) continue;
        if (line.rfind("(fffc,fffc)", 0) == 0) continue;  // trailing padding is not sent
        line = line.substr(0, line.find(" # "));  // the comment column
        for (const char* form : {"with explicit length ", "with undefined length "})
            if (auto at = line.find(form); at != std::string::npos) line.erase(at, std::strlen(form));
        while (!line.empty() && line.back() == ' ') line.pop_back();
        kept += line + "\n";
    }
    return kept;
}

std::string fileSyntax(const std::string& path) {
    return run({"dcmdump", "-q", "+P", "0002,0010", path}).output;
}

std::string pydicomFile(const std::string& name) { return std::string(ZYL_PYDICOM_FILES) + "/" + name; }

int openStoreMessage(const std::string& path) {
    initToolkit();
    int id = 0;
    EXPECT_EQ(MC_Create_Empty_File(&id, path.c_str()), MC_NORMAL_COMPLETION);
    const auto bytes = readBytes(path);
    MemoryReader reader;
    reader.bytes = &bytes;
    reader.chunkSize = 65536;
    EXPECT_EQ(MC_Open_File(applicationId(), id, &reader, memoryFileReader), MC_NORMAL_COMPLETION) << path;
    EXPECT_EQ(MC_File_To_Message(id), MC_NORMAL_COMPLETION);
    char uid[65] = {}, service[65] = {};
    EXPECT_EQ(MC_Get_Value_To_String(id, 0x00080016, sizeof uid, uid), MC_NORMAL_COMPLETION);
    EXPECT_EQ(MC_Get_MergeCOM_Service(uid, service, sizeof service), MC_NORMAL_COMPLETION) << uid;
    EXPECT_EQ(MC_Set_Service_Command(id, service, MC_CMD_C_STORE_RQ), MC_NORMAL_COMPLETION);
    return id;
}

std::string serviceOf(const std::string& path) {
    const int id = openStoreMessage(path);
    char service[65] = {};
    MC_COMMAND command{};
    MC_Get_Service_Command(id, service, sizeof service, &command);
    MC_Free_Message(id);
    return service;
}

void listenAs(const std::string& title, int port, const char* serviceList) {
    int app = 0;
    const MC_STATUS registered = MC_Register_Application(&app, title.c_str());
    EXPECT_TRUE(registered == MC_NORMAL_COMPLETION || registered == MC_ALREADY_REGISTERED);
    EXPECT_EQ(MC_Set_Int_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, port), MC_NORMAL_COMPLETION);
    int unused = 0, none = 0;
    EXPECT_EQ(MC_Wait_For_Association(serviceList, 0, &unused, &none), MC_TIMEOUT);
}

ArchiveScp::ArchiveScp(const std::vector<std::string>& files, const std::string& destinationAet, int destinationPort)
    : port(freePort()) {
    std::filesystem::create_directories(dir.path() / "db");
    const std::string config = (dir.path() / "dcmqrscp.cfg").string();
    std::ofstream(config) << "NetworkTCPPort = " << port << "\nMaxPDUSize = 16384\nMaxAssociations = 16\n"
                          << "HostTable BEGIN\ndestination = (" << destinationAet << ", 127.0.0.1, " << destinationPort
                          << ")\nHostTable END\n"
                          << "VendorTable BEGIN\nVendorTable END\n"
                          << "AETable BEGIN\nQRSCP " << (dir.path() / "db").string() << " RW (100, 1024mb) ANY\n"
                          << "AETable END\n";
    // Its single-process mode stops listening after one association; the
    // default forks a child per association, each ending with its association.
    process = std::make_unique<Process>(std::vector<std::string>{"dcmqrscp", "-c", config},
                                        (dir.path() / "dcmqrscp.log").string());
    EXPECT_TRUE(waitForPort(port)) << "dcmqrscp did not start";
    if (files.empty()) return;
    std::vector<std::string> argv{"storescu", "-aec", "QRSCP", "127.0.0.1", std::to_string(port)};
    argv.insert(argv.end(), files.begin(), files.end());
    EXPECT_EQ(run(argv).exitCode, 0) << "storescu could not fill dcmqrscp";
}

RuntimeList::RuntimeList(const std::string& prefix,
                         const std::vector<std::pair<std::string, MC_TRANSFER_SYNTAX>>& entries) {
    name = prefix + "_list";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        syntaxLists.push_back(prefix + "_syntax_" + std::to_string(i));
        services.push_back(prefix + "_service_" + std::to_string(i));
        EXPECT_EQ(MC_NewSyntaxList(syntaxLists.back().c_str(), &entries[i].second, 1), MC_NORMAL_COMPLETION);
        EXPECT_EQ(MC_NewServiceFromName(services.back().c_str(), entries[i].first.c_str(), syntaxLists.back().c_str(), 1, 0),
                  MC_NORMAL_COMPLETION);
    }
    std::vector<const char*> names;
    for (const auto& s : services) names.push_back(s.c_str());
    EXPECT_EQ(MC_NewProposedServiceList(name.c_str(), names.data(), static_cast<int>(names.size())), MC_NORMAL_COMPLETION);
}

RuntimeList::~RuntimeList() {
    MC_FreeServiceList(name.c_str());
    for (const auto& s : services) MC_FreeService(s.c_str());
    for (const auto& s : syntaxLists) MC_FreeSyntaxList(s.c_str());
}

}  // namespace zyl::toolkit::test
