// A window on the desktop that shows the virtual panel and takes key presses.
#pragma once

#include <cstdint>
#include <string>

struct X11View;

// Opens a window on $DISPLAY for `panels` panels of 800 x 480 side by side;
// nullptr when there is no display.
X11View* X11ViewOpen(const std::string& title, int panels = 1);
// Copies the picture of panel `index` (800 x 480, bytes B, G, R, 0) into the window.
void X11ViewShow(X11View* v, const uint8_t* bgrx, int index = 0);
// The next key typed into the window as a character ('1'..'6', 'q', 's', ...;
// 'F' for F12), or 0 when none is waiting. Closing the window gives 'C'.
char X11ViewNextKey(X11View* v);
void X11ViewClose(X11View* v);
