// One refresh tick of the main page, in its three parts: composing (background
// into the picture), drawing (meters, texts, keys, alarm keys; with tracking,
// recording them and drawing again what changed) and showing (the picture to
// the screen), each as a ratio to one memcpy of the 1 536 000-byte picture
// measured in the same run: for a steady page, moving needles and a page
// change, each without and with tracking. Usage: bench_refresh [ITERATIONS [CASE]]
#include "amp/Alarms.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "trx/Serial.h"
#include "draw/Damage.h"
#include "draw/Fb.h"
#include "ui/Nuova.h"
#include "draw/Png.h"
#include "draw/TTF.h"
#include "ui/Time.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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
    AmpReadings readings{.ampStatus2 = 1, .pwrFwd = 35.0f, .pwrRefl = 2.5f, .pwrFwdPeak = 42.0f,
                         .temp1 = 38.5f, .temp2 = 36.0f};
    PublishAmpReadings(w, readings);
    w->settings.pwrPeakEnabled = 1;
    w->settings.viewTimeStr = 1;
    w->ampBypass = 0;
    w->startupFlags.replace(0);
    AddErrore(w, 8);
    AddErrore(w, 12);

    FrameBuffer* fb = w->fb;
    std::vector<uint8_t> src(fb->memSize, 0x5A), dst(fb->memSize);
    std::vector<double> copy;
    for (int i = 0; i < 200; i++)
        copy.push_back(timeNs([&] { std::memcpy(dst.data(), src.data(), dst.size()); }));
    const double base = median(copy);
    std::printf("memcpy of the picture: %.1f us (median of %zu)\n", base / 1000, copy.size());

    // Three cases: a steady page (only the clock's second changes), needles
    // moving every tick, and a page change every tick. Each with the whole
    // redraw of old (tracking off) and with the record of what changed.
    enum Case { Steady, Moving, PageChange };
    const char* names[] = {"steady page", "moving needles", "page change"};
    const int only = argc > 2 ? std::atoi(argv[2]) : -1; // one case (0..2), for profiling
    for (int c = Steady; c <= PageChange; c++) {
        if (only >= 0 && c != only)
            continue;
        for (bool tracking : {false, true}) {
            fbSetDamageTracking(fb, tracking);
            std::vector<double> compose, draw, show;
            double bytesShown = 0;
            for (int i = 0; i < n + 50; i++) {
                if (c == Moving) {
                    readings.pwrFwd = 30.0f + 25.0f * static_cast<float>(std::sin(i * 0.21));
                    readings.pwrRefl = 3.0f + 2.0f * static_cast<float>(std::sin(i * 0.13));
                    PublishAmpReadings(w, readings);
                } else if (c == PageChange) {
                    // What a key's page change leaves: a new background, shown whole.
                    LoadSkin(w, i % 2 ? "img3" : "img1", 1);
                    fbSetBack(fb);
                }
                double a = 0, b = 0, s = 0;
                if (!tracking) {
                    a = timeNs([&] { fbTickBegin(fb); });
                    b = timeNs([&] { TimerDrawPage(w); });
                    s = timeNs([&] { fbTickEnd(fb); });
                } else {
                    b = timeNs([&] {
                        fbTickBegin(fb);
                        TimerDrawPage(w);
                        fbTickPlan(fb);
                    });
                    a = timeNs([&] { fbTickCompose(fb); });
                    b += timeNs([&] { fbTickRedraw(fb); });
                    s = timeNs([&] { fbTickShow(fb); });
                }
                if (i < 50)
                    continue; // warm-up: caches, glyphs, the first board-temperature read
                compose.push_back(a);
                draw.push_back(b);
                show.push_back(s);
                bytesShown += static_cast<double>(fb->damage->shown);
            }
            const double ca = median(compose), cd = median(draw), cs = median(show);
            std::printf("%-15s %-9s compose %5.2f  draw %5.2f  show %5.2f  tick %5.2f copies "
                        "(%.1f us; shown %.3f of the picture a tick)\n",
                        names[c], tracking ? "changes" : "whole", ca / base, cd / base, cs / base,
                        (ca + cd + cs) / base, (ca + cd + cs) / 1000,
                        bytesShown / n / fb->memSize);
        }
    }
    plat_set_root(nullptr);
    std::filesystem::remove_all(root);
    return 0;
}
