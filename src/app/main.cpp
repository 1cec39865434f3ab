// The front-panel controller. On the amplifier it runs without arguments;
// `--root DIR` runs it against a root folder of stand-in devices and files, and
// there `--time-scale N` runs its clock N times faster (for tests).
// `--whole-refresh` makes every refresh tick redraw and copy the whole picture,
// as the panel did before it tracked what changes (for comparing the two).
#include "app/Main.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "draw/Damage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    int scale = 1;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc)
            plat_set_root(argv[++i]);
        else if (std::strcmp(argv[i], "--time-scale") == 0 && i + 1 < argc)
            scale = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--whole-refresh") == 0)
            fbTrackDamageByDefault(false); // every tick redraws and copies it all
    }
    if (scale > 1) {
        if (!plat_has_root()) {
            LogOut("--time-scale needs --root\n");
            return 2;
        }
        plat_set_time_scale(scale);
    }
    return PanelMain();
}
