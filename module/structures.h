// Host structures of the module's classes: each class folder defines its own
// instance structure and records with a C++ mirror laid out exactly as the
// host lays out the structure; the definition checks that at load.
#pragma once

#include <cstddef>

#include "zyl/host.h"

namespace orvo {

// The host class name of an instance structure, given by each class with its
// structure: methods check their object against it.
template <typename Instance>
struct ClassTraits;

struct StructureLayout {
  const char* name;
  const HostStructTag* tags;
  size_t mirrorSize;
  bool isClass;
  // One field whose offset must match the mirror: catches a layout drift.
  const char* probeField;
  size_t probeOffset;
};

// Defines the structure of `layout`, creating the class record of a class structure that
// has none yet (one a module loaded before us defined keeps its record).
// nullptr when the host refuses the definition or lays it out differently
// from its mirror.
const zyl::StructDef* defineStructure(const StructureLayout& layout);

// Defines a class's instance structure with defineStructure and sets the
// class's release callback; false when the definition fails.
bool defineClass(const StructureLayout& instance, HostReleaseCallback release);

// File, query and storage client objects own nothing the host does not
// release itself (a file object's data set goes with its Cleanup, which the
// host calls).
void releaseNothing(void*);

}  // namespace orvo
