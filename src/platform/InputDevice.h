// Linux input event devices (the keyboard).
//
// On the board the keyboard is a character device that the panel grabs. Under a
// root folder it is a FIFO carrying the same 16-byte `struct input_event`
// records; the FIFO is opened so that it never reports end of file when the
// writer goes away (a model may reconnect).
#pragma once

#include <string>

// First path matching a shell pattern such as "/dev/input/by-id/*-event-kbd"
// (resolved under the root); false when nothing matches.
bool plat_glob_first(const char* pattern, std::string* match);
// Opens an input device for reading; -1 on failure (errno set).
int plat_input_open(const std::string& path);
// Grabs the device exclusively (EVIOCGRAB); a FIFO needs no grab.
int plat_input_grab(int fd);
