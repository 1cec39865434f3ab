// The processor cost of one second of stereo audio through the remote link's
// audio path, raw and with Opus at 64000 bit/s: capture side (encode, frame,
// write to the socket) and receive side (decode, latency check, write to the
// playback device), each against a memcpy of the same second of samples
// measured in the same run, in processor time of the thread that does the work.
// The playback device is ALSA's null device, which
// takes every block at once, so the figures are the program's own work.
// Usage: bench_audio [SECONDS]
#include "app/Main.h"
#include "app/Threads.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "wire/Messages.h"
#include "remote/th_scrivi.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <opus/opus.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBlock = 480;           // Multiplier 2: 10 ms
constexpr int kBlocksPerSecond = 100;

// Processor time of the calling thread (the pause before each frame's write
// is not work).
double secondsOf(const std::function<void()>& f) {
    timespec a, b;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    f();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    char tmpl[] = "/tmp/panel-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const std::string root = tmpl;
    std::string err;
    if (!SimRootCreate(root, SimRootOptions{}, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    // The interface is "there" for the playback thread's check.
    std::FILE* l = std::fopen((root + "/sim/lsusb.txt").c_str(), "w");
    std::fputs("Bus 001 Device 004: ID 0d8c:01af C-Media\n", l);
    std::fclose(l);
    plat_set_root(root.c_str());
    plat_set_time_scale(20); // the playback thread's 3 s before it opens its device

    static Works w;
    static SetupRecord setup;
    static std::mutex sendMut, connMut, serMut;
    w.setup = &setup;
    w.wsSendMut = &sendMut;
    w.connMut = &connMut;
    w.serMut = &serMut;
    InitGlobalVar(&w);
    initSetup(&w);
    w.settings.audioMultiplier = kBlock;
    setup.AudioOut.set("null");

    // The link: a socket whose far end a reader thread empties.
    int sv[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
    fcntl(sv[0], F_SETFL, O_NONBLOCK);
    w.wsFD = sv[0];
    w.remoteConnected = 1;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::vector<char> buf(65536);
        while (!stop && read(sv[1], buf.data(), buf.size()) > 0) {
        }
    });

    setup.EnableWrite = '1';
    StartThreadAudioWrite(&w);
    for (int i = 0; i < 500 && !w.audio.audioOutReady; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // its prepare

    std::vector<int16_t> second(static_cast<size_t>(kBlock) * kBlocksPerSecond * 2);
    for (size_t i = 0; i < second.size() / 2; i++)
        second[2 * i] = second[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 700 * i / 48000.0));
    std::vector<int16_t> copy(second.size());
    const double memcpyS = secondsOf([&] {
                               for (int s = 0; s < seconds * 10; s++) {
                                   std::memcpy(copy.data(), second.data(), second.size() * 2);
                                   asm volatile("" : : "r"(copy.data()) : "memory");
                               }
                           }) /
                           (seconds * 10);

    std::printf("one second of stereo audio (%d blocks of %d frames), %d s measured\n", kBlocksPerSecond,
                kBlock, seconds);
    std::printf("memcpy of the samples: %.1f us\n", memcpyS * 1e6);
    for (int bitrate : {0, 64000}) {
        DestroyAudioCodec(&w);
        w.settings.audioBitrate = bitrate;
        if (bitrate > 0)
            CreateAudioCodec(&w);
        // Capture side: one block after another, as the capture thread sends them.
        const double sendS = secondsOf([&] {
                                 for (int s = 0; s < seconds; s++)
                                     for (int b = 0; b < kBlocksPerSecond; b++)
                                         sendWebSockAudioFrame(&w, second.data() + b * kBlock * 2);
                             }) /
                             seconds;
        // Receive side: the payloads the capture side would send.
        std::vector<std::vector<uint8_t>> payloads;
        OpusEncoder* enc = bitrate > 0 ? opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, nullptr) : nullptr;
        if (enc)
            opus_encoder_ctl(enc, OPUS_SET_BITRATE(bitrate));
        for (int b = 0; b < kBlocksPerSecond; b++) {
            const int16_t* pcm = second.data() + b * kBlock * 2;
            std::vector<uint8_t> p(kBlock * 4);
            if (enc)
                p.resize(static_cast<size_t>(opus_encode(enc, pcm, kBlock, p.data(), static_cast<opus_int32>(p.size()))));
            else
                std::memcpy(p.data(), pcm, p.size());
            payloads.push_back(std::move(p));
        }
        if (enc)
            opus_encoder_destroy(enc);
        const double playS = secondsOf([&] {
                                 for (int s = 0; s < seconds; s++)
                                     for (const auto& p : payloads)
                                         PlayReceivedAudio(&w, false, p.data(), p.size());
                             }) /
                             seconds;
        std::printf("%-12s send (encode, frame, write) %8.1f us = %6.1f memcpy, %.2f %% of a core\n",
                    bitrate ? "Opus 64000" : "raw", sendS * 1e6, sendS / memcpyS, sendS * 100);
        std::printf("%-12s receive (decode, play)     %8.1f us = %6.1f memcpy, %.2f %% of a core\n",
                    bitrate ? "Opus 64000" : "raw", playS * 1e6, playS / memcpyS, playS * 100);
    }
    std::printf("dropped audio frames: %d\n", w.audio.wsDroppedAudio.load());

    w.running = 0;
    JoinThread(SlotOf(Thread::AudioOut));
    stop = true;
    shutdown(sv[0], SHUT_RDWR);
    reader.join();
    DestroyAudioCodec(&w);
    plat_set_root(nullptr);
    std::filesystem::remove_all(root);
    return 0;
}
