// The ZYLffOrvo class as the module's load sees it: its structures and its
// routine table.
#pragma once

#include "routines.h"

namespace orvo::file {

// Defines ZYLFFORVO and ZYLFFORVOELEMENT and sets the class's release callback; false
// when the host refuses a definition or lays one out differently from its
// mirror.
bool defineStructures();
// The class's registered methods.
ClassRoutines routines();

}  // namespace orvo::file
