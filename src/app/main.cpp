// The front-panel controller. On the amplifier it runs without arguments;
// `--root DIR` runs it against a root folder of stand-in devices and files, and
// there `--time-scale N` runs its clock N times faster (for tests).
#include "app/Main.h"
#include "platform/Clock.h"
#include "platform/Root.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    int scale = 1;
    for (int i = 1; i + 1 < argc; i++) {
        if (std::strcmp(argv[i], "--root") == 0)
            plat_set_root(argv[++i]);
        else if (std::strcmp(argv[i], "--time-scale") == 0)
            scale = std::atoi(argv[++i]);
    }
    if (scale > 1) {
        if (!plat_has_root()) {
            std::fprintf(stderr, "--time-scale needs --root\n");
            return 2;
        }
        plat_set_time_scale(scale);
    }
    return PanelMain();
}
