// Loading the PNG skins into the off-screen pictures.
#pragma once

struct Works;

// Loads "<skinName>.png" (relative to the working directory) into `back`
// (toBack non-zero) or into `work`, which is then shown at once. An image that
// cannot be used is refused with a log line and leaves both pictures as they were.
void getPng(Works* works, int toBack);

// Sets the skin name and loads it (the usual pair of steps).
void LoadSkin(Works* works, const char* name, int toBack);
