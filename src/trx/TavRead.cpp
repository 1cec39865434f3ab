// The USB panadapter receiver thread.
#include "trx/TavRead.h"

#include "platform/Log.h"

// Not built yet: the thread logs that and ends.
void TAVRead(Works*) { LogInfo("TAVRead: not available in this build"); }
