#include "storscu/storscu_class.h"

#include <array>
#include <cstddef>

#include "storscu_instance.h"
#include "storscu_methods.h"
#include "structures.h"

namespace orvo::storscu {
namespace {

using T = zyl::Type;

const HostStructTag kStorScuTags[] = {{"ZYLFFORVOSTORSCU_TOP", T::Int64},    {"ORVOSTORSCUAENSTORAGE", T::String},
                                      {"ORVOSTORSCUCB", T::String},          {"ORVOSTORSCUCBDATA", T::Pointer},
                                      {"ZYLFFORVOSTORSCU_BOTTOM", T::Int64}, {nullptr, T::Undefined}};

const StructureLayout kInstance{"ZYLFFORVOSTORSCU",      kStorScuTags,
                                sizeof(StorScuInstance), true,
                                "ORVOSTORSCUCBDATA",     offsetof(StorScuInstance, callbackData)};

// Argument counts include the object itself.
const std::array kFunctions{
    routine("ZYLFFORVOSTORSCU::INIT", init, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOSTORSCU::SEND", send, 2, 2, HOST_ROUTINE_KEYWORDS),
};
const std::array kProcedures{
    routine("ZYLFFORVOSTORSCU::CLEANUP", cleanup, 1, 1, 0),
    routine("ZYLFFORVOSTORSCU::CLEARPROPERTIES", clearProperties, 1, 1, 0),
    routine("ZYLFFORVOSTORSCU::GETPROPERTY", getProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOSTORSCU::SETPROPERTY", setProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
};

}  // namespace

bool defineStructures() { return defineClass(kInstance, releaseNothing); }

ClassRoutines routines() { return {kFunctions, kProcedures}; }

}  // namespace orvo::storscu
