// Drawing a typical line of panel text, with the glyph cache and without it.
//
// The refresh thread draws a dozen such lines every 10 ms tick; the baseline is
// one memcpy of the whole 1 536 000-byte picture, measured in the same run.
#include "devsim/SimRoot.h"
#include "platform/Root.h"
#include "draw/Fb.h"
#include "draw/TTF.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

const char* kLine = "PA Temp1: 035.2\xC2\xB0"
                    "C      Temp2: 036.8\xC2\xB0"
                    "C";

FrameBuffer* g_fb = nullptr;

void setUp() {
    if (g_fb)
        return;
    char tmpl[] = "/tmp/panel-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        std::abort();
    std::string err;
    if (!SimRootCreate(tmpl, SimRootOptions{}, &err))
        std::abort();
    plat_set_root(tmpl);
    LoadFonts();
    plat_set_root(nullptr);
    std::filesystem::remove_all(tmpl);
    g_fb = fbInitMemory(800, 480, 32);
}

void BM_PictureMemcpy(benchmark::State& state) {
    setUp();
    for (auto _ : state) {
        std::memcpy(g_fb->screen, g_fb->work, g_fb->memSize);
        benchmark::ClobberMemory();
    }
}

void BM_TextLineCached(benchmark::State& state) {
    setUp();
    TTFSetCacheEnabled(true);
    putString(8, 10, 327, kLine, 0, 200, 0, g_fb); // warm the cache
    for (auto _ : state) {
        putString(8, 10, 327, kLine, 0, 200, 0, g_fb);
        benchmark::ClobberMemory();
    }
}

void BM_TextLineRenderedEachTime(benchmark::State& state) {
    setUp();
    TTFSetCacheEnabled(false);
    for (auto _ : state) {
        putString(8, 10, 327, kLine, 0, 200, 0, g_fb);
        benchmark::ClobberMemory();
    }
    TTFSetCacheEnabled(true);
}

} // namespace

BENCHMARK(BM_PictureMemcpy);
BENCHMARK(BM_TextLineCached);
BENCHMARK(BM_TextLineRenderedEachTime);
BENCHMARK_MAIN();
