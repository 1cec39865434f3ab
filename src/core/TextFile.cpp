// Line helpers for the text tables.
#include "core/TextFile.h"

#include <cstring>

bool NextDataLine(FILE* f, char* line, int size) {
    while (std::fgets(line, size, f)) {
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n')
            line[--n] = '\0';
        if (n > 0 && line[n - 1] == '\r')
            line[--n] = '\0';
        if (line[0] != ';')
            return true;
    }
    return false;
}

int CountDataLines(FILE* f) {
    // Counted the way the rows are read: by fgets pieces of the same size.
    char line[256];
    int count = 0;
    while (std::fgets(line, sizeof line, f))
        if (line[0] != ';')
            count++;
    return count;
}
