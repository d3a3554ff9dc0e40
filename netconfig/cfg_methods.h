// The registered methods of ZYLffOrvoCfg, as the routine tables list them.
#pragma once

#include "routines.h"

namespace orvo::netconfig {

extern const MethodEntry init;
extern const MethodEntry cleanup;
extern const MethodEntry commit;
extern const MethodEntry isDirty;
extern const MethodEntry getValue;
extern const MethodEntry setValue;
extern const MethodEntry updateConfigurationFile;
extern const MethodEntry getApplicationEntity;
extern const MethodEntry getApplicationEntities;
extern const MethodEntry setApplicationEntity;
extern const MethodEntry removeApplicationEntity;
extern const MethodEntry getServiceLists;
extern const MethodEntry getServiceTypes;
extern const MethodEntry echo;
extern const MethodEntry storageScpService;

}  // namespace orvo::netconfig
