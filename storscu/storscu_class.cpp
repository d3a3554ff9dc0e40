#include "storscu/storscu_class.h"

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

constexpr MethodFile kMethodFiles[] = {sendMethods, storscuObjectMethods};

}  // namespace

bool defineStructures() { return defineClass(kInstance, releaseNothing); }

ClassMethods methods() { return kMethodFiles; }

}  // namespace orvo::storscu
