// Stand-in for /usr/bin/fbgrab in a root folder: saves the virtual panel as PNG.
// Usage: sim-fbgrab FB_FILE PNG_FILE
#include "devsim/Screen.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FB_FILE PNG_FILE\n", argv[0]);
        return 2;
    }
    SimScreen s;
    if (!SimScreenRead(argv[1], &s)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    if (!SimScreenSavePng(s, argv[2])) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
