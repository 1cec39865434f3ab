// Menus and the text screens drawn over the pages: the information rows of the
// operating page, the memory-table view, the status page.
#pragma once

#include "core/Settings.h"

struct Works;

// Option texts and values of the menus.
extern const int SaveScreen[5];          // screen-saver delays, minutes

// Fills the menu and key-label tables and the alarm texts (start-up).
void InitMenu(Works* works);
// The texts drawn over the page by LoadButtons.
void DrawParameters(Works* works);
void ViewStatusInfo(Works* works);
