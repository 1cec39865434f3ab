// Reading the panel's own text tables (bands, fan, banks, tuner memory, network).
#pragma once

#include <cstdio>

// Cuts a line's "\n" or "\r\n" (a table edited on another machine keeps working).
void TrimLineEnd(char* line);

// The number of lines that are not comments (';' first), read from the current
// position to the end in 256-byte pieces, as the row readers read them; the
// caller rewinds to read the rows.
int CountDataLines(FILE* f);
