// The keyboard thread: F12 ends the program, F11 saves the setup file, F10 opens
// the remote service shell, Print Screen saves a screenshot.
#pragma once

struct Works;

void keyb(Works* works);

// Has the storage thread run the remote service shell (F10, and the menu's
// "REMOTE SERVICE").
void RemoteConnection();
