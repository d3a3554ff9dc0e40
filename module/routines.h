// The module's routine tables: the one place that lists the registered methods.
#pragma once

#include <span>

#include "zyl/host.h"

namespace orvo {

std::span<const HostRoutineDef> functionTable();
std::span<const HostRoutineDef> procedureTable();

}  // namespace orvo
