// The receiver thread against the receiver's model under umockdev: the real
// libusb in this process talks to the emulated device (the test program runs
// under umockdev-wrapper).
#include "RootedWorks.h"

#include "devsim/ProcStat.h"
#include "devsim/UsbRxModel.h"
#include "wire/Messages.h"
#include "remote/Receive.h"
#include "trx/Fft.h"
#include "trx/UsbIds.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

// The preloaded umockdev library comes before the sanitizer's runtime.
extern "C" const char* __asan_default_options() {
    return "verify_asan_link_order=0";
}

namespace {

constexpr double kRate = 192000.0;
constexpr double kBinHz = kRate / 4096; // one bin of the 4096-point transform

// Output byte of a tone `bin` bins (of its transform) from the centre.
int outIndex(int bin, int points) {
    return points == 4096 ? (1707 + bin) / 2 : (1024 + bin - 170) / 2;
}

// Descriptors this process has open; on the receiver's node only, when asked.
int openDescriptors(bool onTheNode = false) {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (dirent* e = d ? readdir(d) : nullptr) {
        char target[512];
        const ssize_t len = readlinkat(dirfd(d), e->d_name, target, sizeof target - 1);
        target[len > 0 ? len : 0] = 0;
        n += len > 0 && (!onTheNode || Contains(target, "/dev/bus/usb/001/002"));
    }
    if (d) closedir(d);
    return n;
}

class UsbRx : public RootedWorks {
  protected:
    void SetUp() override {
        RootedWorks::SetUp();
        if (!UsbRxModelAvailable()) GTEST_SKIP() << "umockdev is not installed";
        // What the thread prints goes to a file the test can read as it grows.
        savedStderr = dup(2);
        const int f =
            open((dir.path + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
        dup2(f, 2);
        close(f);
        w->startupFlags.replace(0); // past the start-up, alarms count
        setup->EnableFFT = '1';
        setup->usbSpectrum = '1';
        setup->Enable1600 = '1';
        w->settings.divide = 1;
        cfg.sampleRate = kRate;
        cfg.tones = {{101 * kBinHz, 0.5}};
    }
    void TearDown() override {
        if (w) {
            setup->EnableFFT = '0';
            JoinThread(SlotOf(Thread::UsbRx));
        }
        UsbRxModelStop(model);
        if (savedStderr >= 0) {
            dup2(savedStderr, 2);
            close(savedStderr);
            if (HasFailure())
                std::fprintf(stderr, "--- the thread printed:\n%s---\n", printed().c_str());
        }
        RootedWorks::TearDown();
    }
    void startModel() {
        std::string err;
        model = UsbRxModelStart(cfg, &err);
        ASSERT_NE(model, nullptr) << err;
    }
    void start() {
        setup->EnableFFT = '1';
        StartTavReadFFT(w.get());
    }
    // The model, a peer for the spectra and the thread.
    void startStreaming() {
        startModel();
        remoteSession();
        start();
    }
    // Ends the thread as the remote stop does.
    void stop() {
        setup->EnableFFT = '0';
        ASSERT_TRUE(WaitFor([&] { return !ThreadRunning(SlotOf(Thread::UsbRx)); }, 5000));
        JoinThread(SlotOf(Thread::UsbRx));
    }
    // The next whole "SP" spectrum from its fragments (from a first fragment
    // on); empty when none came.
    std::vector<uint8_t> nextSpectrum(int timeoutMs = 3000) {
        std::vector<uint8_t> trace;
        uint8_t f[kFragmentFrame];
        while (readPeer(f, sizeof f, timeoutMs)) {
            EXPECT_EQ(f[4], 'S');
            EXPECT_EQ(f[5], 'P');
            const size_t total = (size_t{f[6]} << 24) | (f[7] << 16) | (f[8] << 8) | f[9];
            const size_t offset = (size_t{f[10]} << 24) | (f[11] << 16) | (f[12] << 8) | f[13];
            if (total > kFftOutMax || offset >= total) return {};
            if (trace.empty() && offset != 0) continue;
            trace.resize(total);
            std::copy(f + 14, f + 14 + std::min(kFragmentData, total - offset),
                      trace.begin() + offset);
            if (offset + kFragmentData >= total) return trace;
        }
        return {};
    }
    // Drops everything already sent.
    void drain() {
        uint8_t f[kFragmentFrame];
        for (pollfd p{peer, POLLIN, 0}; poll(&p, 1, 0) > 0 && readPeer(f, sizeof f, 1000);)
            ;
    }
    // A spectrum made after everything already sent.
    std::vector<uint8_t> freshSpectrum() {
        drain();
        nextSpectrum();
        return nextSpectrum();
    }
    static int peakAt(const std::vector<uint8_t>& t) {
        return static_cast<int>(std::max_element(t.begin(), t.end()) - t.begin());
    }
    std::string printed() { return ReadFile(dir.path + "/stderr.txt"); }
    bool waitPrinted(const std::string& text, int timeoutMs = 5000) {
        return WaitFor([&] { return Contains(printed(), text); }, timeoutMs);
    }
    // The thread gave up: error 5, its byte '0', a remote restart asked for.
    void expectFailed() {
        ASSERT_TRUE(WaitFor([&] { return !ThreadRunning(SlotOf(Thread::UsbRx)); }, 8000));
        EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 1);
        EXPECT_EQ(setup->EnableFFT, '0');
        EXPECT_EQ(w->remoteRestart, 1);
    }
    // Everything the thread opened it closed again.
    void expectAllReleased() {
        ASSERT_TRUE(WaitFor(
            [&] { return openDescriptors(true) == 0 && UsbRxModelStats(model).urbsInFlight == 0; },
            3000));
        const UsbRxStats s = UsbRxModelStats(model);
        EXPECT_EQ(s.claims, s.releases);
        EXPECT_TRUE(s.unknown.empty()) << s.unknown.front();
    }
    // Ready for a table's next case: no model, no alarm or restart request, nothing printed.
    void nextCase() {
        UsbRxModelStop(model);
        model = nullptr;
        DeleteErrore(w.get(), kAlarmRemoteUsb);
        w->remoteRestart = 0;
        ASSERT_EQ(ftruncate(2, 0), 0);
    }

    UsbRxModelConfig cfg;
    UsbRxModel* model = nullptr;
    int savedStderr = -1;
};

TEST_F(UsbRx, StreamsFourWholeTransfersAndSendsSpectraWithPeaksAtTheirBins) {
    cfg.tones = {{101 * kBinHz, 0.5}, {-731 * kBinHz, 0.01}};
    startStreaming();
    std::vector<uint8_t> t = nextSpectrum();
    ASSERT_EQ(t.size(), kFftOutMax);
    EXPECT_EQ(peakAt(t), outIndex(101, 4096));
    // The weaker tone stands out of the noise at its own bin.
    const int weak = outIndex(-731, 4096);
    EXPECT_EQ(std::max_element(t.begin() + weak - 20, t.begin() + weak + 20) - t.begin(), weak);
    EXPECT_GT(t[weak], t[weak + 40] + 40);
    // (Its level after the global offset: TheLpOffsetRaisesTheLevel...)
    const std::string out = printed();
    for (const char* line :
         {"Operations init kavo-comms version 1.0\n", "VRN Device Opened\n", "Interface claimed\n",
          "USB Driver Version: 2.7\n", "HW Version: 1.3\n", "Serial: KV2026-000417\n",
          "Device caught\n", "Global Offset: 21.400000\n", "LP Offset: 3.000000\n",
          "ATT Offset: 20.000000\n", "Stop FIFO\n", "Init FIFO\n", "SYN Enabled\n",
          "libusb_submit_transfer succedeed\n", "SYN transfer starting\n"})
        EXPECT_TRUE(Contains(out, line)) << line;
    EXPECT_FALSE(Contains(out, "Enable SYN failed"));
    EXPECT_TRUE(logged("6 VRN TAV "));
    const UsbRxStats s = UsbRxModelStats(model);
    EXPECT_EQ(s.claims, 1);
    EXPECT_EQ(s.bulkSubmitMax, 32768); // one URB per transfer
    const std::vector<UsbRxRequest> order = {
        UsbRxRequest::DriverVersion, UsbRxRequest::HwVersion, UsbRxRequest::Serial,
        UsbRxRequest::GlobalOffset,  UsbRxRequest::LpOffset,  UsbRxRequest::AttOffset,
        UsbRxRequest::StopFifo,      UsbRxRequest::InitFifo,  UsbRxRequest::EnableStream};
    EXPECT_EQ(s.requests, order);

    // The 2048-point mode, chosen by the peer: 854 bytes.
    dispStat(w.get(), "KAVOFT01;");
    EXPECT_EQ(w->settings.divide, 2);
    UsbRxModelSetTones(model, {{100 * kBinHz, 0.5}});
    t = freshSpectrum();
    ASSERT_EQ(t.size(), kFftOutSmall);
    EXPECT_EQ(peakAt(t), outIndex(50, 2048));

    stop();
    // A stop asked for is no failure.
    EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 0);
    EXPECT_TRUE(Contains(printed(), "TavRead.cpp Operations end\n"));
    expectAllReleased();
    EXPECT_EQ(UsbRxModelStats(model).releases, 1);
}

// On a board the thread sleeps in libusb's poll until a transfer completes,
// once a block. Under umockdev each URB is also a few round trips to the model
// (about ten wake-ups a block); a reap that answers at once while nothing is
// ready makes libusb ask again at once, hundreds of times a block. A device
// that sends nothing leaves the thread waiting, as a board's poll does; switched
// off then, its transfers are cancelled.
TEST_F(UsbRx, TheThreadSleepsUntilATransferCompletesAndAStalledStreamIsCancelled) {
    startModel();
    start();
    ASSERT_TRUE(UsbRxModelWaitBlocks(model, 10, 5000));
    int64_t sleeps0 = ProcThreadSleeps(getpid(), "usb-rx");
    const long long blocks0 = UsbRxModelStats(model).blocks;
    ASSERT_GE(sleeps0, 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    int64_t sleeps = ProcThreadSleeps(getpid(), "usb-rx") - sleeps0;
    const long long blocks = UsbRxModelStats(model).blocks - blocks0;
    ASSERT_GE(blocks, 20); // 47 a second
    EXPECT_LT(sleeps, 25 * blocks) << sleeps << " wake-ups for " << blocks << " blocks";
    // Each of the four buffers was read from the thread once, before its first
    // block: the kernel never reads an IN buffer.
    EXPECT_LE(UsbRxModelStats(model).inBufferReads, 4);

    UsbRxModelHoldStream(model, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sleeps0 = ProcThreadSleeps(getpid(), "usb-rx");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    sleeps = ProcThreadSleeps(getpid(), "usb-rx") - sleeps0;
    EXPECT_LT(sleeps, 1000);
    UsbRxModelHoldStream(model, false);
    EXPECT_TRUE(UsbRxModelWaitBlocks(model, UsbRxModelStats(model).blocks + 5, 5000));

    UsbRxModelHoldStream(model, true);
    stop();
    EXPECT_GE(UsbRxModelStats(model).discarded, 3); // one may have come back just before
    EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 0);
    expectAllReleased();
}

// The LP offset raises the level while LP is on. The model writes a buffer
// back only where it differs from what it last read there: an all-zero block,
// like the buffer's first contents, must still replace the tone block the
// buffer holds.
TEST_F(UsbRx, TheLpOffsetRaisesTheLevelAndSilenceAfterAToneIsFlat) {
    cfg.noise = 0;
    cfg.globalOffset = 11.4f; // 10 dB of gain
    cfg.lpOffset = 6.0f;
    startStreaming();
    std::vector<uint8_t> t = nextSpectrum();
    ASSERT_EQ(t.size(), kFftOutMax);
    EXPECT_EQ(peakAt(t), outIndex(101, 4096));
    EXPECT_EQ(t[outIndex(101, 4096)], 193); // -8.9 + 10 dB, truncated
    {
        std::lock_guard<std::mutex> lock(serMut);
        params.lp = 1;
    }
    t = freshSpectrum();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[outIndex(101, 4096)], 199); // and 6 more
    UsbRxModelSetTones(model, {});
    for (int i = 0; i < 8; i++) { // twice round the four buffers
        t = freshSpectrum();
        ASSERT_EQ(t.size(), kFftOutMax);
        EXPECT_EQ(*std::max_element(t.begin(), t.end()), *std::min_element(t.begin(), t.end()))
            << i;
    }
}

// The first block makes a spectrum whatever the divide; a peer's divide takes
// effect at the next block. (Values the counter cannot use are refused:
// RemoteMessages.StatusChannelCommandsAndDivideWithinItsTwoDigits.) Block b
// carries its tone at bin 2b - 1: output byte 853 + b.
TEST_F(UsbRx, APeersDivideTakesEffectAtTheNextBlock) {
    // A slow stream (85 ms a block), so that a change lands long before block 100.
    cfg.sampleRate = 48000.0;
    cfg.tones = {{1 * 48000.0 / 4096, 0.5}};
    cfg.stepHzPerBlock = 2 * 48000.0 / 4096;
    w->settings.divide = 99;
    startStreaming();
    ASSERT_EQ(peakAt(nextSpectrum()), 853 + 1);
    // Counting down the 99 loaded at block 1 would give block 100 next.
    dispStat(w.get(), "KAVOFD3");
    const int b = peakAt(nextSpectrum()) - 853;
    EXPECT_GT(b, 1);
    EXPECT_LT(b, 100);
    for (int next : {b + 3, b + 6})
        EXPECT_EQ(peakAt(nextSpectrum()) - 853, next);
    // Back to every block.
    dispStat(w.get(), "KAVOFD1");
    int last = peakAt(nextSpectrum()) - 853;
    for (int i = 0; i < 3; i++) {
        const int next = peakAt(nextSpectrum()) - 853;
        EXPECT_EQ(next, last + 1);
        last = next;
    }
}

// With the serial spectrum chosen, or while blocks come short (scaled, but no
// spectrum), the stream goes on without spectra.
TEST_F(UsbRx, WithTheSerialSpectrumChosenOrShortBlocksTheStreamGoesOnWithoutSpectra) {
    startModel();
    remoteSession();
    dispStat(w.get(), "KAVOFT00;");
    start();
    ASSERT_TRUE(UsbRxModelWaitBlocks(model, 20, 5000));
    EXPECT_TRUE(nextSpectrum(300).empty());
    // Chosen again: spectra come.
    dispStat(w.get(), "KAVOFT02;");
    EXPECT_EQ(nextSpectrum().size(), kFftOutMax);
    UsbRxModelShortBlocks(model, 1 << 30, 1000);
    ASSERT_TRUE(UsbRxModelWaitBlocks(model, UsbRxModelStats(model).blocks + 12, 5000));
    drain();
    EXPECT_TRUE(nextSpectrum(300).empty());
    UsbRxModelShortBlocks(model, 0, 0);
    EXPECT_EQ(freshSpectrum().size(), kFftOutMax);
}

// Another product of the vendor is taken (and no model is logged), a kernel
// driver is detached first, the requests the stream can do without may fail,
// and spectra come once a peer does.
TEST_F(UsbRx, AnotherProductWithAKernelDriverAndFailingOptionalRequestsStreamsForAPeer) {
    cfg.product = 0x05E0;
    cfg.kernelDriver = true;
    startModel();
    UsbRxModelSetFault(model, UsbRxRequest::DriverVersion, UsbRxFault::Stall);
    UsbRxModelSetFault(model, UsbRxRequest::HwVersion, UsbRxFault::Short);
    UsbRxModelSetFault(model, UsbRxRequest::StopFifo, UsbRxFault::Refuse);
    UsbRxModelSetFault(model, UsbRxRequest::InitFifo, UsbRxFault::Stall);
    UsbRxModelSetFault(model, UsbRxRequest::EnableStream, UsbRxFault::Wrong);
    start();
    ASSERT_TRUE(UsbRxModelWaitBlocks(model, 10, 5000));
    remoteSession();
    EXPECT_EQ(nextSpectrum().size(), kFftOutMax);
    for (const char* line :
         {"Kernel Driver Active\nKernel Driver Detached\nInterface claimed\n",
          "USB Driver Version read failed\n", "HW Version read failed\n", "Stop FIFO failed (-1)\n",
          "Init FIFO failed (-9)\n", "Enable SYN failed (1 00)\nSYN Enabled\n"})
        EXPECT_TRUE(Contains(printed(), line)) << line;
    EXPECT_EQ(UsbRxModelStats(model).detaches, 1);
    EXPECT_FALSE(logged("VRN", 200));
    EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 0);
}

