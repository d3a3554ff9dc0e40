// The module's entry point: the four classes' structures, class records and
// release callbacks, the message block, start-up, then the classes' methods.
#include <iterator>

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
  for (const ModuleClass& c : kClasses)
    for (const MethodFile methodFile : c.methods())
      for (const MethodRow& row : methodFile())
        if (!HostAddRoutines(&row.def, row.returnsValue ? 1 : 0, 1)) return 0;
  return 1;
}

}  // namespace
}  // namespace orvo

extern "C" __attribute__((visibility("default"))) int ZYL_Load() { return orvo::load(); }
