#include "fileobject/file_class.h"

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

constexpr MethodFile kMethodFiles[] = {copyTagsMethods,     enumerateTagsMethods, lifecycleMethods,
                                       pixelDataMethods,    pixelWriteMethods,    propertiesMethods,
                                       syntaxChangeMethods, valuesMethods,        writeValuesMethods};

}  // namespace

bool defineStructures() { return defineClass(kInstance, releaseNothing) && defineStructure(kElement) != nullptr; }

const zyl::StructDef* elementStructure() { return HostFindStructure(kElement.name); }

ClassMethods methods() { return kMethodFiles; }

}  // namespace orvo::file
