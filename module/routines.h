// The module's routine tables: the one place that lists the registered methods.
#pragma once

#include <span>

#include "zyl/host.h"

namespace orvo {

// A registered method: its routine and the keywords it accepts (nullptr for
// none), so that the host can list them.
struct MethodEntry {
  HostRoutineFn fn;
  const HostKeyword* keywords;
};

std::span<const HostRoutineDef> functionTable();
std::span<const HostRoutineDef> procedureTable();

}  // namespace orvo
