// The keyboard model: writes Linux input events into the root's keyboard FIFO.
#pragma once

#include <string>

struct SimKeyboard {
    int fd = -1;
};

// Opens the FIFO (kept open so that events queue even before the panel reads).
bool SimKeyboardOpen(SimKeyboard* k, const std::string& fifoPath);
// A press and release of one key (Linux key code, e.g. KEY_F12).
bool SimKeyboardTap(SimKeyboard* k, int code);
void SimKeyboardClose(SimKeyboard* k);
