// The capture thread's blocks for a listener, in a bounded ring.
#include "remote/AudioTap.h"

#include <atomic>
#include <mutex>

namespace {

struct Tap {
    std::mutex mu;
    int16_t ring[kAudioTapFrames] = {};
    size_t head = 0, count = 0; // guarded by mu
    std::atomic<bool> on{false};
};

Tap& tap() {
    static Tap t;
    return t;
}

} // namespace

void AudioTapOpen(bool open) {
    Tap& t = tap();
    std::lock_guard<std::mutex> lock(t.mu);
    t.count = 0;
    t.on = open;
}

void AudioTapOffer(const int16_t* stereo, int frames) {
    Tap& t = tap();
    if (!t.on.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> lock(t.mu);
    for (int i = 0; i < frames; i++) {
        const int16_t mono = static_cast<int16_t>((stereo[2 * i] + stereo[2 * i + 1]) / 2);
        t.ring[(t.head + t.count) % kAudioTapFrames] = mono;
        if (t.count < kAudioTapFrames)
            t.count++;
        else
            t.head = (t.head + 1) % kAudioTapFrames; // a listener that fell behind loses the oldest
    }
}

size_t AudioTapTake(int16_t* mono, size_t most) {
    Tap& t = tap();
    std::lock_guard<std::mutex> lock(t.mu);
    size_t n = 0;
    for (; n < most && t.count > 0; n++, t.count--) {
        mono[n] = t.ring[t.head];
        t.head = (t.head + 1) % kAudioTapFrames;
    }
    return n;
}
