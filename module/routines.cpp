#include "routines.h"

#include <array>

#include "cfg_methods.h"
#include "file_methods.h"
#include "method.h"

namespace orvo {
namespace {

// Each class's methods join these tables as their workers are built. Argument
// counts include the object itself.
const std::array kFunctions{
    HostRoutineDef{"ZYLFFORVOCFG::ECHO", netconfig::echo, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOCFG::GETAPPLICATIONENTITIES", netconfig::getApplicationEntities, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOCFG::GETAPPLICATIONENTITY", netconfig::getApplicationEntity, 2, 2, 0},
    HostRoutineDef{"ZYLFFORVOCFG::GETSERVICELISTS", netconfig::getServiceLists, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOCFG::GETSERVICETYPES", netconfig::getServiceTypes, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOCFG::GETVALUE", netconfig::getValue, 2, 2, 0},
    HostRoutineDef{"ZYLFFORVOCFG::INIT", netconfig::init, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOCFG::ISDIRTY", netconfig::isDirty, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOCFG::STORAGESCPSERVICE", netconfig::storageScpService, 2, 2, 0},
    HostRoutineDef{"ZYLFFORVO::ADDGROUP", file::addGroup, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::ADDSEQUENCE", file::addSequence, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETDESCRIPTION", file::getDescription, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPIXELDATA", file::getPixelData, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVALUE", file::getValue, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVALUECOUNT", file::getValueCount, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVALUELENGTH", file::getValueLength, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVR", file::getVR, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::INIT", file::init, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::QUERYVALUE", file::queryValue, 2, 2, HOST_ROUTINE_KEYWORDS},
};
const std::array kProcedures{
    HostRoutineDef{"ZYLFFORVOCFG::CLEANUP", netconfig::cleanup, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOCFG::COMMIT", netconfig::commit, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOCFG::REMOVEAPPLICATIONENTITY", netconfig::removeApplicationEntity, 2, 2, 0},
    HostRoutineDef{"ZYLFFORVOCFG::SETAPPLICATIONENTITY", netconfig::setApplicationEntity, 7, 7, 0},
    HostRoutineDef{"ZYLFFORVOCFG::SETVALUE", netconfig::setValue, 3, 3, 0},
    HostRoutineDef{"ZYLFFORVOCFG::UPDATECONFIGURATIONFILE", netconfig::updateConfigurationFile, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVO::CHANGETRANSFERSYNTAX", file::changeTransferSyntax, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::CLEANUP", file::cleanup, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVO::COMMIT", file::commit, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVO::SETPIXELDATA", file::setPixelData, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::SETVALUE", file::setValue, 2, 4, HOST_ROUTINE_KEYWORDS},
};

}  // namespace

std::span<const HostRoutineDef> functionTable() { return kFunctions; }
std::span<const HostRoutineDef> procedureTable() { return kProcedures; }

}  // namespace orvo
