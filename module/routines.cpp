#include "routines.h"

#include <array>

#include "cfg_methods.h"
#include "file_methods.h"
#include "method.h"
#include "query_methods.h"
#include "storscu_methods.h"

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
    HostRoutineDef{"ZYLFFORVOQUERY::CFIND_STATUS", query::cfindStatus, 2, 2, HOST_ROUTINE_STATIC},
    HostRoutineDef{"ZYLFFORVOQUERY::GETVALUE", query::getValue, 3, 3, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::INIT", query::init, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::MC_STATUS", query::mcStatus, 2, 2, HOST_ROUTINE_STATIC},
    HostRoutineDef{"ZYLFFORVOQUERY::OPENFINDRQ", query::openFindRq, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::QUERY", query::runQuery, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::QUERYMODELSSUPPORTED", query::queryModelsSupported, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::READ", query::read, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::RETRIEVE", query::retrieve, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::SEND", query::send, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOSTORSCU::INIT", storscu::init, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOSTORSCU::SEND", storscu::send, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::ADDGROUP", file::addGroup, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::ADDPRIVATEGROUP", file::addPrivateGroup, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::ADDPRIVATESEQUENCE", file::addPrivateSequence, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::ADDSEQUENCE", file::addSequence, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::ENUMERATETAGS", file::enumerateTags, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETDESCRIPTION", file::getDescription, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPIXELDATA", file::getPixelData, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPRIVATEVALUE", file::getPrivateValue, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPRIVATEVALUECOUNT", file::getPrivateValueCount, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPRIVATEVALUELENGTH", file::getPrivateValueLength, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPRIVATEVR", file::getPrivateVR, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVALUE", file::getValue, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVALUECOUNT", file::getValueCount, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVALUELENGTH", file::getValueLength, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETVR", file::getVR, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::INIT", file::init, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::QUERYPRIVATEVALUE", file::queryPrivateValue, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::QUERYVALUE", file::queryValue, 2, 2, HOST_ROUTINE_KEYWORDS},
};
const std::array kProcedures{
    HostRoutineDef{"ZYLFFORVOCFG::CLEANUP", netconfig::cleanup, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOCFG::COMMIT", netconfig::commit, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOCFG::REMOVEAPPLICATIONENTITY", netconfig::removeApplicationEntity, 2, 2, 0},
    HostRoutineDef{"ZYLFFORVOCFG::SETAPPLICATIONENTITY", netconfig::setApplicationEntity, 7, 7, 0},
    HostRoutineDef{"ZYLFFORVOCFG::SETVALUE", netconfig::setValue, 3, 3, 0},
    HostRoutineDef{"ZYLFFORVOCFG::UPDATECONFIGURATIONFILE", netconfig::updateConfigurationFile, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOQUERY::CLEANUP", query::cleanup, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOQUERY::CLEARPROPERTIES", query::clearProperties, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOQUERY::CLOSE", query::close, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::FREEMESSAGE", query::freeMessage, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::GETPROPERTY", query::getProperty, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::SETPROPERTY", query::setProperty, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOQUERY::SETVALUE", query::setValue, 3, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOSTORSCU::CLEANUP", storscu::cleanup, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOSTORSCU::CLEARPROPERTIES", storscu::clearProperties, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVOSTORSCU::GETPROPERTY", storscu::getProperty, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVOSTORSCU::SETPROPERTY", storscu::setProperty, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::CHANGETRANSFERSYNTAX", file::changeTransferSyntax, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::CLEANUP", file::cleanup, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVO::COMMIT", file::commit, 1, 1, 0},
    HostRoutineDef{"ZYLFFORVO::COPYTAGS", file::copyTags, 4, 4, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::GETPROPERTY", file::getProperty, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::SETPIXELDATA", file::setPixelData, 2, 2, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::SETPRIVATEVALUE", file::setPrivateValue, 5, 6, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::SETPROPERTY", file::setProperty, 1, 1, HOST_ROUTINE_KEYWORDS},
    HostRoutineDef{"ZYLFFORVO::SETVALUE", file::setValue, 2, 4, HOST_ROUTINE_KEYWORDS},
};

}  // namespace

std::span<const HostRoutineDef> functionTable() { return kFunctions; }
std::span<const HostRoutineDef> procedureTable() { return kProcedures; }

}  // namespace orvo
