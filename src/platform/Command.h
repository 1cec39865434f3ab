// Shell commands.
//
// Every command the program runs (remounts, rm, stty, tput, lsusb, my_temp,
// fbgrab, the service scripts) goes through here. Under a root folder the exact
// text is appended to DIR/commands.log and the command runs with PANEL_ROOT=DIR
// and DIR/bin first in PATH; an absolute first word (or redirection target) is
// taken from under DIR, so the root's stand-ins answer instead of the machine.
#pragma once

#include <cstdio>
#include <string>

// Runs `cmd` with /bin/sh -c and waits; returns the wait status as system() does
// (0 on success), or -1 when the shell could not be started.
int plat_system(const char* cmd);

// popen()/pclose() counterparts; mode is "r" or "w".
FILE* plat_popen(const char* cmd, const char* mode);
int plat_pclose(FILE* f);

// The text that actually runs for `cmd` (exposed for tests).
std::string plat_command_text(const char* cmd);
