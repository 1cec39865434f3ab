// Signals the program answers.
//
// SIGPIPE is ignored: a write to a peer that closed its socket returns EPIPE
// instead of ending the controller. SIGTERM and SIGINT (systemctl stop, Ctrl-C)
// are blocked in every thread and read by the main loop from a signalfd, so
// that they end the program as the F12 key does, with no work in a handler.
#pragma once

// Call once from main before any thread starts (threads inherit the mask).
void plat_signals_init();
// Waits up to `timeoutMs` of program time for SIGTERM or SIGINT; the signal's
// number, or 0 when none came.
int plat_wait_stop_signal(int timeoutMs);
// "SIGTERM" or "SIGINT".
const char* plat_signal_name(int sig);
