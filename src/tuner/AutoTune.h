// The automatic tuning search over the tuner's inductor and capacitor banks.
#pragma once

struct Works;

// One step of the search, run by the link thread after each status reply.
void TuneTask(Works* works);
