// The method files of ZYLffOrvoStorScu: each lists the methods it serves.
#pragma once

#include "routines.h"

namespace orvo::storscu {

MethodRows sendMethods();
MethodRows storscuObjectMethods();

}  // namespace orvo::storscu
