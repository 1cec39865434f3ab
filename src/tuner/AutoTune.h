// The automatic tuning search over the tuner's inductor and capacitor banks.
#pragma once

struct Works;

// One step of the search, run by the link thread after each status reply.
void TuneTask(Works* works);

// Starts a search (tune-on-transmit or the tune key).
void StartAutotune(Works* works);
// Ends a search early; `store` non-zero keeps its best setting.
void EscAutoTune(Works* works, int store);
// The tune key: starts a search, or ends the running one.
void GoTune(Works* works);