// The first receivers, and requests whose failure ends the thread: how each
// failure reads, and everything released.
TEST_F(UsbRx, AStartThatFailsEndsTheThreadAndReleasesTheDevice) {
    const char* const kNoStream = "SYN transfer starting";
    using Rq = UsbRxRequest;
    using Ft = UsbRxFault;
    const struct {
        uint16_t product;
        Rq request;
        Ft fault;
        const char* line;          // printed
        const char* absent;        // not printed
        const char* log = nullptr; // logged, when not null
    } cases[] = {
        {RX_PID_S1, Rq::Other, Ft::None, "Serial: KV2026-000417\n", "Device caught\n", "3 VRN S1 "},
        {RX_PID_S2, Rq::Other, Ft::None, "Serial: KV2026-000417\n", "Device caught\n", "3 VRN S2 "},
        {0x05DC, Rq::Serial, Ft::Stall, "Serial read failed (-9)\n", kNoStream},
        {0x05DC, Rq::Serial, Ft::Short, "Serial read failed (31)\n", kNoStream},
        {0x05DC, Rq::GlobalOffset, Ft::Refuse, "Global Offset failed (-1)\n", kNoStream},
        {0x05DC, Rq::LpOffset, Ft::Short, "LP Offset failed (3)\n", kNoStream},
        // A device that never answers: the request gives up after a second.
        {0x05DC, Rq::AttOffset, Ft::Timeout, "ATT Offset failed (-7)\n", kNoStream},
    };
    for (const auto& c : cases) {
        cfg.product = c.product;
        startModel();
        UsbRxModelSetFault(model, c.request, c.fault);
        start();
        expectFailed();
        EXPECT_TRUE(waitPrinted(c.line)) << c.line;
        EXPECT_FALSE(Contains(printed(), c.absent)) << c.line;
        EXPECT_TRUE(!c.log || logged(c.log)) << c.log;
        expectAllReleased();
        ASSERT_NO_FATAL_FAILURE(nextCase());
    }
}

