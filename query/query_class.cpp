#include "query/query_class.h"

#include <cstddef>

#include "query_instance.h"
#include "query_methods.h"
#include "structures.h"

namespace orvo::query {
namespace {

using T = zyl::Type;

const HostStructTag kQueryTags[] = {{"ZYLFFORVOQUERY_TOP", T::Int64},    {"ORVOQUERYAENQUERY", T::String},
                                    {"ORVOQUERYAENSTORAGE", T::String},  {"ORVOQUERYMODEL", T::Int16},
                                    {"ORVOQUERYLEVEL", T::Int16},        {"ORVOQUERYCB", T::String},
                                    {"ORVOQUERYCBDATA", T::Pointer},     {"ORVOQUERYPATIENT", T::String},
                                    {"ORVOQUERYFAMILY", T::String},      {"ORVOQUERYGIVEN", T::String},
                                    {"ORVOQUERYMIDDLE", T::String},      {"ORVOQUERYPREFIX", T::String},
                                    {"ORVOQUERYSUFFIX", T::String},      {"ORVOQUERYPATIENTID", T::String},
                                    {"ORVOQUERYSTUDYUID", T::String},    {"ORVOQUERYSTUDYID", T::String},
                                    {"ORVOQUERYSTUDYDATE", T::String},   {"ORVOQUERYSTUDYTIME", T::String},
                                    {"ORVOQUERYACCESSION", T::String},   {"ORVOQUERYSERIESUID", T::String},
                                    {"ORVOQUERYSERIESNUM", T::String},   {"ORVOQUERYMODALITY", T::String},
                                    {"ORVOQUERYSOPUID", T::String},      {"ORVOQUERYINSTANCENUM", T::String},
                                    {"ZYLFFORVOQUERY_BOTTOM", T::Int64}, {nullptr, T::Undefined}};

const HostStructTag kQueryResultTags[] = {{"PATIENT_NAME", T::String},
                                          {"FAMILY_NAME", T::String},
                                          {"GIVEN_NAME", T::String},
                                          {"MIDDLE_NAME", T::String},
                                          {"PREFIX", T::String},
                                          {"SUFFIX", T::String},
                                          {"PATIENT_ID", T::String},
                                          {"STUDY_INSTANCE_UID", T::String},
                                          {"STUDY_ID", T::String},
                                          {"STUDY_DATE", T::String},
                                          {"STUDY_TIME", T::String},
                                          {"ACCESSION_NUMBER", T::String},
                                          {"SERIES_INSTANCE_UID", T::String},
                                          {"SERIES_NUMBER", T::String},
                                          {"MODALITY", T::String},
                                          {"SOP_INSTANCE_UID", T::String},
                                          {"INSTANCE_NUMBER", T::String},
                                          {"STUDY_DESCRIPTION", T::String},
                                          {"SERIES_DESCRIPTION", T::String},
                                          {nullptr, T::Undefined}};

const StructureLayout kInstance{"ZYLFFORVOQUERY",       kQueryTags,
                                sizeof(QueryInstance),  true,
                                "ORVOQUERYINSTANCENUM", offsetof(QueryInstance, instanceNum)};
const StructureLayout kResults{"ZYLFFORVOQRESULTS",       kQueryResultTags,
                               sizeof(QueryResultRecord), false,
                               "SERIES_DESCRIPTION",      offsetof(QueryResultRecord, seriesDescription)};

constexpr MethodFile kMethodFiles[] = {findMessagesMethods, queryMethods, queryObjectMethods, retrieveMethods,
                                       statusTablesMethods};

}  // namespace

bool defineStructures() { return defineClass(kInstance, releaseNothing) && defineStructure(kResults) != nullptr; }

const zyl::StructDef* resultsStructure() { return HostFindStructure(kResults.name); }

ClassMethods methods() { return kMethodFiles; }

}  // namespace orvo::query
