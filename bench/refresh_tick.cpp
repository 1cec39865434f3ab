// One refresh tick of the main page, in its three parts: composing (background
// into the picture), drawing (meters, texts, keys, alarm keys) and showing (the
// picture to the screen), each as a ratio to one memcpy of the 1 536 000-byte
// picture measured in the same run. Usage: bench_refresh [ITERATIONS]
#include "amp/Alarms.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "trx/Serial.h"
#include "ui/Fb.h"
#include "ui/Nuova.h"
#include "ui/Png.h"
#include "ui/TTF.h"
#include "ui/Time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double timeNs(F f) {
    auto t0 = Clock::now();
    f();
    return std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    char tmpl[] = "/tmp/panel-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    std::string root = tmpl, err;
    if (!SimRootCreate(root, SimRootOptions{}, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    plat_set_root(root.c_str());
    LoadFonts();

    static Works works;
    static SetupRecord setup;
    static std::mutex serMut;
    static TrxParameters params;
    Works* w = &works;
    w->setup = &setup;
    w->serMut = &serMut;
    w->trxParams = &params;
    InitGlobalVar(w);
    initSetup(w);
    InitMenu(w);
    w->fb = fbInitMemory(800, 480, 32);
    TimerInit(w);

    // A busy main page: live and peak needles, two alarm keys, the clock.
    std::filesystem::current_path(PANEL_SKINS_DIR);
    LoadSkin(w, "img1", 1);
    w->ModeWorkIdx = 1;
    params.activeFreq = 14070000;
    w->antennaRowIdx = 100;
    w->lastKeyTime = static_cast<int64_t>(plat_mono_s()); // no screen saver
    w->pwrFwd = 35.0f;
    w->pwrFwdPeak = 42.0f;
    w->pwrRefl = 2.5f;
    w->pwrPeakEnabled = 1;
    w->viewTimeStr = 1;
    w->ampBypass = 0;
    w->ampStatus2 = 1;
    w->temp1 = 38.5f;
    w->temp2 = 36.0f;
    w->startupFlags.replace(0);
    AddErrore(w, 8);
    AddErrore(w, 12);

    FrameBuffer* fb = w->fb;
    std::vector<uint8_t> src(fb->memSize, 0x5A), dst(fb->memSize);
    std::vector<double> copy, compose, draw, show;
    for (int i = 0; i < n + 50; i++) {
        double c = timeNs([&] { std::memcpy(dst.data(), src.data(), dst.size()); });
        double a = timeNs([&] { fbSetBack(fb); });
        double b = timeNs([&] { TimerDrawPage(w); });
        double s = timeNs([&] { fbRealize(fb); });
        if (i < 50)
            continue; // warm-up: caches, glyphs, the first board-temperature read
        copy.push_back(c);
        compose.push_back(a);
        draw.push_back(b);
        show.push_back(s);
    }
    const double base = median(copy), ca = median(compose), cd = median(draw), cs = median(show);
    std::printf("memcpy of the picture: %.1f us (median of %d)\n", base / 1000, n);
    std::printf("compose %.1f us = %.2f copies\n", ca / 1000, ca / base);
    std::printf("draw    %.1f us = %.2f copies\n", cd / 1000, cd / base);
    std::printf("show    %.1f us = %.2f copies\n", cs / 1000, cs / base);
    std::printf("tick    %.1f us = %.2f copies (goal: 4)\n", (ca + cd + cs) / 1000,
                (ca + cd + cs) / base);
    plat_set_root(nullptr);
    std::filesystem::remove_all(root);
    return 0;
}
