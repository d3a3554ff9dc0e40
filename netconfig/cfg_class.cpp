#include "netconfig/cfg_class.h"

#include <cstddef>

#include "cfg_document.h"
#include "cfg_methods.h"
#include "structures.h"

namespace orvo::netconfig {
namespace {

using T = zyl::Type;

const HostStructTag kCfgTags[] = {{"ZYLFFORVOCFG_TOP", T::Int64}, {"ORVOCFGXMLFILE", T::String},
                                  {"ORVOCFGXMLDOC", T::Int64},    {"ORVOCFGXMLPARSER", T::Int64},
                                  {"ORVOCFGXMLDIRTY", T::Int16},  {"ZYLFFORVOCFG_BOTTOM", T::Int64},
                                  {nullptr, T::Undefined}};

const HostStructTag kCfgAeTags[] = {
    {"APPLENTITYNAME", T::String},  {"AET", T::String},         {"HOSTNAME", T::String}, {"PORT", T::UInt32},
    {"SERVICELISTNAME", T::String}, {"SERVICETYPE", T::String}, {nullptr, T::Undefined}};

const StructureLayout kInstance{"ZYLFFORVOCFG", kCfgTags,          sizeof(CfgInstance),
                                true,           "ORVOCFGXMLDIRTY", offsetof(CfgInstance, xmlDirty)};
const StructureLayout kAeRecord{
    "ZYLFFORVOCFGAE", kCfgAeTags, sizeof(CfgAeRecord), false, "SERVICETYPE", offsetof(CfgAeRecord, serviceType)};

constexpr MethodFile kMethodFiles[] = {cfgEntitiesMethods, cfgObjectMethods, echoMethods, scpControlMethods};

}  // namespace

// A configuration object's document goes with the object.
bool defineStructures() { return defineClass(kInstance, releaseCfgInstance) && defineStructure(kAeRecord) != nullptr; }

const zyl::StructDef* aeRecordStructure() { return HostFindStructure(kAeRecord.name); }

ClassMethods methods() { return kMethodFiles; }

}  // namespace orvo::netconfig
