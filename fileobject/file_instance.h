// The ZYLffOrvo object's instance structure and the element record that
// EnumerateTags hands back, each laid out exactly as the host lays it out.
#pragma once

#include <cstdint>

#include "structures.h"
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

template <>
struct ClassTraits<FileInstance> {
  static constexpr const char* name = "ZYLFFORVO";
};

namespace file {
// The element record's definition, once the class is defined.
const zyl::StructDef* elementStructure();
}  // namespace file

}  // namespace orvo
