#include "structures.h"

#include <array>
#include <cstddef>

namespace orvo {
namespace {

using T = zyl::Type;

const HostStructTag kFileTags[] = {
    {"ZYLFFORVO_TOP", T::Int64},   {"ORVONONCONFORMING", T::Int16}, {"ORVOMSGFILEID", T::Int32},
    {"ORVOFILENAME", T::String},   {"ORVOAPPNAME", T::String},      {"ORVOAPPID", T::Int32},
    {"ORVOFILEMODE", T::Int32},    {"ORVOFILECLONED", T::String},   {"ORVOSOPCLASS", T::String},
    {"ORVONOPIXELDATA", T::Int16}, {"ZYLFFORVO_BOTTOM", T::Int64},  {nullptr, T::Undefined}};

const HostStructTag kElementTags[] = {
    {"TAG", T::String},     {"DESCRIPTION", T::String}, {"VR", T::String},    {"LENGTH", T::UInt32},
    {"VALUECOUNT", T::Int32}, {"SEQID", T::Int32},      {"GROUPNUM", T::Int32}, {"LEVEL", T::Int32},
    {"VALUE", T::String},   {nullptr, T::Undefined}};

const HostStructTag kCfgTags[] = {
    {"ZYLFFORVOCFG_TOP", T::Int64}, {"ORVOCFGXMLFILE", T::String},    {"ORVOCFGXMLDOC", T::Int64},
    {"ORVOCFGXMLPARSER", T::Int64}, {"ORVOCFGXMLDIRTY", T::Int16},    {"ZYLFFORVOCFG_BOTTOM", T::Int64},
    {nullptr, T::Undefined}};

const HostStructTag kCfgAeTags[] = {
    {"APPLENTITYNAME", T::String}, {"AET", T::String},         {"HOSTNAME", T::String}, {"PORT", T::UInt32},
    {"SERVICELISTNAME", T::String}, {"SERVICETYPE", T::String}, {nullptr, T::Undefined}};

const HostStructTag kQueryTags[] = {
    {"ZYLFFORVOQUERY_TOP", T::Int64},   {"ORVOQUERYAENQUERY", T::String},  {"ORVOQUERYAENSTORAGE", T::String},
    {"ORVOQUERYMODEL", T::Int16},       {"ORVOQUERYLEVEL", T::Int16},      {"ORVOQUERYCB", T::String},
    {"ORVOQUERYCBDATA", T::Pointer},    {"ORVOQUERYPATIENT", T::String},   {"ORVOQUERYFAMILY", T::String},
    {"ORVOQUERYGIVEN", T::String},      {"ORVOQUERYMIDDLE", T::String},    {"ORVOQUERYPREFIX", T::String},
    {"ORVOQUERYSUFFIX", T::String},     {"ORVOQUERYPATIENTID", T::String}, {"ORVOQUERYSTUDYUID", T::String},
    {"ORVOQUERYSTUDYID", T::String},    {"ORVOQUERYSTUDYDATE", T::String}, {"ORVOQUERYSTUDYTIME", T::String},
    {"ORVOQUERYACCESSION", T::String},  {"ORVOQUERYSERIESUID", T::String}, {"ORVOQUERYSERIESNUM", T::String},
    {"ORVOQUERYMODALITY", T::String},   {"ORVOQUERYSOPUID", T::String},    {"ORVOQUERYINSTANCENUM", T::String},
    {"ZYLFFORVOQUERY_BOTTOM", T::Int64}, {nullptr, T::Undefined}};

const HostStructTag kQueryResultTags[] = {
    {"PATIENT_NAME", T::String},       {"FAMILY_NAME", T::String},         {"GIVEN_NAME", T::String},
    {"MIDDLE_NAME", T::String},        {"PREFIX", T::String},              {"SUFFIX", T::String},
    {"PATIENT_ID", T::String},         {"STUDY_INSTANCE_UID", T::String},  {"STUDY_ID", T::String},
    {"STUDY_DATE", T::String},         {"STUDY_TIME", T::String},          {"ACCESSION_NUMBER", T::String},
    {"SERIES_INSTANCE_UID", T::String}, {"SERIES_NUMBER", T::String},      {"MODALITY", T::String},
    {"SOP_INSTANCE_UID", T::String},   {"INSTANCE_NUMBER", T::String},     {"STUDY_DESCRIPTION", T::String},
    {"SERIES_DESCRIPTION", T::String}, {nullptr, T::Undefined}};

const HostStructTag kStorScuTags[] = {
    {"ZYLFFORVOSTORSCU_TOP", T::Int64}, {"ORVOSTORSCUAENSTORAGE", T::String}, {"ORVOSTORSCUCB", T::String},
    {"ORVOSTORSCUCBDATA", T::Pointer},  {"ZYLFFORVOSTORSCU_BOTTOM", T::Int64}, {nullptr, T::Undefined}};

struct StructureSpec {
  const char* name;
  const HostStructTag* tags;
  size_t mirrorSize;
  bool isClass;
  // One field whose offset must match the mirror: catches a layout drift.
  const char* probeField;
  size_t probeOffset;
};

const std::array<StructureSpec, static_cast<size_t>(Structure::Count)> kStructures = {{
    {"ZYLFFORVO", kFileTags, sizeof(FileInstance), true, "ORVONOPIXELDATA", offsetof(FileInstance, noPixelData)},
    {"ZYLFFORVOELEMENT", kElementTags, sizeof(ElementRecord), false, "VALUE", offsetof(ElementRecord, value)},
    {"ZYLFFORVOCFG", kCfgTags, sizeof(CfgInstance), true, "ORVOCFGXMLDIRTY", offsetof(CfgInstance, xmlDirty)},
    {"ZYLFFORVOCFGAE", kCfgAeTags, sizeof(CfgAeRecord), false, "SERVICETYPE", offsetof(CfgAeRecord, serviceType)},
    {"ZYLFFORVOQUERY", kQueryTags, sizeof(QueryInstance), true, "ORVOQUERYINSTANCENUM",
     offsetof(QueryInstance, instanceNum)},
    {"ZYLFFORVOQRESULTS", kQueryResultTags, sizeof(QueryResultRecord), false, "SERIES_DESCRIPTION",
     offsetof(QueryResultRecord, seriesDescription)},
    {"ZYLFFORVOSTORSCU", kStorScuTags, sizeof(StorScuInstance), true, "ORVOSTORSCUCBDATA",
     offsetof(StorScuInstance, callbackData)},
}};

std::array<const zyl::StructDef*, static_cast<size_t>(Structure::Count)> gDefinitions{};

}  // namespace

bool defineStructures() {
  for (size_t i = 0; i < kStructures.size(); ++i) {
    const StructureSpec& entry = kStructures[i];
    zyl::StructDef* def = HostDefineStructure(entry.name, entry.tags);
    if (def == nullptr || def->size() != entry.mirrorSize ||
        HostStructFieldOffset(def, entry.probeField) != entry.probeOffset)
      return false;
    // A definition that already carries a class record (a module loaded
    // before us defined it) keeps it.
    if (entry.isClass && def->classRecord() == nullptr) def->setClassRecord(HostClassRecordCreate(entry.name));
    gDefinitions[i] = def;
  }
  return true;
}

const zyl::StructDef* structure(Structure which) { return gDefinitions[static_cast<size_t>(which)]; }

}  // namespace orvo
