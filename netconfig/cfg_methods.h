// The method files of ZYLffOrvoCfg: each lists the methods it serves.
#pragma once

#include "routines.h"

namespace orvo::netconfig {

MethodRows cfgEntitiesMethods();
MethodRows cfgObjectMethods();
MethodRows echoMethods();
MethodRows scpControlMethods();

}  // namespace orvo::netconfig
