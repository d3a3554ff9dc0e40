// The application entities, service lists and service types of
// ZYLffOrvoCfg: read as host records and string arrays, added, changed and
// removed under the rules of the file.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstddef>
#include <string>
#include <vector>

#include "cfg_document.h"
#include "cfg_methods.h"
#include "method.h"

namespace orvo::netconfig {
namespace {

namespace cfg = zyl::config;
using Call = MethodCall<CfgInstance, NoKeywords>;

constexpr const char* kStandardEntities[] = {"ZYL_AE_QUERY_SCU", "ZYL_AE_STOR_SCP", "ZYL_AE_STOR_SCU",
                                             "ZYL_AE_ECHO_SCU"};

void store(zyl::HostString& field, const cfg::CfgText& text) {
  HostStringStore(&field, text.c_str(), static_cast<int32_t>(text.view().size()));
}

// Host records of the entities; one empty record when there are none.
HostVar* entityRecords(std::span<const cfg::CfgApplEntity> entities) {
  const int64_t count = std::max<int64_t>(1, static_cast<int64_t>(entities.size()));
  void* data = nullptr;
  HostVar* result = HostMakeTempStructArray(aeRecordStructure(), 1, &count, 1, &data);
  auto* records = static_cast<CfgAeRecord*>(data);
  for (size_t i = 0; i < entities.size(); ++i) {
    const cfg::CfgApplEntity& e = entities[i];
    store(records[i].applEntityName, e.Name);
    store(records[i].aet, e.AET);
    store(records[i].hostName, e.Hostname);
    records[i].port = static_cast<uint32_t>(e.Port);
    store(records[i].serviceListName, e.ServiceList);
    store(records[i].serviceType, e.ServiceType);
  }
  return result;
}

HostVar* getEntityWorker(Call& call) {
  CfgInstance& self = call.self();
  HostVar* nameArg = call.arg(1);
  if (nameArg == nullptr || !nameArg->isScalarString()) fail(kErrs1, "Error: Invalid parameter");
  cfg::CfgApplEntity entity{};
  AccessMessage message{};
  if (cfg::ReadApplEntity(documentOf(self), nameArg->text(), entity, pathOf(self), message) != 0) failWith(message);
  return entityRecords(std::span(&entity, 1));
}

struct EntitiesKeywords {
  HostVar* count;
  int countGiven;
  zyl::HostString serviceType;
  int serviceTypeGiven;
  static const HostKeyword table[];
};
const HostKeyword EntitiesKeywords::table[] = {
    {"COUNT", HOST_KW_REF, offsetof(EntitiesKeywords, count), offsetof(EntitiesKeywords, countGiven)},
    {"SERVICE_TYPE", HOST_KW_STRING, offsetof(EntitiesKeywords, serviceType),
     offsetof(EntitiesKeywords, serviceTypeGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* getEntitiesWorker(MethodCall<CfgInstance, EntitiesKeywords>& call) {
  CfgInstance& self = call.self();
  const EntitiesKeywords& kw = call.keywords();
  const cfg::ConfigDocument& document = documentOf(self);
  const std::string path = pathOf(self);
  AccessMessage message{};
  int total = 0;
  if (cfg::CountApplEntities(document, total, path, message) != 0) failWith(message);
  std::vector<cfg::CfgApplEntity> entities(static_cast<size_t>(std::max(total, 0)));
  int kept = 0;
  if (cfg::ReadApplEntities(document, entities, kept, kw.serviceTypeGiven != 0, zyl::hostStringText(kw.serviceType),
                            path, message) != 0)
    failWith(message);
  entities.resize(static_cast<size_t>(std::clamp(kept, 0, total)));
  if (kw.countGiven) storeUInt32(kw.count, static_cast<uint32_t>(entities.size()));
  return entityRecords(entities);
}

HostVar* setEntityWorker(Call& call) {
  CfgInstance& self = call.self();
  const std::string name = argumentText(call.arg(1));
  const std::string aet = argumentText(call.arg(2));
  const std::string host = argumentText(call.arg(3));
  const std::string portGiven = argumentText(call.arg(4));
  const std::string serviceList = argumentText(call.arg(5));
  const std::string serviceType = argumentText(call.arg(6));
  if (name.size() > 30) fail(kErrs1, "Error: Application Entity Name is too long.");
  // An empty or malformed title gets the parameter's one message too: it
  // would only fail later, at the first association.
  if (!isValidAeTitle(aet)) fail(kErrs1, "Error: Application Entity AET is too long.");
  if (host.size() > 30) fail(kErrs1, "Error: Application Entity HostName is too long.");
  const std::string port(withoutLeadingBlanks(portGiven));
  if (port.size() > 5) fail(kErrs1, "Error: Application Entity Port Number is too long.");
  // A port is a number from 1 to 65535 written in digits alone: "1e3" or
  // "104.7" would be stored as written and read back as their leading number.
  const long portNumber = decimalValue(port);
  if (portNumber <= 0 || portNumber > 65535)
    fail(kErrs2, "Error: Application Entity Port Number is invalid (val)", portGiven);
  if (serviceList.size() > 30) fail(kErrs1, "Error: Application Entity Service List Name is too long.");
  if (serviceType.size() > 30) fail(kErrs1, "Error: Application Entity Type is too long.");

  cfg::ConfigDocument& document = documentOf(self);
  const std::string path = pathOf(self);
  AccessMessage message{};
  bool found = false;
  if (cfg::ServiceListExists(document, serviceList, found, path, message) != 0) failWith(message);
  if (!found) fail(kErrs2, "Error: Value ia not a defined Service List Name (val)", serviceList);
  if (cfg::SetApplEntity(document, name, aet, host, port, serviceList, serviceType, path, message) != 0)
    failWith(message);
  self.xmlDirty = 1;
  return nullptr;
}

HostVar* removeEntityWorker(Call& call) {
  CfgInstance& self = call.self();
  const std::string name = argumentText(call.arg(1));
  cfg::ConfigDocument& document = documentOf(self);
  const std::string path = pathOf(self);
  AccessMessage message{};
  bool found = false;
  if (cfg::ApplEntityExists(document, name, found, path, message) != 0) failWith(message);
  if (!found) fail(kErrs2, "Error: Value is a not a defined Appl Entity Name (val)", name);
  for (const char* standard : kStandardEntities)
    if (name == standard)
      fail(kErrs1, "Error: " + name + " is a standard application entity and it can not be deleted");
  if (cfg::RemoveApplEntity(document, name, path, message) != 0) failWith(message);
  self.xmlDirty = 1;
  return nullptr;
}

// The names of the service lists or types as a string array (one empty
// string when there are none).
template <auto Count, auto Read>
HostVar* namesWorker(MethodCall<CfgInstance, CountKeywords>& call) {
  CfgInstance& self = call.self();
  const cfg::ConfigDocument& document = documentOf(self);
  const std::string path = pathOf(self);
  AccessMessage message{};
  int count = 0;
  if (Count(document, count, path, message) != 0) failWith(message);
  std::vector<cfg::CfgText> names(static_cast<size_t>(std::max(count, 0)));
  if (Read(document, std::span(names), path, message) != 0) failWith(message);
  if (call.keywords().countGiven) storeUInt32(call.keywords().count, static_cast<uint32_t>(names.size()));
  if (names.empty()) return HostStringToVar("");
  void* data = nullptr;
  HostVar* result = HostMakeTempVector(zyl::Type::String, static_cast<int64_t>(names.size()), 1, &data);
  auto* strings = static_cast<zyl::HostString*>(data);
  for (size_t i = 0; i < names.size(); ++i) store(strings[i], names[i]);
  return result;
}

}  // namespace

MethodRows cfgEntitiesMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOCFG::GETAPPLICATIONENTITY", methodEntry<CfgInstance, NoKeywords, getEntityWorker>, 2, 2, 0),
      functionRow("ZYLFFORVOCFG::GETAPPLICATIONENTITIES", methodEntry<CfgInstance, EntitiesKeywords, getEntitiesWorker>,
                  1, 1, HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOCFG::SETAPPLICATIONENTITY", methodEntry<CfgInstance, NoKeywords, setEntityWorker>, 7, 7,
                   0),
      procedureRow("ZYLFFORVOCFG::REMOVEAPPLICATIONENTITY", methodEntry<CfgInstance, NoKeywords, removeEntityWorker>, 2,
                   2, 0),
      functionRow("ZYLFFORVOCFG::GETSERVICELISTS",
                  methodEntry<CfgInstance, CountKeywords, namesWorker<cfg::CountServiceLists, cfg::ReadServiceLists>>,
                  1, 1, HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVOCFG::GETSERVICETYPES",
                  methodEntry<CfgInstance, CountKeywords, namesWorker<cfg::CountServiceTypes, cfg::ReadServiceTypes>>,
                  1, 1, HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::netconfig
