// The remote checks: probed on the storage thread, read by the pages.
#include "ui/RemoteChecks.h"

#include "amp/Temperature.h"
#include "core/Changes.h"
#include "core/Storage.h"
#include "platform/Clock.h"
#include "tuner/CAT.h"

#include <atomic>
#include <cstdint>

namespace {

constexpr int64_t kEveryMs = 5000;

std::atomic<int> g_transceiver{1};
std::atomic<int> g_audio{0};
std::atomic<int64_t> g_lastAskMs{INT64_MIN / 2};

} // namespace

void RemoteChecksProbe(Works* w) {
    const int transceiver = Find_Remote_Settings(w);
    const int audio = Get_AudioTAV(w);
    g_transceiver.store(transceiver, std::memory_order_relaxed);
    g_audio.store(audio, std::memory_order_relaxed);
    ChangesNote(); // a still page draws the new results
}

void RemoteChecksRequest(Works* w) {
    g_lastAskMs.store(plat_mono_ms(), std::memory_order_relaxed);
    StorageJob("remote checks", [w] { RemoteChecksProbe(w); });
}

void RemoteChecksKeepFresh(Works* w) {
    if (plat_mono_ms() - g_lastAskMs.load(std::memory_order_relaxed) >= kEveryMs)
        RemoteChecksRequest(w);
}

RemoteCheckResults RemoteChecksLast() {
    return {g_transceiver.load(std::memory_order_relaxed), g_audio.load(std::memory_order_relaxed)};
}
