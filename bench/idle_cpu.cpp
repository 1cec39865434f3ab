// Processor use of the whole panel program at rest.
//
// Starts the real program in a fresh root folder with the station's device
// models (the amplifier link polls continuously, the keys' thread and the
// converter run, the screen refreshes), lets it finish start-up, then reads the
// program's user + system time over a quiet window and reports it as a share of
// one core. The models run in this process and are not counted.
// Usage: bench_idle_cpu [SECONDS]   (default 20)
#include "devsim/Keyboard.h"
#include "devsim/PanelProcess.h"
#include "devsim/SimRoot.h"
#include "devsim/Station.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <linux/input.h>
#include <sstream>
#include <thread>

namespace {
bool logged(const std::string& path, const std::string& text) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str().find(text) != std::string::npos;
}
} // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    char tmpl[] = "/tmp/panel-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    std::string dir = tmpl, err;
    SimRootOptions opt;
    if (!SimRootCreate(dir, opt, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    SimStation station;
    if (!SimStationStart(&station, dir, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    SimKeyboard kbd;
    SimKeyboardOpen(&kbd, SimKeyboardFifo(dir));
    PanelProcess p;
    if (!PanelStart(&p, PANEL_EXE, dir, PANEL_SKINS_DIR, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    // Start-up ends when the keyboard thread runs; give the one-shot threads time to end.
    for (int i = 0; i < 300 && !logged(dir + "/syslog.log", "Keyboard opened"); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::seconds(6));

    double cpu0 = PanelCpuSeconds(&p);
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double cpu1 = PanelCpuSeconds(&p);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    SimKeyboardTap(&kbd, KEY_F12);
    bool ended = PanelWait(&p, 20000);
    if (!ended)
        PanelKill(&p);
    std::printf("idle panel: %.3f s of processor time in %.1f s = %.2f%% of one core%s\n",
                cpu1 - cpu0, wall, 100.0 * (cpu1 - cpu0) / wall,
                ended ? "" : " (did not end on F12)");
    SimStationStop(&station);
    std::filesystem::remove_all(dir);
    return ended ? 0 : 1;
}
