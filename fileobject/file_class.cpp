#include "fileobject/file_class.h"

#include <array>
#include <cstddef>

#include "file_instance.h"
#include "file_methods.h"
#include "structures.h"

namespace orvo::file {
namespace {

using T = zyl::Type;

const HostStructTag kFileTags[] = {
    {"ZYLFFORVO_TOP", T::Int64},   {"ORVONONCONFORMING", T::Int16}, {"ORVOMSGFILEID", T::Int32},
    {"ORVOFILENAME", T::String},   {"ORVOAPPNAME", T::String},      {"ORVOAPPID", T::Int32},
    {"ORVOFILEMODE", T::Int32},    {"ORVOFILECLONED", T::String},   {"ORVOSOPCLASS", T::String},
    {"ORVONOPIXELDATA", T::Int16}, {"ZYLFFORVO_BOTTOM", T::Int64},  {nullptr, T::Undefined}};

const HostStructTag kElementTags[] = {{"TAG", T::String},     {"DESCRIPTION", T::String}, {"VR", T::String},
                                      {"LENGTH", T::UInt32},  {"VALUECOUNT", T::Int32},   {"SEQID", T::Int32},
                                      {"GROUPNUM", T::Int32}, {"LEVEL", T::Int32},        {"VALUE", T::String},
                                      {nullptr, T::Undefined}};

const StructureLayout kInstance{"ZYLFFORVO", kFileTags,         sizeof(FileInstance),
                                true,        "ORVONOPIXELDATA", offsetof(FileInstance, noPixelData)};
const StructureLayout kElement{
    "ZYLFFORVOELEMENT", kElementTags, sizeof(ElementRecord), false, "VALUE", offsetof(ElementRecord, value)};

// Argument counts include the object itself.
const std::array kFunctions{
    routine("ZYLFFORVO::ADDGROUP", addGroup, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::ADDPRIVATEGROUP", addPrivateGroup, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::ADDPRIVATESEQUENCE", addPrivateSequence, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::ADDSEQUENCE", addSequence, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::ENUMERATETAGS", enumerateTags, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETDESCRIPTION", getDescription, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETPIXELDATA", getPixelData, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETPRIVATEVALUE", getPrivateValue, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETPRIVATEVALUECOUNT", getPrivateValueCount, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETPRIVATEVALUELENGTH", getPrivateValueLength, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETPRIVATEVR", getPrivateVR, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETVALUE", getValue, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETVALUECOUNT", getValueCount, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETVALUELENGTH", getValueLength, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETVR", getVR, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::INIT", init, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::QUERYPRIVATEVALUE", queryPrivateValue, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::QUERYVALUE", queryValue, 2, 2, HOST_ROUTINE_KEYWORDS),
};
const std::array kProcedures{
    routine("ZYLFFORVO::CHANGETRANSFERSYNTAX", changeTransferSyntax, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::CLEANUP", cleanup, 1, 1, 0),
    routine("ZYLFFORVO::COMMIT", commit, 1, 1, 0),
    routine("ZYLFFORVO::COPYTAGS", copyTags, 4, 4, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::GETPROPERTY", getProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::SETPIXELDATA", setPixelData, 2, 2, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::SETPRIVATEVALUE", setPrivateValue, 5, 6, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::SETPROPERTY", setProperty, 1, 1, HOST_ROUTINE_KEYWORDS),
    routine("ZYLFFORVO::SETVALUE", setValue, 2, 4, HOST_ROUTINE_KEYWORDS),
};

}  // namespace

bool defineStructures() { return defineClass(kInstance, releaseNothing) && defineStructure(kElement) != nullptr; }

const zyl::StructDef* elementStructure() { return HostFindStructure(kElement.name); }

ClassRoutines routines() { return {kFunctions, kProcedures}; }

}  // namespace orvo::file
