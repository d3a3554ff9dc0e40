#include "callback.h"

#include <optional>
#include <string>

#include "host_temporary.h"
#include "messages.h"

namespace orvo {

int16_t notifyCallback(std::string_view function, uint64_t dataId, std::string_view message) {
  if (function.empty()) return 1;
  const std::string name(function);
  HostRoutineHandle routine = HostLookupName(name.c_str());
  if (routine == nullptr) fail(kErrs2, "Error: The callback function does not exist ", name);
  const HostTemporary text(HostStringToVar(std::string(message).c_str()));
  HostVar* args[2] = {text.get(), nullptr};
  int argc = 1;
  std::optional<HostTemporary> copy;
  if (HostVar* data = dataId != 0 ? HostHeapFind(dataId) : nullptr) {
    // A copy, so that the callback cannot change the stored data through it.
    copy.emplace(HostTempVar(zyl::Type::Undefined));
    *copy->get() = *data;
    args[argc++] = copy->get();
  }
  const HostTemporary result(HostCallRoutine(routine, argc, args));
  return HostToInt(result.get());
}

void getCallbackData(uint64_t dataId, HostVar* out) {
  if (out == nullptr) return;
  if (dataId == 0) return HostMakeUndefined(out);
  if (HostVar* data = HostHeapFind(dataId)) *out = *data;
  // An identifier whose heap variable is gone leaves the output as it was.
}

void setCallbackData(uint64_t& dataId, HostVar* value) {
  if (dataId != 0 && HostHeapFind(dataId) != nullptr) HostHeapFree(dataId);
  dataId = 0;
  if (value != nullptr && value->isDefined()) dataId = HostHeapNew(value);
}

}  // namespace orvo
