// A fixture with the shared record set up as start-up does, in a fresh root folder.
#pragma once

#include "RootDir.h"

#include "amp/Alarms.h"
#include "amp/LinearPort.h"
#include "app/Threads.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "trx/Serial.h"
#include "ui/Nuova.h"
#include "draw/Fb.h"
#include "draw/TTF.h"

#include <gtest/gtest.h>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Fills the font slots from a simulator root (the fonts are linked there), once
// per test program; the slots are process-wide, like the panel's.
inline void LoadSimFonts() {
    static TempDir fonts;
    static bool loaded = false;
    if (loaded) return;
    std::string err;
    ASSERT_TRUE(SimRootCreate(fonts.path, SimRootOptions{}, &err)) << err;
    plat_set_root(fonts.path.c_str());
    LoadFonts();
    plat_set_root(nullptr);
    loaded = true;
}

class RootedWorks : public RootDir {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(SimRootCreate(dir.path, SimRootOptions{}, &err)) << err;
        RootDir::SetUp();
        // As the program does at start: a write to a peer that has gone (TLS
        // writes its own records) returns EPIPE instead of ending the process.
        signal(SIGPIPE, SIG_IGN);
        InstallServiceHooks(); // a retry key or a bank change starts threads as the panel does
        w = std::make_unique<Works>();
        setup = std::make_unique<SetupRecord>();
        w->setup = setup.get();
        w->serMut = &serMut;
        w->wsSendMut = &wsSendMut;
        w->connMut = &connMut;
        w->trxParams = &params;
        InitGlobalVar(w.get());
        InitErrorTable(w.get());
        initSetup(w.get());
        InitMenu(w.get());
    }
    // A derived fixture joins its threads and stops its models before this.
    void TearDown() override {
        if (peer >= 0) {
            close(peer);
            close(w->wsFD);
        }
        if (fb) fbRelease(fb, true);
        if (!oldCwd.empty()) std::filesystem::current_path(oldCwd);
        plat_clock_manual(false);
        plat_set_time_scale(1);
        RootDir::TearDown();
    }
    // The panel reads skins and writes some files in its working directory:
    // `cwd` is it until the test ends (the root folder has no skins, so loads
    // are refused there).
    void workIn(const std::string& cwd) {
        oldCwd = std::filesystem::current_path();
        std::filesystem::current_path(cwd);
    }
    // The panel's 800 x 480 picture in memory, as after a key press (no screen
    // saver), working in `cwd` if given.
    void usePicture(const std::string& cwd = {}) {
        if (!cwd.empty()) workIn(cwd);
        fb = fbInitMemory(800, 480, 32);
        w->fb = fb;
        w->lastKeyTime = static_cast<int64_t>(plat_mono_s());
    }
    // The test moves the clock itself (plat_clock_step_us): pictures and hold
    // times come out the same in every run, whatever the machine's load.
    void useManualClock() { plat_clock_manual(true); }
    // Runs the program's clock (and the models') `n` times faster than the wall
    // clock; call before any thread or model starts.
    void useTimeScale(int n) { plat_set_time_scale(n); }

    // The amplifier's readings as a status reply would leave them: `set`
    // changes a copy of the last ones, which is then published.
    template <typename F> void readings(F set) {
        AmpReadings r = AmpReadingsNow(w.get());
        set(r);
        PublishAmpReadings(w.get(), r);
    }
    AmpReadings amp() { return AmpReadingsNow(w.get()); }

    // Drains the amplifier command ring.
    std::vector<int> queued() {
        std::vector<int> out;
        for (int c; (c = CmdQueueTake(w.get())) >= 0;)
            out.push_back(c);
        return out;
    }
    // The raised alarms' codes, in the list's order.
    std::vector<int> alarms() {
        int codes[kMaxActiveErrors];
        const int n = SnapshotErrors(w.get(), codes, kMaxActiveErrors);
        return std::vector<int>(codes, codes + n);
    }

    // Waits until the log holds `text`.
    bool logged(const std::string& text, int timeoutMs = 5000) {
        return WaitFor([&] { return Contains(syslog(), text); }, timeoutMs);
    }
    // A remote session whose far end is the test's `peer`; non-blocking, as
    // the link's sockets are.
    void remoteSession() {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        fcntl(sv[0], F_SETFL, O_NONBLOCK);
        w->wsFD = sv[0];
        peer = sv[1];
        w->remoteConnected = 1;
    }
    // Reads `n` bytes the session sent to `peer`; false when they did not all
    // come within `timeoutMs` of each other.
    bool readPeer(uint8_t* out, size_t n, int timeoutMs) {
        for (size_t have = 0; have < n;) {
            pollfd p{peer, POLLIN, 0};
            const ssize_t r = poll(&p, 1, timeoutMs) > 0 ? read(peer, out + have, n - have) : -1;
            if (r <= 0) return false;
            have += static_cast<size_t>(r);
        }
        return true;
    }

    std::unique_ptr<Works> w;
    std::unique_ptr<SetupRecord> setup;
    std::mutex serMut, wsSendMut, connMut;
    TrxParameters params{};
    int peer = -1;
    FrameBuffer* fb = nullptr;
    std::filesystem::path oldCwd;
};
