// The automatic tuning search.
#include "tuner/AutoTune.h"

#include "core/Works.h"
#include "platform/Log.h"

// Not built yet: no search runs, so the tuning phase goes back to idle.
void TuneTask(Works* w) {
    LogErr("TuneTask: automatic tuning not available in this build");
    w->tuneState = 0;
}

// Not built yet: nothing to start or end.
void StartAutotune(Works*) { LogErr("StartAutotune: automatic tuning not available in this build"); }
void EscAutoTune(Works*, int) {}
void GoTune(Works*) { LogErr("GoTune: automatic tuning not available in this build"); }
