// The ZYLffOrvoCfg object's instance structure and the application entity
// record its methods hand back, each laid out exactly as the host lays it out.
#pragma once

#include <cstdint>

#include "structures.h"
#include "zyl/host.h"

namespace orvo {

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

template <>
struct ClassTraits<CfgInstance> {
  static constexpr const char* name = "ZYLFFORVOCFG";
};

namespace netconfig {
// The application entity record's definition, once the class is defined.
const zyl::StructDef* aeRecordStructure();
}  // namespace netconfig

}  // namespace orvo
