// The registered methods of ZYLffOrvoQuery, as the routine tables list them.
#pragma once

#include "routines.h"

namespace orvo::query {

extern const MethodEntry init;
extern const MethodEntry cleanup;
extern const MethodEntry clearProperties;
extern const MethodEntry getProperty;
extern const MethodEntry setProperty;
extern const MethodEntry cfindStatus;
extern const MethodEntry mcStatus;
extern const MethodEntry queryModelsSupported;
extern const MethodEntry openFindRq;
extern const MethodEntry setValue;
extern const MethodEntry send;
extern const MethodEntry read;
extern const MethodEntry getValue;
extern const MethodEntry freeMessage;
extern const MethodEntry close;
extern const MethodEntry runQuery;
extern const MethodEntry retrieve;

}  // namespace orvo::query
