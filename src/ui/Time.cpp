// The screen refresh thread.
#include "ui/Time.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void timer(Works*) { LogInfo("timer: not available in this build"); }
