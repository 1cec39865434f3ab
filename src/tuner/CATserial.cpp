// The FT-817 CAT frequency poll thread.
#include "tuner/CATserial.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void CatSerial(Works*) { LogInfo("CatSerial: not available in this build"); }
