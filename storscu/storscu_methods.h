// The registered methods of ZYLffOrvoStorScu, as the routine tables list them.
#pragma once

#include "routines.h"

namespace orvo::storscu {

extern const MethodEntry init;
extern const MethodEntry cleanup;
extern const MethodEntry clearProperties;
extern const MethodEntry getProperty;
extern const MethodEntry setProperty;
extern const MethodEntry send;

}  // namespace orvo::storscu
