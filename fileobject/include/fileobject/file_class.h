// The ZYLffOrvo class as the module's load sees it: its structures and its
// method files.
#pragma once

#include "routines.h"

namespace orvo::file {

// Defines ZYLFFORVO and ZYLFFORVOELEMENT and sets the class's release callback; false
// when the host refuses a definition or lays one out differently from its
// mirror.
bool defineStructures();
// The class's method files, each listing the methods it serves.
ClassMethods methods();

}  // namespace orvo::file
