#include "callback.h"

#include <string>
#include <utility>

#include "messages.h"

namespace orvo {
namespace {

// Temporaries handed to the callback, released on every way out.
class Temporaries {
 public:
  ~Temporaries() {
    for (HostVar* v : held_) HostFreeTemporary(v);
  }
  HostVar* hold(HostVar* v) {
    held_[count_++] = v;
    return v;
  }

 private:
  HostVar* held_[3] = {};
  int count_ = 0;
};

}  // namespace

int16_t notifyCallback(std::string_view function, uint64_t dataId, std::string_view message) {
  if (function.empty()) return 1;
  const std::string name(function);
  HostRoutineHandle routine = HostLookupName(name.c_str());
  if (routine == nullptr) fail(kErrs2, "Error: The callback function does not exist ", name);
  Temporaries temporaries;
  HostVar* args[2] = {temporaries.hold(HostStringToVar(std::string(message).c_str())), nullptr};
  int argc = 1;
  if (HostVar* data = dataId != 0 ? HostHeapFind(dataId) : nullptr) {
    // A copy, so that the callback cannot change the stored data through it.
    HostVar* copy = temporaries.hold(HostTempVar(zyl::Type::Undefined));
    *copy = *data;
    args[argc++] = copy;
  }
  HostVar* result = temporaries.hold(HostCallRoutine(routine, argc, args));
  return HostToInt(result);
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
