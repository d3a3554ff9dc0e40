// The progress callback of the client objects: a host function named by the
// object, called with each message text and, when the object holds some,
// a copy of its callback data.
#pragma once

#include <cstdint>
#include <string_view>

#include "zyl/host.h"

namespace orvo {

// Calls the host function `function` (nothing when it is empty; the result is
// then 1) with `message` and a copy of the heap variable `dataId` when that
// still exists. Its result as a 16-bit integer: 0 asks the running operation
// to stop. A function that does not exist stops the call with an error.
int16_t notifyCallback(std::string_view function, uint64_t dataId, std::string_view message);

// The callback data properties: the value a heap identifier holds into an
// output variable, and a new value stored under a fresh identifier.
void getCallbackData(uint64_t dataId, HostVar* out);
void setCallbackData(uint64_t& dataId, HostVar* value);

}  // namespace orvo
