// The library's load hook. Only libQuorvel.so contains this file: loading the
// library into an application (linked or with LD_PRELOAD) starts the agent before
// the application's own start-up code runs.
#include "quorvel/bootstrap/RecordControl.h"

__attribute__((constructor)) static void quorvel_load() { QuorvelRunLoadHooks(); }

// Registered exit handler; servers, threads and the hook are simply abandoned.
__attribute__((destructor)) static void destroy_recorder() {}
