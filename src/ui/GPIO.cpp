// The panel keys and converter thread.
#include "ui/GPIO.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void GPIO(Works*) { LogInfo("GPIO: not available in this build"); }
