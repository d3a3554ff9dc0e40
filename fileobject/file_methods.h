// The method files of ZYLffOrvo: each lists the methods it serves.
#pragma once

#include "routines.h"

namespace orvo::file {

MethodRows copyTagsMethods();
MethodRows enumerateTagsMethods();
MethodRows lifecycleMethods();
MethodRows pixelDataMethods();
MethodRows pixelWriteMethods();
MethodRows propertiesMethods();
MethodRows syntaxChangeMethods();
MethodRows valuesMethods();
MethodRows writeValuesMethods();

}  // namespace orvo::file
