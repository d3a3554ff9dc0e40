// Syntax lists, services and service lists made at run time, beside the ones
// of the toolkit's files (mergecom.srv, mergecom.app), and the resolution of
// a list name into what an association proposes or accepts.
#include "../settings.h"
#include "../limits.h"
#include "../tables.h"
#include "net.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace zyl::toolkit::net {
namespace {

struct RuntimeService {
  std::string serviceName;  // the toolkit service
  std::string syntaxList;
  bool scuRole = false;
  bool scpRole = false;
};

// Everything made at run time; names are unique across the three kinds and
// across the lists of the toolkit's files.
struct RuntimeLists {
  std::mutex mutex;
  std::map<std::string, std::vector<std::string>> syntaxLists;  // name -> UIDs
  std::map<std::string, RuntimeService> services;
  std::map<std::string, std::vector<std::string>> serviceLists;  // name -> service names
};

RuntimeLists& runtime() {
  static RuntimeLists lists;
  return lists;
}

// Whether a name is taken, by the toolkit's files or at run time (lock held).
bool nameTaken(RuntimeLists& lists, const std::string& name) {
  const Configuration& c = configuration();
  return lists.syntaxLists.count(name) || lists.services.count(name) || lists.serviceLists.count(name) ||
         c.syntaxLists.count(name) || c.serviceLists.count(name) || findServiceByName(name);
}

std::string checkedName(const char* name) {
  requireInitialized();
  if (!name) fail(MC_NULL_POINTER_PARM);
  std::string text = name;
  if (text.empty()) fail(MC_MISSING_NAME);
  if (text.size() > limits::kMaxListNameLength) fail(MC_INVALID_PARAMETER_NAME);
  return text;
}

void checkCount(int count) {
  if (count <= 0) fail(MC_EMPTY_LIST);
  if (count > limits::kMaxListEntries) fail(MC_LIMIT_EXCEEDED);
}

}  // namespace

std::vector<ContextOffer> resolveServiceList(const std::string& name) {
  const Configuration& c = configuration();
  std::vector<ContextOffer> offers;
  auto offerFor = [&](const Service& service, const std::vector<std::string>& syntaxes) {
    offers.push_back({service.name, service.sopClassUid, syntaxes, false, false});
  };
  if (auto it = c.serviceLists.find(name); it != c.serviceLists.end()) {
    for (const auto& serviceName : it->second) {
      const Service* service = findServiceByName(serviceName);
      if (!service) fail(MC_CONFIG_INFO_ERROR);
      offerFor(*service, c.syntaxLists.at(service->syntaxListName));
    }
    return offers;
  }
  RuntimeLists& lists = runtime();
  std::lock_guard lock(lists.mutex);
  auto it = lists.serviceLists.find(name);
  if (it == lists.serviceLists.end()) fail(MC_INVALID_SERVICE_LIST_NAME);
  for (const auto& entryName : it->second) {
    const RuntimeService& entry = lists.services.at(entryName);
    const Service* service = findServiceByName(entry.serviceName);
    if (!service) fail(MC_INVALID_SERVICE_NAME);
    // A service may name a syntax list of the files or one made at run time.
    std::vector<std::string> syntaxes;
    if (auto s = lists.syntaxLists.find(entry.syntaxList); s != lists.syntaxLists.end())
      syntaxes = s->second;
    else
      syntaxes = c.syntaxLists.at(entry.syntaxList);
    offers.push_back({service->name, service->sopClassUid, syntaxes, entry.scuRole, entry.scpRole});
  }
  return offers;
}

}  // namespace zyl::toolkit::net

using namespace zyl::toolkit;
using namespace zyl::toolkit::net;

