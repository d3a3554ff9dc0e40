#include "structures.h"

namespace orvo {

const zyl::StructDef* defineStructure(const StructureLayout& layout) {
  zyl::StructDef* def = HostDefineStructure(layout.name, layout.tags);
  if (def == nullptr || def->size() != layout.mirrorSize ||
      HostStructFieldOffset(def, layout.probeField) != layout.probeOffset)
    return nullptr;
  if (layout.isClass && def->classRecord() == nullptr) def->setClassRecord(HostClassRecordCreate(layout.name));
  return def;
}

bool defineClass(const StructureLayout& instance, HostReleaseCallback release) {
  const zyl::StructDef* def = defineStructure(instance);
  if (def == nullptr) return false;
  HostSetClassReleaseCallback(def->classRecord(), release);
  return true;
}

void releaseNothing(void*) {}

}  // namespace orvo
