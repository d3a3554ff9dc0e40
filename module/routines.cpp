#include "routines.h"

#include <array>

#include "method.h"

namespace orvo {
namespace {

// Each class's methods join these tables as their workers are built.
const std::array<HostRoutineDef, 0> kFunctions{};
const std::array<HostRoutineDef, 0> kProcedures{};

}  // namespace

std::span<const HostRoutineDef> functionTable() { return kFunctions; }
std::span<const HostRoutineDef> procedureTable() { return kProcedures; }

}  // namespace orvo
