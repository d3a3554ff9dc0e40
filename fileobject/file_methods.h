// The registered methods of ZYLffOrvo, as the routine tables list them.
#pragma once

#include "routines.h"

namespace orvo::file {

extern const MethodEntry init;
extern const MethodEntry cleanup;
extern const MethodEntry commit;
extern const MethodEntry getValue;
extern const MethodEntry getValueCount;
extern const MethodEntry getValueLength;
extern const MethodEntry getVR;
extern const MethodEntry getDescription;
extern const MethodEntry queryValue;
extern const MethodEntry setValue;
extern const MethodEntry addSequence;
extern const MethodEntry addGroup;
extern const MethodEntry getPixelData;
extern const MethodEntry setPixelData;
extern const MethodEntry changeTransferSyntax;
extern const MethodEntry getProperty;
extern const MethodEntry setProperty;
extern const MethodEntry getPrivateValue;
extern const MethodEntry getPrivateValueCount;
extern const MethodEntry getPrivateValueLength;
extern const MethodEntry getPrivateVR;
extern const MethodEntry queryPrivateValue;
extern const MethodEntry setPrivateValue;
extern const MethodEntry addPrivateSequence;
extern const MethodEntry addPrivateGroup;
extern const MethodEntry copyTags;
extern const MethodEntry enumerateTags;

}  // namespace orvo::file
