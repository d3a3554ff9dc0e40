#include "netconfig/cfg_class.h"

#include <array>
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

// Argument counts include the object itself.
const std::array kFunctions{
    routine("ZYLFFORVOCFG::ECHO", echo, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOCFG::GETAPPLICATIONENTITIES", getApplicationEntities, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOCFG::GETAPPLICATIONENTITY", getApplicationEntity, 2, 2, 0),
    routine("ZYLFFORVOCFG::GETSERVICELISTS", getServiceLists, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOCFG::GETSERVICETYPES", getServiceTypes, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOCFG::GETVALUE", getValue, 2, 2, 0),
    routine("ZYLFFORVOCFG::INIT", init, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVOCFG::ISDIRTY", isDirty, 1, 1, 0),
    routine("ZYLFFORVOCFG::STORAGESCPSERVICE", storageScpService, 2, 2, 0),
};
const std::array kProcedures{
    routine("ZYLFFORVOCFG::CLEANUP", cleanup, 1, 1, 0),
    routine("ZYLFFORVOCFG::COMMIT", commit, 1, 1, 0),
    routine("ZYLFFORVOCFG::REMOVEAPPLICATIONENTITY", removeApplicationEntity, 2, 2, 0),
    routine("ZYLFFORVOCFG::SETAPPLICATIONENTITY", setApplicationEntity, 7, 7, 0),
    routine("ZYLFFORVOCFG::SETVALUE", setValue, 3, 3, 0),
    routine("ZYLFFORVOCFG::UPDATECONFIGURATIONFILE", updateConfigurationFile, 1, 1, 0),
};

}  // namespace

// A configuration object's document goes with the object.
bool defineStructures() { return defineClass(kInstance, releaseCfgInstance) && defineStructure(kAeRecord) != nullptr; }

const zyl::StructDef* aeRecordStructure() { return HostFindStructure(kAeRecord.name); }

ClassRoutines routines() { return {kFunctions, kProcedures}; }

}  // namespace orvo::netconfig
