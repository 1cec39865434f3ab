// The WebSocket server and client threads of remote operation.
#include "remote/Wsocket.h"

#include "platform/Log.h"

// Not built yet: the threads log that and end.
void Wsocket(Works*) { LogInfo("Wsocket: not available in this build"); }
void Wclient(Works*) { LogInfo("Wclient: not available in this build"); }
