// The method files of ZYLffOrvoQuery: each lists the methods it serves.
#pragma once

#include "routines.h"

namespace orvo::query {

MethodRows findMessagesMethods();
MethodRows queryMethods();
MethodRows queryObjectMethods();
MethodRows retrieveMethods();
MethodRows statusTablesMethods();

}  // namespace orvo::query
