// A module whose ZYL_Load behaves as ZYL_LOADMOD_MODE says: "error" raises an
// action-2 message, "zero" returns 0, anything else succeeds. Each run first
// issues an informational message, so tests see what %N stands for at load.
#include <cstdlib>
#include <cstring>

#include "zyl/host.h"

extern "C" __attribute__((visibility("default"))) int ZYL_Load() {
  static const HostMessageDef kMessages[] = {{"ZYL_M_LOAD_INFO", "%N %s"}};
  HostMsgBlock block = HostDefineMessageBlock("ZYL_MBLK_LOADMOD", 1, kMessages);
  HostMessage(block, 0, HOST_MSG_INFO, "loading");
  HostStringToVar("left for the runtime to free");
  const char* mode = std::getenv("ZYL_LOADMOD_MODE");
  if (mode != nullptr && std::strcmp(mode, "error") == 0) HostMessage(block, 0, HOST_MSG_ERROR, "Error: refused");
  if (mode != nullptr && std::strcmp(mode, "zero") == 0) return 0;
  return 1;
}
