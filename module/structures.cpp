#include "structures.h"

namespace orvo {

const zyl::StructDef* defineStructure(const StructureSpec& spec) {
  zyl::StructDef* def = HostDefineStructure(spec.name, spec.tags);
  if (def == nullptr || def->size() != spec.mirrorSize ||
      HostStructFieldOffset(def, spec.probeField) != spec.probeOffset)
    return nullptr;
  if (spec.isClass && def->classRecord() == nullptr) def->setClassRecord(HostClassRecordCreate(spec.name));
  return def;
}

bool defineClass(const StructureSpec& instance, HostReleaseCallback release) {
  const zyl::StructDef* def = defineStructure(instance);
  if (def == nullptr) return false;
  HostSetClassReleaseCallback(def->classRecord(), release);
  return true;
}

void releaseNothing(void*) {}

}  // namespace orvo
