// The CAT relay between the maker's transceiver's own CAT port and a remote
// operator, and the presence checks of the transceiver for remote operation.
#pragma once

#include "core/Shared.h"

struct Works;

extern Shared<int> status_cat; // 1 while the relay holds the CAT port open

// The relay thread.
void Cat(Works* works);
// Finds the transceiver's CAT port among "/dev/KAVOCAT*" by its "DT;" answer and
// leaves it open in catFD; 0 on success, -1 when none answers.
int VerifyCAT(Works* works);
// Closes the relay port, switches the relay off and raises its alarm.
void ExitCAT(Works* works);
// 0 all present; 1 the transceiver's USB device is missing (or USB failed);
// 2 its CAT port does not answer; 3 its USB audio device is missing. It probes
// the port: the storage thread's probe (ui/RemoteChecks.h).
int Find_Remote_Settings(Works* works);
