// The amplifier link thread.
#include "amp/Linear.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void Linear(Works*) { LogInfo("Linear: not available in this build"); }
