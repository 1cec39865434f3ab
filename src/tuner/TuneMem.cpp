// The tuner memory.
#include "tuner/TuneMem.h"

#include "core/Works.h"
#include "platform/Log.h"

// Not built yet: nothing is stored, so the tuner word stays as it is.
void LoadTuneFromMEM(Works*, int antenna) {
    LogInfo("LoadTuneFromMEM: no tuner memory in this build (antenna %d)", antenna + 1);
}

// Not built yet: no row is applied; the evaluation is marked done so it is not
// repeated on every tick.
void GestioneAntennaAutomatica(Works* w) { w->antennaRowIdx = 100; }
