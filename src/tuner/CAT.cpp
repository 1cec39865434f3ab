// The transceiver CAT relay thread.
#include "tuner/CAT.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void Cat(Works*) { LogInfo("Cat: not available in this build"); }
