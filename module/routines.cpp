#include "routines.h"

#include <array>

#include "cfg_methods.h"
#include "file_methods.h"
#include "method.h"
#include "query_methods.h"
#include "storscu_methods.h"

namespace orvo {
namespace {

// Methods that accept keywords and read none (they are ignored).
constexpr HostKeyword kNoneRead[] = {{nullptr, HOST_KW_INT, 0, 0}};

constexpr HostRoutineDef row(const char* name, const MethodEntry& entry, int minArgs, int maxArgs, int flags) {
  const HostKeyword* keywords = entry.keywords;
  if (keywords == nullptr && (flags & HOST_ROUTINE_KEYWORDS)) keywords = kNoneRead;
  return {name, entry.fn, minArgs, maxArgs, flags, keywords};
}

// Each class's methods join these tables as their workers are built. Argument
// counts include the object itself.
const std::array kFunctions{
    row("ZYLFFORVOCFG::ECHO", netconfig::echo, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOCFG::GETAPPLICATIONENTITIES", netconfig::getApplicationEntities, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOCFG::GETAPPLICATIONENTITY", netconfig::getApplicationEntity, 2, 2, 0),
    row("ZYLFFORVOCFG::GETSERVICELISTS", netconfig::getServiceLists, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOCFG::GETSERVICETYPES", netconfig::getServiceTypes, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOCFG::GETVALUE", netconfig::getValue, 2, 2, 0),
    row("ZYLFFORVOCFG::INIT", netconfig::init, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOCFG::ISDIRTY", netconfig::isDirty, 1, 1, 0),
    row("ZYLFFORVOCFG::STORAGESCPSERVICE", netconfig::storageScpService, 2, 2, 0),
    row("ZYLFFORVOQUERY::CFIND_STATUS", query::cfindStatus, 2, 2, HOST_ROUTINE_STATIC),
    row("ZYLFFORVOQUERY::GETVALUE", query::getValue, 3, 3, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::INIT", query::init, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::MC_STATUS", query::mcStatus, 2, 2, HOST_ROUTINE_STATIC),
    row("ZYLFFORVOQUERY::OPENFINDRQ", query::openFindRq, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::QUERY", query::runQuery, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::QUERYMODELSSUPPORTED", query::queryModelsSupported, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::READ", query::read, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::RETRIEVE", query::retrieve, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::SEND", query::send, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOSTORSCU::INIT", storscu::init, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOSTORSCU::SEND", storscu::send, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::ADDGROUP", file::addGroup, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::ADDPRIVATEGROUP", file::addPrivateGroup, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::ADDPRIVATESEQUENCE", file::addPrivateSequence, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::ADDSEQUENCE", file::addSequence, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::ENUMERATETAGS", file::enumerateTags, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETDESCRIPTION", file::getDescription, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETPIXELDATA", file::getPixelData, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETPRIVATEVALUE", file::getPrivateValue, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETPRIVATEVALUECOUNT", file::getPrivateValueCount, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETPRIVATEVALUELENGTH", file::getPrivateValueLength, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETPRIVATEVR", file::getPrivateVR, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETVALUE", file::getValue, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETVALUECOUNT", file::getValueCount, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETVALUELENGTH", file::getValueLength, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETVR", file::getVR, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::INIT", file::init, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::QUERYPRIVATEVALUE", file::queryPrivateValue, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::QUERYVALUE", file::queryValue, 2, 2, HOST_ROUTINE_KEYWORDS),
};
const std::array kProcedures{
    row("ZYLFFORVOCFG::CLEANUP", netconfig::cleanup, 1, 1, 0),
    row("ZYLFFORVOCFG::COMMIT", netconfig::commit, 1, 1, 0),
    row("ZYLFFORVOCFG::REMOVEAPPLICATIONENTITY", netconfig::removeApplicationEntity, 2, 2, 0),
    row("ZYLFFORVOCFG::SETAPPLICATIONENTITY", netconfig::setApplicationEntity, 7, 7, 0),
    row("ZYLFFORVOCFG::SETVALUE", netconfig::setValue, 3, 3, 0),
    row("ZYLFFORVOCFG::UPDATECONFIGURATIONFILE", netconfig::updateConfigurationFile, 1, 1, 0),
    row("ZYLFFORVOQUERY::CLEANUP", query::cleanup, 1, 1, 0),
    row("ZYLFFORVOQUERY::CLEARPROPERTIES", query::clearProperties, 1, 1, 0),
    row("ZYLFFORVOQUERY::CLOSE", query::close, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::FREEMESSAGE", query::freeMessage, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::GETPROPERTY", query::getProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::SETPROPERTY", query::setProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOQUERY::SETVALUE", query::setValue, 3, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOSTORSCU::CLEANUP", storscu::cleanup, 1, 1, 0),
    row("ZYLFFORVOSTORSCU::CLEARPROPERTIES", storscu::clearProperties, 1, 1, 0),
    row("ZYLFFORVOSTORSCU::GETPROPERTY", storscu::getProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVOSTORSCU::SETPROPERTY", storscu::setProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::CHANGETRANSFERSYNTAX", file::changeTransferSyntax, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::CLEANUP", file::cleanup, 1, 1, 0),
    row("ZYLFFORVO::COMMIT", file::commit, 1, 1, 0),
    row("ZYLFFORVO::COPYTAGS", file::copyTags, 4, 4, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::GETPROPERTY", file::getProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::SETPIXELDATA", file::setPixelData, 2, 2, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::SETPRIVATEVALUE", file::setPrivateValue, 5, 6, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::SETPROPERTY", file::setProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    row("ZYLFFORVO::SETVALUE", file::setValue, 2, 4, HOST_ROUTINE_KEYWORDS),
};

}  // namespace

std::span<const HostRoutineDef> functionTable() { return kFunctions; }
std::span<const HostRoutineDef> procedureTable() { return kProcedures; }

}  // namespace orvo