// Stalls, overflows and errors all count.
TEST_F(UsbRx, ElevenFailedTransfersInARowEndStreaming) {
    startModel();
    remoteSession();
    // Ten in a row are forgiven by the next good block.
    UsbRxModelFailBlocks(model, 10, -EPROTO);
    start();
    EXPECT_EQ(nextSpectrum().size(), kFftOutMax);
    EXPECT_FALSE(Contains(printed(), "libusb_err_counter"));
    EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 0);
    UsbRxModelFailBlocks(model, 1 << 30, -EPIPE);
    expectFailed();
    const std::string out = printed();
    EXPECT_TRUE(Contains(out, "CB result: Error 0\n"));
    EXPECT_TRUE(Contains(out, "CB result: Stalled "));
    EXPECT_TRUE(Contains(out, "libusb_err_counter (11), TavRead.cpp:"));
    EXPECT_FALSE(Contains(out, "libusb_err_counter (10)"));
    expectAllReleased();
    ASSERT_NO_FATAL_FAILURE(nextCase());
    startModel();
    UsbRxModelFailBlocks(model, 1 << 30, -EOVERFLOW);
    start();
    expectFailed();
    EXPECT_TRUE(Contains(printed(), "CB result: Overflowed "));
}

TEST_F(UsbRx, ManyRestartsLeaveNothingBehindAndUnpluggedARestartFindsNothing) {
    startStreaming();
    ASSERT_EQ(nextSpectrum().size(), kFftOutMax);
    w->remoteConnected = 0; // nobody reads the spectra from here on
    stop();
    const int before = openDescriptors();
    for (int i = 0; i < 25; i++) {
        const long long blocks = UsbRxModelStats(model).blocks;
        start();
        ASSERT_TRUE(UsbRxModelWaitBlocks(model, blocks + 2, 5000)) << i;
        stop();
    }
    // The device's node and its transfers go a moment after the thread ends.
    expectAllReleased();
    EXPECT_TRUE(WaitFor([&] { return openDescriptors() == before; }, 3000))
        << openDescriptors() << " vs " << before;
    const UsbRxStats s = UsbRxModelStats(model);
    EXPECT_EQ(s.opens, 26);
    EXPECT_EQ(s.releases, 26);
    EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 0);
    // The memory: the sanitizer build's leak check at exit sees every
    // transfer, handle and context that was not freed.

    // Unplugged while streaming, the thread ends; the remote restart tries again
    // and finds no receiver.
    start();
    ASSERT_TRUE(UsbRxModelWaitBlocks(model, UsbRxModelStats(model).blocks + 2, 5000));
    UsbRxModelUnplug(model);
    expectFailed();
    EXPECT_TRUE(waitPrinted("CB result: Nodevice "));
    DeleteErrore(w.get(), kAlarmRemoteUsb);
    w->remoteRestart = 0;
    start();
    expectFailed();
    EXPECT_TRUE(waitPrinted("Cannot find VRN Device\n"));
    EXPECT_TRUE(logged("3 Cannot find VRN Device"));
}

} // namespace
