// A module whose ZYL_Load refuses to load: the interpreter must report it
// and go on.
extern "C" __attribute__((visibility("default"))) int ZYL_Load() { return 0; }
