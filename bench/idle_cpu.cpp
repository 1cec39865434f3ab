// Processor use of the whole panel program at rest and with the needles moving.
//
// Starts the real program in a fresh root folder with the station's device
// models (the amplifier link polls continuously, the keys' thread and the
// converter run, the screen refreshes), lets it finish start-up, then reads the
// program's user + system time over a quiet window and reports it as a share of
// one core; then the transceiver transmits with a drive that changes every
// 100 ms, so that the needles move, over a second window. The models run in
// this process and are not counted. Each run twice: with `--whole-refresh` (every
// tick redraws and copies the whole picture, as before) and as the panel runs.
// Usage: bench_idle_cpu [SECONDS]   (default 20, per window)
#include "devsim/AmpModel.h"
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
#include <string>
#include <thread>
#include <vector>

namespace {

bool logged(const std::string& path, const std::string& text) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str().find(text) != std::string::npos;
}

// The program's share of one core over `seconds`, with `during` called every
// 100 ms meanwhile.
template <typename F> double share(const PanelProcess& p, int seconds, F during) {
    const double cpu0 = PanelCpuSeconds(&p);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < seconds * 10; i++) {
        during(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double cpu1 = PanelCpuSeconds(&p);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return 100.0 * (cpu1 - cpu0) / wall;
}

bool run(bool whole, int seconds) {
    char tmpl[] = "/tmp/panel-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        return false;
    std::string dir = tmpl, err;
    SimRootOptions opt;
    SimStation station;
    if (!SimRootCreate(dir, opt, &err) || !SimStationStart(&station, dir, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return false;
    }
    SimKeyboard kbd;
    SimKeyboardOpen(&kbd, SimKeyboardFifo(dir));
    PanelProcess p;
    std::vector<std::string> args;
    if (whole)
        args.push_back("--whole-refresh");
    if (!PanelStart(&p, PANEL_EXE, dir, PANEL_SKINS_DIR, &err, 1, {}, args)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return false;
    }
    // Start-up ends when the keyboard thread runs; give the one-shot threads time to end.
    for (int i = 0; i < 300 && !logged(dir + "/syslog.log", "Keyboard opened"); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::seconds(6));

    const double steady = share(p, seconds, [](int) {});
    SimStationTransmit(&station, true);
    const double moving = share(p, seconds, [&](int i) {
        station.driveW = 2.0f + static_cast<float>((i * 7) % 10);
        AmpModelSetDrive(station.amp, station.driveW);
    });
    SimStationTransmit(&station, false);

    SimKeyboardTap(&kbd, KEY_F12);
    const bool ended = PanelWait(&p, 20000);
    if (!ended)
        PanelKill(&p);
    std::printf("%-28s steady page %.2f%% of one core, needles moving %.2f%%%s\n",
                whole ? "whole redraw every tick:" : "redraw of what changes:", steady, moving,
                ended ? "" : " (did not end on F12)");
    SimStationStop(&station);
    SimKeyboardClose(&kbd);
    std::filesystem::remove_all(dir);
    return ended;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool a = run(true, seconds);
    const bool b = run(false, seconds);
    return a && b ? 0 : 1;
}
