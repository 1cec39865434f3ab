// Reading the panel's own text tables (bands, fan, banks, tuner memory, network).
#pragma once

#include <cstdio>

// Reads the next line that is not a comment (';' first) into `line`, without its
// "\n" or "\r\n" (a table edited on another machine keeps working); false at the
// end of the file. A line longer than `size` arrives in pieces, as fgets gives it.
bool NextDataLine(FILE* f, char* line, int size);

// The number of lines that are not comments (';' first), read from the current
// position to the end in 256-byte pieces, as the row readers read them; the
// caller rewinds to read the rows.
int CountDataLines(FILE* f);
