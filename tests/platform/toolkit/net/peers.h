// Real DCMTK peers for the network tests: processes started on free loopback
// ports and always stopped, and helpers to build and send messages.
#pragma once

#include "support/process.h"
#include "support/temp_dir.h"
#include "toolkit/mc.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zyl::toolkit::test {

using namespace zyl::test;  // temporary folders, processes and bounded waits

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
  std::unique_ptr<ChildProcess> process;
  ArchiveScp(const std::vector<std::string>& files, const std::string& destinationAet, int destinationPort);
};

// Makes our toolkit listen on `port` for callers of `title` (registered as an
// application when new), so that a peer may connect before the waits begin.
void listenAs(const std::string& title, int port, const char* serviceList);

// Opens a DICOM file as a C-STORE request message for its SOP class.
int openStoreMessage(const std::string& path);
std::string pydicomFile(const std::string& name);
// The toolkit service of a file's SOP class.
std::string serviceOf(const std::string& path);

}  // namespace zyl::toolkit::test
