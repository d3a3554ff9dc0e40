// The host structures of the module: instance data of the four classes and
// the three record types handed back to host programs. Each C++ mirror is
// laid out exactly as the host lays out its structure; the definitions check
// that at load.
#pragma once

#include <cstdint>

#include "zyl/host.h"

namespace orvo {

struct FileInstance {  // ZYLFFORVO
  int64_t top;
  int16_t nonConforming;
  int32_t msgFileId;
  zyl::HostString fileName;
  zyl::HostString appName;
  int32_t appId;
  int32_t fileMode;
  zyl::HostString fileCloned;
  zyl::HostString sopClass;
  int16_t noPixelData;
  int64_t bottom;
};

struct ElementRecord {  // ZYLFFORVOELEMENT
  zyl::HostString tag;
  zyl::HostString description;
  zyl::HostString vr;
  uint32_t length;
  int32_t valueCount;
  int32_t seqId;
  int32_t groupNum;
  int32_t level;
  zyl::HostString value;
};

struct CfgInstance {  // ZYLFFORVOCFG
  int64_t top;
  zyl::HostString xmlFile;
  int64_t xmlDoc;
  int64_t xmlParser;
  int16_t xmlDirty;
  int64_t bottom;
};

struct CfgAeRecord {  // ZYLFFORVOCFGAE
  zyl::HostString applEntityName;
  zyl::HostString aet;
  zyl::HostString hostName;
  uint32_t port;
  zyl::HostString serviceListName;
  zyl::HostString serviceType;
};

struct QueryInstance {  // ZYLFFORVOQUERY
  int64_t top;
  zyl::HostString aenQuery;
  zyl::HostString aenStorage;
  int16_t model;
  int16_t level;
  zyl::HostString callback;
  uint64_t callbackData;
  zyl::HostString patient, family, given, middle, prefix, suffix, patientId, studyUid, studyId, studyDate,
      studyTime, accession, seriesUid, seriesNum, modality, sopUid, instanceNum;
  int64_t bottom;
};

struct QueryResultRecord {  // ZYLFFORVOQRESULTS
  zyl::HostString patientName, familyName, givenName, middleName, prefix, suffix, patientId, studyInstanceUid,
      studyId, studyDate, studyTime, accessionNumber, seriesInstanceUid, seriesNumber, modality, sopInstanceUid,
      instanceNumber, studyDescription, seriesDescription;
};

struct StorScuInstance {  // ZYLFFORVOSTORSCU
  int64_t top;
  zyl::HostString aenStorage;
  zyl::HostString callback;
  uint64_t callbackData;
  int64_t bottom;
};

enum class Structure { File, Element, Cfg, CfgAe, Query, QueryResults, StorScu, Count };

// Defines the seven structures in order, creating the class records of the
// four class structures that have none yet. False when the host refuses a
// definition or lays one out differently from its mirror.
bool defineStructures();
const zyl::StructDef* structure(Structure which);

}  // namespace orvo