extern "C" {

MC_STATUS MC_NewSyntaxList(const char* syntaxListName, const MC_TRANSFER_SYNTAX* syntaxes, int count) {
  return guarded([&] {
    const std::string name = checkedName(syntaxListName);
    if (!syntaxes) return MC_NULL_POINTER_PARM;
    checkCount(count);
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      auto xfer = tables::dcmtkFromSyntax(syntaxes[i]);
      if (!xfer) return MC_INVALID_TRANSFER_SYNTAX;
      std::string uid = DcmXfer(*xfer).getXferID();
      if (std::find(uids.begin(), uids.end(), uid) != uids.end()) return MC_DUPLICATE_SYNTAX;
      uids.push_back(std::move(uid));
    }
    RuntimeLists& lists = runtime();
    std::lock_guard lock(lists.mutex);
    if (nameTaken(lists, name)) return MC_DUPLICATE_NAME;
    lists.syntaxLists.emplace(name, std::move(uids));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_NewServiceFromName(const char* name, const char* serviceName, const char* syntaxListName, int scuRole,
                                int scpRole) {
  return guarded([&] {
    const std::string entryName = checkedName(name);
    if (!serviceName || !syntaxListName) return MC_NULL_POINTER_PARM;
    if (!findServiceByName(serviceName)) return MC_INVALID_SERVICE_NAME;
    RuntimeLists& lists = runtime();
    std::lock_guard lock(lists.mutex);
    if (!lists.syntaxLists.count(syntaxListName) && !configuration().syntaxLists.count(syntaxListName))
      return MC_INVALID_SYNTAX_NAME;
    if (nameTaken(lists, entryName)) return MC_DUPLICATE_NAME;
    lists.services.emplace(entryName, RuntimeService{serviceName, syntaxListName, scuRole != 0, scpRole != 0});
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_NewProposedServiceList(const char* serviceListName, const char* const* serviceNames, int count) {
  return guarded([&] {
    const std::string name = checkedName(serviceListName);
    if (!serviceNames) return MC_NULL_POINTER_PARM;
    checkCount(count);
    RuntimeLists& lists = runtime();
    std::lock_guard lock(lists.mutex);
    std::vector<std::string> entries;
    for (int i = 0; i < count; ++i) {
      if (!serviceNames[i]) return MC_NULL_POINTER_PARM;
      if (!lists.services.count(serviceNames[i])) return MC_INVALID_SERVICE_NAME;
      if (std::find(entries.begin(), entries.end(), serviceNames[i]) != entries.end()) return MC_DUPLICATE_NAME;
      entries.emplace_back(serviceNames[i]);
    }
    if (nameTaken(lists, name)) return MC_DUPLICATE_NAME;
    lists.serviceLists.emplace(name, std::move(entries));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_FreeServiceList(const char* serviceListName) {
  return guarded([&] {
    requireInitialized();
    if (!serviceListName) return MC_NULL_POINTER_PARM;
    RuntimeLists& lists = runtime();
    std::lock_guard lock(lists.mutex);
    // Associations keep what they negotiated, so a list can go at any time.
    return lists.serviceLists.erase(serviceListName) ? MC_NORMAL_COMPLETION : MC_INVALID_SERVICE_LIST_NAME;
  });
}

MC_STATUS MC_FreeService(const char* name) {
  return guarded([&] {
    requireInitialized();
    if (!name) return MC_NULL_POINTER_PARM;
    RuntimeLists& lists = runtime();
    std::lock_guard lock(lists.mutex);
    if (!lists.services.count(name)) return MC_INVALID_SERVICE_NAME;
    for (const auto& [listName, entries] : lists.serviceLists)
      if (std::find(entries.begin(), entries.end(), name) != entries.end()) return MC_SERVICE_IN_USE;
    lists.services.erase(name);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_FreeSyntaxList(const char* syntaxListName) {
  return guarded([&] {
    requireInitialized();
    if (!syntaxListName) return MC_NULL_POINTER_PARM;
    RuntimeLists& lists = runtime();
    std::lock_guard lock(lists.mutex);
    if (!lists.syntaxLists.count(syntaxListName)) return MC_INVALID_SYNTAX_NAME;
    for (const auto& [serviceName, entry] : lists.services)
      if (entry.syntaxList == syntaxListName) return MC_SYNTAX_IN_USE;
    lists.syntaxLists.erase(syntaxListName);
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"
