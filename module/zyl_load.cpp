// The module's entry point: structures, class records, release callbacks, the
// message block, start-up, then the routine tables.
#include <iterator>

#include "cfg_document.h"
#include "messages.h"
#include "routines.h"
#include "startup.h"
#include "structures.h"

namespace orvo {
namespace {

// File, query and storage client objects own nothing the host does not
// release itself (a file object's data set goes with its Cleanup, which the
// host calls); a configuration object's document goes with the object.
void releaseNothing(void*) {}

void setReleaseCallbacks() {
  for (Structure s : {Structure::File, Structure::Query, Structure::StorScu})
    HostSetClassReleaseCallback(structure(s)->classRecord(), releaseNothing);
  HostSetClassReleaseCallback(structure(Structure::Cfg)->classRecord(), netconfig::releaseCfgInstance);
}

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
  if (!defineStructures()) return 0;
  setReleaseCallbacks();
  HostMsgBlock block = defineMessageBlock();
  if (!startUp()) {
    if (block != nullptr) registerRefusingInits();
    return 0;
  }
  if (block == nullptr) return 0;
  const auto functions = functionTable();
  if (!HostAddRoutines(functions.data(), 1, static_cast<int>(functions.size()))) return 0;
  const auto procedures = procedureTable();
  return HostAddRoutines(procedures.data(), 0, static_cast<int>(procedures.size())) != 0 ? 1 : 0;
}

}  // namespace
}  // namespace orvo

extern "C" __attribute__((visibility("default"))) int ZYL_Load() { return orvo::load(); }
