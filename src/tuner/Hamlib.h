// Work mode 3: the operating frequency from any radio Hamlib speaks to (a CAT
// port, or a rigctld on the network), polled by a thread of its own.
#pragma once

#include <cstddef>

struct Works;

// The thread body: opens the rig of the setup's HamlibModel and HamlibPort,
// reads its frequency every HamlibPoll ms into the Hamlib source's frequency, and after a
// failure closes it, shows the device-error page once and tries again every
// 2 s, until the bank's mode or the program leaves it.
void HamlibRig(Works* works);

// The status page's line: the rig's manufacturer and model and the last
// frequency read, or why there is none.
void HamlibStatusText(Works* works, char* text, size_t size);
