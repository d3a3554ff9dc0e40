// CFind_Status and MC_Status: names and codes of C-FIND response statuses and
// of the toolkit's statuses, looked up either way.
#include <string>

#include "method.h"
#include "query_methods.h"
#include "toolkit/mc.h"

namespace orvo::query {
namespace {

struct StatusName {
  const char* name;
  uint32_t code;
};
constexpr StatusName kFindStatuses[] = {
    {"C_FIND_SUCCESS", 0x0000},
    {"C_FIND_PENDING", 0xFF00},
    {"C_FIND_PENDING_NO_OPTIONAL_KEY_SUPPORT", 0xFF01},
    {"C_FIND_FAILURE_REFUSED_NO_RESOURCES", 0xA700},
    {"C_FIND_FAILURE_INVALID_DATASET", 0xA900},
    {"C_FIND_FAILURE_UNABLE_TO_PROCESS", 0xC001},
    {"C_FIND_FAILURE_RPI_UNABLE_TO_PROCESS", 0xC000},
    {"C_FIND_FAILURE_MORE_THAN_ONE_MATCH_FOUND", 0xC100},
    {"C_FIND_FAILURE_UNABLE_TO_SUPPORT_REQUESTED_TEMPLATE", 0xC200},
    {"C_FIND_CANCEL_REQUEST_RECEIVED", 0xFE00},
};

// A name gives its code, anything else read as a number gives its name; the
// null value when no row matches.
template <typename NameOf, typename CodeOf>
HostVar* lookUp(HostVar* x, NameOf nameOf, CodeOf codeOf) {
  if (x == nullptr) return HostTempNull();
  if (x->isScalarString()) {
    const auto code = codeOf(std::string(x->text()));
    return code ? HostTempLong(static_cast<int32_t>(*code)) : HostTempNull();
  }
  const char* name = nameOf(static_cast<uint32_t>(HostLongScalar(x)));
  return name != nullptr ? HostStringToVar(name) : HostTempNull();
}

HostVar* cfindWorker(MethodCall<StaticMethod, NoKeywords>& call) {
  return lookUp(
      call.arg(1),
      [](uint32_t code) -> const char* {
        for (const StatusName& row : kFindStatuses)
          if (row.code == code) return row.name;
        return nullptr;
      },
      [](const std::string& name) -> std::optional<uint32_t> {
        for (const StatusName& row : kFindStatuses)
          if (name == row.name) return row.code;
        return std::nullopt;
      });
}

// The toolkit's statuses: normal completion and the codes from 4000 on.
constexpr uint32_t kFirstToolkitStatus = 4000, kLastToolkitStatus = 4140;

HostVar* mcWorker(MethodCall<StaticMethod, NoKeywords>& call) {
  return lookUp(
      call.arg(1), [](uint32_t code) { return MC_Status_Name(static_cast<MC_STATUS>(code)); },
      [](const std::string& name) -> std::optional<uint32_t> {
        if (name == "MC_NORMAL_COMPLETION") return MC_NORMAL_COMPLETION;
        for (uint32_t code = kFirstToolkitStatus; code <= kLastToolkitStatus; ++code)
          if (const char* known = MC_Status_Name(static_cast<MC_STATUS>(code)); known != nullptr && name == known)
            return code;
        return std::nullopt;
      });
}

}  // namespace

MethodRows statusTablesMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOQUERY::CFIND_STATUS", methodEntry<StaticMethod, NoKeywords, cfindWorker>, 2, 2,
                  HOST_ROUTINE_STATIC),
      functionRow("ZYLFFORVOQUERY::MC_STATUS", methodEntry<StaticMethod, NoKeywords, mcWorker>, 2, 2,
                  HOST_ROUTINE_STATIC),
  };
  return kRows;
}

}  // namespace orvo::query
