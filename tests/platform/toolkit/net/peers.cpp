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

std::string dumpDataSet(const std::string& path) {
  const ToolResult r = RunTool({"dcmdump", "-q", "+L", "+U8", "--print-all", path});
  std::istringstream lines(r.output);
  std::string kept;
  // Lengths of sequences and items may be encoded either way; the content may not differ.
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.rfind("(0002,", 0) == 0 || line.rfind("#", 0) == 0) continue;
    if (line.find("Delimitation") != std::string::npos) continue;
    if (line.rfind("(fffc,fffc)", 0) == 0) continue;  // trailing padding is not sent
    line = line.substr(0, line.find(" # "));          // the comment column
    for (const char* form : {"with explicit length ", "with undefined length "})
      if (auto at = line.find(form); at != std::string::npos) line.erase(at, std::strlen(form));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    kept += line + "\n";
  }
  return kept;
}

std::string fileSyntax(const std::string& path) { return RunTool({"dcmdump", "-q", "+P", "0002,0010", path}).output; }

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
    : port(FreePort()) {
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
  process = std::make_unique<ChildProcess>(std::vector<std::string>{"dcmqrscp", "-c", config},
                                           (dir.path() / "dcmqrscp.log").string());
  EXPECT_TRUE(WaitListening(port)) << "dcmqrscp did not start";
  if (files.empty()) return;
  std::vector<std::string> argv{"storescu", "-aec", "QRSCP", "127.0.0.1", std::to_string(port)};
  argv.insert(argv.end(), files.begin(), files.end());
  EXPECT_EQ(RunTool(argv).exitCode, 0) << "storescu could not fill dcmqrscp";
}

RuntimeList::RuntimeList(const std::string& prefix,
                         const std::vector<std::pair<std::string, MC_TRANSFER_SYNTAX>>& entries) {
  name = prefix + "_list";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    syntaxLists.push_back(prefix + "_syntax_" + std::to_string(i));
    services.push_back(prefix + "_service_" + std::to_string(i));
    EXPECT_EQ(MC_NewSyntaxList(syntaxLists.back().c_str(), &entries[i].second, 1), MC_NORMAL_COMPLETION);
    EXPECT_EQ(
        MC_NewServiceFromName(services.back().c_str(), entries[i].first.c_str(), syntaxLists.back().c_str(), 1, 0),
        MC_NORMAL_COMPLETION);
  }
  std::vector<const char*> names;
  for (const auto& s : services) names.push_back(s.c_str());
  EXPECT_EQ(MC_NewProposedServiceList(name.c_str(), names.data(), static_cast<int>(names.size())),
            MC_NORMAL_COMPLETION);
}

RuntimeList::~RuntimeList() {
  MC_FreeServiceList(name.c_str());
  for (const auto& s : services) MC_FreeService(s.c_str());
  for (const auto& s : syntaxLists) MC_FreeSyntaxList(s.c_str());
}

}  // namespace zyl::toolkit::test
