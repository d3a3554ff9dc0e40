// The ZYLffOrvoStorScu object's instance structure, laid out exactly as the
// host lays it out.
#pragma once

#include <cstdint>

#include "structures.h"
#include "zyl/host.h"

namespace orvo {

struct StorScuInstance {  // ZYLFFORVOSTORSCU
  int64_t top;
  zyl::HostString aenStorage;
  zyl::HostString callback;
  uint64_t callbackData;
  int64_t bottom;
};

template <>
struct ClassTraits<StorScuInstance> {
  static constexpr const char* name = "ZYLFFORVOSTORSCU";
};

}  // namespace orvo
