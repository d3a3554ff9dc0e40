// The module's entry point: the four classes' structures, class records and
// release callbacks, the message block, start-up, then the classes' methods.
#include <iterator>
#include <vector>

#include "fileobject/file_class.h"
#include "messages.h"
#include "netconfig/cfg_class.h"
#include "query/query_class.h"
#include "routines.h"
#include "startup.h"
#include "storscu/storscu_class.h"

namespace orvo {
namespace {

struct ModuleClass {
  bool (*defineStructures)();
  ClassMethods (*methods)();
};
// In the order their structures are defined.
constexpr ModuleClass kClasses[] = {{file::defineStructures, file::methods},
                                    {netconfig::defineStructures, netconfig::methods},
                                    {query::defineStructures, query::methods},
                                    {storscu::defineStructures, storscu::methods}};

// After a failed start the classes stay defined, and the load's messages
// scroll away; creating an object then fails with what went wrong.
HostVar* refuseObject(int, HostVar*[], zyl::KeywordList*) {
  fail(kErrs2, "Error: The Orvo module did not start", startUpMessages());
}

void registerRefusingInits() {
  static const HostRoutineDef kInits[] = {
      {"ZYLFFORVO::INIT", refuseObject, 1, 16, HOST_ROUTINE_KEYWORDS},
      {"ZYLFFORVOCFG::INIT", refuseObject, 1, 16, HOST_ROUTINE_KEYWORDS},
      {"ZYLFFORVOQUERY::INIT", refuseObject, 1, 16, HOST_ROUTINE_KEYWORDS},
      {"ZYLFFORVOSTORSCU::INIT", refuseObject, 1, 16, HOST_ROUTINE_KEYWORDS},
  };
  HostAddRoutines(kInits, 1, static_cast<int>(std::size(kInits)));
}

int load() {
  for (const ModuleClass& c : kClasses)
    if (!c.defineStructures()) return 0;
  HostMsgBlock block = defineMessageBlock();
  if (!startUp()) {
    if (block != nullptr) registerRefusingInits();
    return 0;
  }
  if (block == nullptr) return 0;
  // Two tables for the host, which checks a whole table before it adds any.
  std::vector<HostRoutineDef> functions, procedures;
  for (const ModuleClass& c : kClasses)
    for (const MethodFile methodFile : c.methods())
      for (const MethodRow& row : methodFile()) (row.returnsValue ? functions : procedures).push_back(row.def);
  if (!HostAddRoutines(functions.data(), 1, static_cast<int>(functions.size())) ||
      !HostAddRoutines(procedures.data(), 0, static_cast<int>(procedures.size())))
    return 0;
  return 1;
}

}  // namespace
}  // namespace orvo

extern "C" __attribute__((visibility("default"))) int ZYL_Load() { return orvo::load(); }
