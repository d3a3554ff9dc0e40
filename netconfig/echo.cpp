// Echo of ZYLffOrvoCfg: a C-ECHO to a configured node, answered with a short
// report of what happened and what the peer said about itself.
#include <cstddef>
#include <string>
#include <vector>

#include "cfg_document.h"
#include "cfg_methods.h"
#include "format_text.h"
#include "method.h"
#include "startup.h"
#include "toolkit/handles.h"
#include "toolkit/mc.h"
#include "toolkit/tags.h"

namespace orvo::netconfig {
namespace {

namespace cfg = zyl::config;

struct Node {
  std::string name, aet, host;
  int port;
};

// Verifies the remote node from the local title and service list. The
// report is 4 lines after a failure, 9 after success; the association is
// closed (or aborted) on every path after it was opened.
std::vector<std::string> echoNode(const Node& remote, const std::string& localAet, const std::string& serviceList) {
  std::vector<std::string> report = {"Echo Failed:", formatText(" AE Name: (%s)", remote.name.c_str()),
                                     formatText(" AE Title: (%s)", remote.aet.c_str()), ""};
  auto failed = [&](const char* format, MC_STATUS status) {
    report[3] = formatText(format, errorText(status));
    return report;
  };
  const int applicationId = applicationIdFor(localAet);
  int association = 0;
  MC_STATUS status = MC_Open_Association(applicationId, &association, remote.aet.c_str(), remote.port,
                                         remote.host.c_str(), serviceList.c_str());
  if (status != MC_NORMAL_COMPLETION) return failed(" Open Association Failed (%s)", status);
  // Closes the association on the paths below unless it was closed or aborted.
  zyl::toolkit::AssociationHandle open(association, zyl::toolkit::AssociationHandle::OnExit::Close);

  MC_ASSOCIATION_INFO info{};
  status = MC_Get_Association_Info(association, &info);
  if (status != MC_NORMAL_COMPLETION) return failed(" Get Info Association Failed (%s)", status);
  zyl::toolkit::MessageHandle request;
  status = MC_Open_Message(request.out(), "STANDARD_ECHO", MC_CMD_C_ECHO_RQ);
  if (status != MC_NORMAL_COMPLETION) return failed(" Open Message Failed (%s)", status);
  status = MC_Send_Request_Message(association, request.get());
  request.reset();
  if (status != MC_NORMAL_COMPLETION) return failed(" Send Message Failed (%s)", status);

  zyl::toolkit::MessageHandle response;
  const char* service = nullptr;
  MC_COMMAND command{};
  status = MC_Read_Message(association, 30, response.out(), &service, &command);
  if (status != MC_NORMAL_COMPLETION) {
    open.abort();
    return failed(" Read Message Failed (%s)", status);
  }
  unsigned int echoStatus = 0;
  status = MC_Get_Value_To_UInt(response.get(), zyl::tags::kStatus, &echoStatus);
  response.reset();
  if (status != MC_NORMAL_COMPLETION) return failed(" Get Value Failed (%s)", status);
  if (echoStatus != 0) {
    report[3] = formatText(" Echo Failed: Status Value (%d)", static_cast<int>(echoStatus));
    return report;
  }
  status = open.close();
  if (status != MC_NORMAL_COMPLETION) return failed(" Close Association Failed (%s)", status);

  return {"Echo Succeeded:",
          formatText(" AE Name: (%s)", remote.name.c_str()),
          formatText(" AE Title: (%s)", info.CalledApTitle),
          formatText(" Host Name: (%s)", info.RemoteHostName),
          formatText(" IP Address: (%s)", info.RemoteIPAddress),
          formatText(" TCP/IP Port: (%d)", static_cast<int>(info.RemotePort)),
          formatText(" Implementation Version: (%s)", info.RemoteImplementationVersion),
          " Implementation Class UID: ",
          formatText("   (%s)", info.RemoteImplementationClassUID)};
}

HostVar* echoWorker(MethodCall<CfgInstance, CountKeywords>& call) {
  CfgInstance& self = call.self();
  HostVar* nameArg = call.arg(1);
  if (nameArg == nullptr || !nameArg->isScalarString()) fail(kErrs1, "Error: Invalid parameter");
  const std::string remoteName(nameArg->text());
  const cfg::ConfigDocument& document = documentOf(self);
  const std::string path = pathOf(self);
  AccessMessage message{};
  std::array<char, 256> localName{};
  if (cfg::ReadParam(document, "EchoScuServiceAE", localName, path, message) != 0) failWith(message);

  std::string localAet = "VEL_ECHO_SCU", serviceList = "Echo_SCU_Service_List";
  cfg::CfgApplEntity local{};
  if (cfg::ReadApplEntity(document, localName.data(), local, path, message) == 0) {
    localAet = std::string(local.AET.view());
    serviceList = std::string(local.ServiceList.view());
  }
  std::vector<std::string> report;
  cfg::CfgApplEntity remote{};
  if (cfg::ReadApplEntity(document, remoteName, remote, path, message) != 0) {
    report = {"Echo Failed:", formatText(" AE Name (%s)", remoteName.c_str()), " Invalid Application Entity Name",
              formatText(" %s", message.data())};
  } else {
    report = echoNode({remoteName, std::string(remote.AET.view()), std::string(remote.Hostname.view()), remote.Port},
                      localAet, serviceList);
  }
  if (call.keywords().countGiven) storeUInt32(call.keywords().count, static_cast<uint32_t>(report.size()));
  void* data = nullptr;
  HostVar* result = HostMakeTempVector(zyl::Type::String, static_cast<int64_t>(report.size()), 1, &data);
  auto* lines = static_cast<zyl::HostString*>(data);
  for (size_t i = 0; i < report.size(); ++i) zyl::hostStringAssign(lines[i], report[i]);
  return result;
}

}  // namespace

MethodRows echoMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOCFG::ECHO", methodEntry<CfgInstance, CountKeywords, echoWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::netconfig
