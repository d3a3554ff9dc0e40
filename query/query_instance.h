// The ZYLffOrvoQuery object's instance structure and the result record its
// queries hand back, each laid out exactly as the host lays it out.
#pragma once

#include <cstdint>

#include "structures.h"
#include "zyl/host.h"

namespace orvo {

struct QueryInstance {  // ZYLFFORVOQUERY
  int64_t top;
  zyl::HostString aenQuery;
  zyl::HostString aenStorage;
  int16_t model;
  int16_t level;
  zyl::HostString callback;
  uint64_t callbackData;
  zyl::HostString patient, family, given, middle, prefix, suffix, patientId, studyUid, studyId, studyDate, studyTime,
      accession, seriesUid, seriesNum, modality, sopUid, instanceNum;
  int64_t bottom;
};

struct QueryResultRecord {  // ZYLFFORVOQRESULTS
  zyl::HostString patientName, familyName, givenName, middleName, prefix, suffix, patientId, studyInstanceUid, studyId,
      studyDate, studyTime, accessionNumber, seriesInstanceUid, seriesNumber, modality, sopInstanceUid, instanceNumber,
      studyDescription, seriesDescription;
};

template <>
struct ClassTraits<QueryInstance> {
  static constexpr const char* name = "ZYLFFORVOQUERY";
};

namespace query {
// The result record's definition, once the class is defined.
const zyl::StructDef* resultsStructure();
}  // namespace query

}  // namespace orvo
