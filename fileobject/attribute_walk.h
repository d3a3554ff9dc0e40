// The walk over the attributes of a message or item, in tag order, within an
// optional range, that listing and copying share.
#pragma once

#include <cstdint>
#include <optional>

#include "messages.h"
#include "toolkit/mc.h"

namespace orvo::file {

// Calls visit(tag, vr, count) for the attributes of `id` from the first one
// at or above `start` up to the first one at or above `stop`. The first
// attribute reached is visited even at or above `stop` when firstAlways.
// A start beyond the last attribute, and walk failures, end the call.
template <typename Visit>
void walkAttributes(int id, std::optional<uint32_t> start, std::optional<uint32_t> stop, bool firstAlways,
                    Visit&& visit) {
  uint32_t tag = 0;
  MC_VR vr = MC_VR_UNKNOWN;
  int count = 0;
  MC_STATUS status = MC_Get_First_Attribute(id, &tag, &vr, &count);
  if (status == MC_MESSAGE_EMPTY) return;
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Error: Failed to get first attribute from file ", MC_Error_Message(status));
  while (start && tag < *start) {
    status = MC_Get_Next_Attribute(id, &tag, &vr, &count);
    if (status == MC_NO_MORE_ATTRIBUTES)
      fail(kErrs2, "Error: End of File reached while looking for start tag. ", MC_Error_Message(status));
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs2, "Error: Failed to get next attribute from file ", MC_Error_Message(status));
  }
  if (!firstAlways && stop && tag >= *stop) return;
  for (;;) {
    visit(tag, vr, count);
    status = MC_Get_Next_Attribute(id, &tag, &vr, &count);
    if (status == MC_NO_MORE_ATTRIBUTES || status == MC_MESSAGE_EMPTY) return;
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs2, "Error: Failed to get next attribute from file ", MC_Error_Message(status));
    if (stop && tag >= *stop) return;
  }
}

}  // namespace orvo::file
