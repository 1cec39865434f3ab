// The front-panel controller. On the amplifier it runs without arguments;
// `--root DIR` runs it against a root folder of stand-in devices and files.
#include "app/Main.h"
#include "platform/Root.h"

#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i++) {
        if (std::strcmp(argv[i], "--root") == 0)
            plat_set_root(argv[++i]);
    }
    return PanelMain();
}
