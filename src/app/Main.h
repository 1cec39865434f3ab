// Start-up, the splash count-down and shutdown of the panel program.
#pragma once

#include "core/Shared.h"

struct Works;

extern Shared<int> waitTAV;
extern Shared<int> startInitThread;

// Runs the whole program: start-up, idle until the run flag is cleared, shutdown.
// Returns the process exit status.
int PanelMain();

// The Opus encoder and decoder of compressed remote audio (audioBitrate > 0).
// A failure is logged and turns compression off (audioBitrate = 0).
void CreateAudioCodec(Works* works);
void DestroyAudioCodec(Works* works);

// The splash thread: counts down over the start-up picture while the link comes up.
void LoadThread(Works* works);
