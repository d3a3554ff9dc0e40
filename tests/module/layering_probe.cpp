// Built only by the layering test, with the include folders of the query
// class: one variant reaches for a header the file object keeps private, the
// other for the one it offers the other classes.
#ifdef LAYERING_PROBE_PRIVATE
#include "file_object.h"
#else
#include "fileobject/file_services.h"
#endif

int layeringProbe() { return 0; }
