// The audio capture thread of remote operation.
#include "remote/th_leggi.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void th_leggi(Works*) { LogInfo("th_leggi: not available in this build"); }
