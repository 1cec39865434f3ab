// The settings menu: its entries, each a title with one item and a value, moved
// through on key page 1 and edited on key page 2.
#pragma once

#include "core/Settings.h"
#include "core/Shared.h"

#include <cstddef>
#include <cstdint>

struct Works;

// The number of the entry that chooses local or remote operation.
constexpr int kMenuRemoteModeNumber = 9;

struct MenuItemDef {
    char name[20];
    uint8_t readOnly;
    uint8_t leftRight; // the value has positions to move between (addresses, the code)
};
struct MenuEntryDef {
    int32_t number; // shown before the title
    char title[21]; // up to 20 characters ("SCREEN SAVER TIMEOUT" fills them all)
    MenuItemDef items[10];
    int32_t itemCount;
};
// The entries' numbers, titles and items, in the order the menu shows them.
struct MenuTable {
    const MenuEntryDef& operator[](int entry) const;
};
extern const MenuTable menuPar;
// How many entries the menu has.
int MenuEntryCount();
// The setup key that ENTER on `entry` saves and the factor the file holds the
// value with (10: tenths); nullptr for entries that save nothing of their own.
const char* MenuSetupKey(int entry, int* scale);

// Applies one edit action to the current entry; non-zero when the action
// repeats while its key is held.
int ModifyParameter(Works* works, int action);
// The value text of an entry.
void LoadParameterMenu(Works* works, char* text, size_t size, int entry, int item);
void MenuPrevious(Works* works);
void MenuNext(Works* works);
bool MenuItemReadOnly(Works* works);
bool MenuItemLeftRight(Works* works);
// The octets and cursor of an address entry (9..12); false for other entries.
struct MenuAddressRef {
    Shared<uint8_t>* octets;
    Shared<int>* cursor;
};
bool MenuAddress(int entry, MenuAddressRef* ref);
// The code entry's text as shown and the position of its cursor (0 until an
// edit starts); false for other entries.
bool MenuCodeEdit(Works* works, int entry, char* code, size_t size, int* cursor);
// The menu or its editing page opens: an edit of the code left unfinished (an
// error page took the keys away) is dropped, the next starts from the code in use.
void MenuEditStarts(Works* works);
