// The desktop simulator: runs the panel program against a fresh root folder and
// a station of device models (the amplifier's microcontroller, the GPIO
// converter, an FT-817, the transceiver's CAT port and serial link), turns keys
// into panel key presses and station actions, and saves the panel as PNG
// pictures.
//
//   panel-sim [--root DIR] [--keep] [--remote [--serial-spectrum] [--audio-in FILE.wav]
//             [--audio-out DEVICE] [--compress BITS]] [--audio] [--script FILE] [--live]
//             [--gpio registers|chardev] [--no-window] [--setup \"KEY: VALUE\"]... [--panel EXE] [--skins DIR] [--time-scale N]
//
// --gpio chardev makes the amplifier's unit a Raspberry Pi 5: its device tree, no
// dev/mem, the RP1's GPIO chip modelled (the panel gets the chip model preloaded);
// the default, registers, keeps the GPIO register block in dev/mem.
//
// --audio without --remote gives the single unit its sound interface (a 700 Hz
// tone captured, what it plays in DIR/sim/played.raw) and, in a root without a
// setup file, the audio keys that switch its audio threads on: the browser
// console's audio.
//
// Without --root the simulator lays its root out under /tmp/panel-sim-* and
// removes it at the end, unless --keep. When the simulator is ended (Ctrl-C,
// SIGINT, SIGTERM, SIGHUP) it ends its panels as systemctl stop does, then itself.
// --time-scale N runs the panels' clocks, the station and the script N times
// faster (for tests).
//
// --remote runs two units: the amplifier's unit at the station (the WebSocket
// server, its bank on the transceiver's link) and a second panel in DIR/operator
// as the operator's unit (the WebSocket client, no amplifier of its own), joined
// by the remote link on a free local port. Both screens are shown side by side;
// the keys act on the amplifier's unit, shifted digits on the operator's. Audio
// flows both ways through models of the USB sound interface: a 700 Hz tone (or
// --audio-in FILE.wav) from the station, 1000 Hz from the operator, each played
// into DIR[/operator]/sim/played.raw; --audio-out DEVICE plays the operator's on
// that ALSA device instead, --compress BITS sends Opus at that rate. When the
// machine has umockdev, the amplifier's unit also has the transceiver's USB
// receiver (a model streaming a few stations over noise), chosen as the source
// of the operator's spectrum as "KAVOFT01;" chooses it; --serial-spectrum keeps
// the spectrum of the transceiver's serial link instead. Both units serve
// Hamlib's amplifier protocol (the operator's unit for the station's
// amplifier), each on a free port the simulator prints; a single unit on its
// setup's AmpctlPort (4531 by default).
//
// With a display the panels are shown in a window, live. Keys (in the window, the
// terminal, or a pipe a test program writes):
//   1..6     press a panel key briefly      q w e r t y  hold keys 1..6 (long press)
//   ! @ # $ % ^  press keys 1..6 of the operator's unit (--remote)
//   space    transmit on/off (5 W drive)    + / -        frequency up/down 1 kHz
//   > / <    next/previous band             i            next interface of the bank
//   u        tune key (from the main keys: key 4 opens the tuner keys, key 4 tunes;
//            with the transceiver's interface the search runs on its carrier)
//   s        save the screen(s)             x or F12     end the panel (F12)
//   Ctrl-C   end the panels (SIGTERM)       h            this list
// --live also saves the screen to DIR/live.png once a second.
//
// A script has one action a line: "wait MS", "key N", "long N [MS]",
// "shot FILE.png", "kbd CODE" (a Linux key code on the keyboard), "f12",
// "tx on|off", "freq HZ", "band next|prev", "temp T1 T2|off" (the heat sinks held
// at T1 and T2 degrees), "fault BITS" (the amplifier latches those fault bits until
// the panel clears its protection), "stall MS" (the panel is stopped for MS of
// real time, as a loaded machine can stop it), "interface",
// "tune", "expect MS TEXT"
// (wait until the panel has printed TEXT, else fail), "logged N MS TEXT" (its log
// has TEXT at least N times), "changed MS X0 Y0 X1 Y1"
// (wait until that box of the screen differs from the last shot, else fail), "exit MS" (wait for the
// panel to end), "session MS" (wait until the remote session is up), "audio on"
// (the tones start), "latency MS" (wait until each tone is played on the other
// unit and print how long it took), "cat TEXT" (the text on the CAT port:
// the station's transceiver speaks, or with "operator" the operator's logging
// software), "received MS cat|link TEXT N" (the station's transceiver has
// received TEXT on its CAT port or its serial link at least N times, waiting up
// to MS for them; "=N": exactly N times), "standby MS on|off" (the amplifier model in standby or
// operate within MS). With
// --remote, "operator" before key, long, shot, kbd, f12, expect, logged, cat and exit
// sends the action to the operator's unit. --setup "KEY: VALUE" adds a line to
// the amplifier unit's setup file. Lines starting with # are comments.
//
// --bench SECONDS measures each thread of each unit (processor use, wake-ups a
// second) and the shell commands it runs: with --remote the busy station (audio
// both ways, transmitting), else the idle main page.
//
// --soak SECONDS runs both units for that long with faults in turn (the
// amplifier silent, answering "?" or noise; the transceiver's link pulled out
// and plugged back; the FT-817 silent; the operator's unit dropping and coming
// back) between random presses of the main keys and menu saves, then checks that
// the panel still answers F12, that its threads, descriptors and memory did not
// grow after the first minute, and that the settings files are whole and hold
// the last value saved. --seed N chooses the random sequence.
#include "X11View.h"
#include "core/RemoteCode.h"
#include "core/Settings.h"
#include "devsim/AmpModel.h"
#include "devsim/Ft817Model.h"
#include "devsim/GpioChip.h"
#include "devsim/GpioKeys.h"
#include "devsim/Keyboard.h"
#include "devsim/PanelProcess.h"
#include "devsim/ProcStat.h"
#include "devsim/Pty.h"
#include "devsim/Screen.h"
#include "devsim/SimAudio.h"
#include "devsim/SimRoot.h"
#include "devsim/Station.h"
#include "devsim/TrxCatModel.h"
#include "devsim/TrxModel.h"
#include "devsim/UsbRxModel.h"
#include "platform/Clock.h"
#include "platform/Socket.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <linux/input.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A key press to make: which key, how long to hold it, the pause after it.
struct Press {
    int key;
    int holdMs;
    int gapMs;
};

// One panel program with its root, keyboard and keys.
struct Unit {
    const char* name = "panel";
    std::string root;
    PanelProcess panel;
    SimKeyboard kbd;
    SimGpioKeys keys;
    bool started = false;
    SimScreen lastShot; // for "changed"
};

// The remote link's audio: both units capture a tone (or a WAV file) and play
// what reaches them, through the model of the USB sound interface.
struct AudioSetup {
    std::string wavFile;  // --audio-in: the amplifier unit captures this
    std::string outDevice; // --audio-out: the operator's unit plays on this ALSA device
    int compress = 0;      // --compress: Opus bit rate, 0 raw
};

struct Sim {
    std::string root;
    Unit amp;
    Unit op; // the operator's unit (--remote)
    bool remote = false;
    bool stationAudio = false; // --audio: the station's sound interface without the link
    bool gpioChip = false;     // --gpio chardev: the amplifier's unit is a Pi 5 (GPIO chip model)
    AudioSetup audio;
    SimPty opSerial; // the operator's unit has no transceiver: a quiet line
    TrxCatModel* opCat = nullptr; // the operator's own CAT port (its logging software's)
    UsbRxModel* usbRx = nullptr;  // the transceiver's USB receiver, at the amplifier's unit
    bool serialSpectrum = false;  // --serial-spectrum
    SimStation station;
    int shots = 0;
    // Presses are made one after the other, without blocking the window.
    std::deque<Press> pending;
    int downKey = 0;
    int64_t nextChangeMs = 0; // program time
    bool removeRoot = false;  // a root of our own under /tmp
    std::string exe, skins;   // the panel program and its skins, to start a unit again
    int timeScale = 1;
    std::vector<std::thread> stalls; // each lets a stopped panel go on
    std::vector<std::string> setupLines; // --setup: added to the amplifier unit's setup file
};

// Set by SIGINT, SIGTERM and SIGHUP: end the panels, then the simulator.
std::atomic<bool> g_stop{false};
void onStopSignal(int) { g_stop = true; }

// Sleeps in program time (scaled with --time-scale), waking early for g_stop.
void sleepMs(int ms) {
    const int64_t end = plat_mono_ms() + ms;
    while (!g_stop) {
        const int64_t left = end - plat_mono_ms();
        if (left <= 0)
            return;
        plat_sleep_ms(left < 50 ? left : 50);
    }
}

// Waits `ms` of program time, then until the panel's keys thread has surely
// made passes since: on a loaded machine a thread can miss a whole fixed hold.
// Its sleeps are counted from /proc every 5 ms, but a converter exchange (13 ms)
// sleeps too, and so does a thread being stopped: it must have slept in eight
// of those looks, 40 ms in which it ran, time for a dozen 2 ms passes besides
// one exchange. Gives up after 10 s of real time, and waits only the fixed time
// for a panel without that thread.
void waitKeyPasses(const Unit& u, int ms) {
    int64_t last = ProcThreadSleeps(u.panel.pid, "keys");
    sleepMs(ms);
    if (last < 0)
        return;
    const auto end = Clock::now() + std::chrono::seconds(10);
    int ran = 0;
    while (!g_stop && Clock::now() < end && ran < 8) {
        const int64_t n = ProcThreadSleeps(u.panel.pid, "keys");
        if (n < 0)
            return;
        ran += n > last;
        last = n;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The last lines of a panel's output, for the reader of a failed script.
void printTail(const std::string& file, size_t lines) {
    std::ifstream in(file);
    std::deque<std::string> last;
    for (std::string line; std::getline(in, line);) {
        last.push_back(line.substr(0, 200));
        if (last.size() > lines)
            last.pop_front();
    }
    std::fprintf(stderr, "panel-sim: the end of %s:\n", file.c_str());
    for (const std::string& l : last)
        std::fprintf(stderr, "  %s\n", l.c_str());
}

void press(Unit& u, int key, int holdMs) {
    SimGpioKeyDown(&u.keys, key);
    waitKeyPasses(u, holdMs);
    SimGpioKeyUp(&u.keys, key);
    waitKeyPasses(u, 0);
}

constexpr size_t kMaxPendingPresses = 16;

// Long key 1 opens the memory table, key 2 steps its interface, key 1 closes it.
const Press kInterfaceStep[] = {{1, 900, 300}, {2, 150, 300}, {1, 150, 200}};
// From the main keys: key 4 opens the tuner keys, whose key 4 starts (or aborts)
// a tune; key 1 goes back once the tune has ended.
const Press kTune[] = {{4, 150, 300}, {4, 150, 200}};

// Runs the queued presses of the amplifier's unit; called often from the
// interactive loop.
void pumpPresses(Sim& s) {
    const int64_t now = plat_mono_ms();
    if (now < s.nextChangeMs)
        return;
    if (s.downKey) {
        SimGpioKeyUp(&s.amp.keys, s.downKey);
        s.nextChangeMs = now + s.pending.front().gapMs;
        s.downKey = 0;
        s.pending.pop_front();
        return;
    }
    if (s.pending.empty())
        return;
    s.downKey = s.pending.front().key;
    SimGpioKeyDown(&s.amp.keys, s.downKey);
    s.nextChangeMs = now + s.pending.front().holdMs;
}

bool shot(Unit& u, const std::string& path) {
    SimScreen screen;
    if (!SimScreenRead(SimFbPath(u.root), &screen) || !SimScreenSavePng(screen, path)) {
        std::fprintf(stderr, "panel-sim: cannot save %s\n", path.c_str());
        return false;
    }
    std::fprintf(stderr, "panel-sim: saved %s\n", path.c_str());
    u.lastShot = std::move(screen);
    return true;
}

// How often `text` occurs in the file.
int fileCount(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string s = all.str();
    int n = 0;
    for (size_t at = s.find(text); !text.empty() && at != std::string::npos; at = s.find(text, at + text.size()))
        n++;
    return n;
}

bool fileHas(const std::string& path, const std::string& text) { return fileCount(path, text) > 0; }

// Waits until `cond` holds, or the time is up or the simulator is stopped.
template <class Cond> bool waitUntil(Cond cond, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cond())
            return true;
        if (Clock::now() > end || g_stop)
            return false;
        sleepMs(50);
    }
}

// Waits up to `ms` until the box (x0, y0)-(x1, y1) of the unit's screen differs
// from its last shot: what a key changed is drawn, however slow the machine.
bool changed(const Unit& u, int ms, int x0, int y0, int x1, int y1) {
    const SimScreen& before = u.lastShot;
    if (before.bgrx.empty() || x0 < 0 || y0 < 0 || x1 > before.width || y1 > before.height || x0 >= x1 ||
        y0 >= y1) {
        std::fprintf(stderr, "panel-sim: \"changed\" needs an earlier shot and a box inside the screen\n");
        return false;
    }
    auto sameBox = [&](const SimScreen& a, const SimScreen& b) {
        for (int y = y0; y < y1; y++) {
            const size_t row = (static_cast<size_t>(y) * a.width + x0) * 4;
            if (std::memcmp(&a.bgrx[row], &b.bgrx[row], static_cast<size_t>(x1 - x0) * 4) != 0)
                return false;
        }
        return true;
    };
    // Changed, and then the same in two looks 100 ms apart: a page that a slow
    // panel is still drawing is not taken for the new page.
    SimScreen last;
    return waitUntil(
        [&] {
            SimScreen now;
            if (!SimScreenRead(SimFbPath(u.root), &now) || now.bgrx.size() != before.bgrx.size() ||
                sameBox(now, before))
                return false;
            const bool settled = last.bgrx.size() == now.bgrx.size() && sameBox(now, last);
            last = std::move(now);
            if (!settled)
                sleepMs(100);
            return settled;
        },
        ms);
}

// Waits until at least `n` pixels of the box are exactly this colour: a trace
// or a mark that arrives over a link shows when it shows, not after a fixed wait.
bool coloured(const Unit& u, int ms, const int box[4], const int rgb[3], int n) {
    return waitUntil(
        [&] {
            SimScreen now;
            if (!SimScreenRead(SimFbPath(u.root), &now))
                return false;
            const int x1 = std::min(box[2], now.width), y1 = std::min(box[3], now.height);
            int found = 0;
            for (int y = std::max(box[1], 0); y < y1; y++)
                for (int x = std::max(box[0], 0); x < x1; x++) {
                    const uint8_t* p = &now.bgrx[(static_cast<size_t>(y) * now.width + x) * 4];
                    found += p[2] == rgb[0] && p[1] == rgb[1] && p[0] == rgb[2];
                }
            return found >= n;
        },
        ms);
}

// Both ends of the remote link have their session: the server has taken the
// access code, the client has sent it.
bool sessionUp(const Sim& s) {
    return fileHas(s.amp.root + "/syslog.log", "6 Receiving data") &&
           fileHas(s.op.root + "/syslog.log", "6 Websocket Connected");
}

// The tones start (the capture devices wait for this file).
void startAudio(const Sim& s) {
    for (const Unit* u : {&s.amp, &s.op})
        if (!u->root.empty())
            std::ofstream(u->root + "/sim/audio-start");
}

// Capture of the tone to its first loud frame played on the other unit, both
// ways, in milliseconds and in blocks (Multiplier 2: 10 ms).
bool reportLatency(const Sim& s, int timeoutMs) {
    long long there = -1, back = -1;
    const bool got = waitUntil(
        [&] {
            const long long a0 = SimAudioTime(s.amp.root + "/sim/audio-start.at");
            const long long a1 = SimAudioTime(s.op.root + "/sim/played.loud");
            const long long b0 = SimAudioTime(s.op.root + "/sim/audio-start.at");
            const long long b1 = SimAudioTime(s.amp.root + "/sim/played.loud");
            there = a0 >= 0 && a1 >= 0 ? (a1 - a0) / 1000000 : -1;
            back = b0 >= 0 && b1 >= 0 ? (b1 - b0) / 1000000 : -1;
            return there >= 0 && back >= 0;
        },
        timeoutMs);
    if (!got) {
        std::fprintf(stderr, "panel-sim: the tones did not reach the other unit within %d ms\n", timeoutMs);
        return false;
    }
    std::fprintf(stderr,
                 "panel-sim: audio latency %lld ms amplifier to operator, %lld ms back (%.1f and %.1f "
                 "blocks of 10 ms)\n",
                 there, back, there / 10.0, back / 10.0);
    return true;
}

void say(const char* fmt, long long v) {
    std::fprintf(stderr, fmt, v);
    std::fprintf(stderr, "\r\n");
}

// Stops the unit's panel for `ms` of real time while the script goes on.
void stall(Sim& s, const Unit& u, int ms) {
    if (u.panel.pid <= 0 || u.panel.ended)
        return;
    kill(u.panel.pid, SIGSTOP);
    s.stalls.emplace_back([pid = u.panel.pid, ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        kill(pid, SIGCONT);
    });
}

int runScript(Sim& s, const std::string& file) {
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "panel-sim: cannot read %s\n", file.c_str());
        return 2;
    }
    std::string line;
    while (!g_stop && std::getline(in, line)) {
        std::istringstream words(line);
        std::string verb;
        if (!(words >> verb) || verb[0] == '#')
            continue;
        Unit* u = &s.amp;
        if (verb == "operator") {
            if (!s.remote || !(words >> verb)) {
                std::fprintf(stderr, "panel-sim: \"operator\" needs --remote and an action: %s\n",
                             line.c_str());
                return 2;
            }
            u = &s.op;
        }
        long long a = 0, b = 0;
        std::string text, what;
        if (verb == "wait" && words >> a) {
            sleepMs(static_cast<int>(a));
        } else if (verb == "stall" && words >> a) {
            stall(s, *u, static_cast<int>(a));
        } else if (verb == "key" && words >> a) {
            // Well inside a short press, and long enough for a slow (sanitised)
            // key thread to see it.
            press(*u, static_cast<int>(a), 250);
            sleepMs(200);
        } else if (verb == "long" && words >> a) {
            if (!(words >> b))
                b = 1000;
            press(*u, static_cast<int>(a), static_cast<int>(b));
            sleepMs(100);
        } else if (verb == "changed" && words >> a) {
            int box[4];
            if (!(words >> box[0] >> box[1] >> box[2] >> box[3]) ||
                !changed(*u, static_cast<int>(a), box[0], box[1], box[2], box[3])) {
                std::fprintf(stderr, "panel-sim: the %s's screen did not change within %lld ms: %s\n", u->name,
                             a, line.c_str());
                return 1;
            }
        } else if (verb == "colour" && words >> a) {
            int box[4], rgb[3], n = 0;
            if (!(words >> box[0] >> box[1] >> box[2] >> box[3] >> rgb[0] >> rgb[1] >> rgb[2] >> n) ||
                !coloured(*u, static_cast<int>(a), box, rgb, n)) {
                std::fprintf(stderr, "panel-sim: the %s's screen did not show the colour within %lld ms: %s\n",
                             u->name, a, line.c_str());
                return 1;
            }
        } else if (verb == "shot" && words >> text) {
            if (!shot(*u, text))
                return 1;
        } else if (verb == "kbd" && words >> a) {
            SimKeyboardTap(&u->kbd, static_cast<int>(a));
        } else if (verb == "f12") {
            SimKeyboardTap(&u->kbd, KEY_F12);
        } else if (verb == "tx" && words >> text) {
            SimStationTransmit(&s.station, text == "on");
        } else if (verb == "temp" && words >> text) {
            // The heat sinks held at two temperatures, or "temp off" to let them follow the load.
            double t2 = 0;
            if (text == "off")
                AmpModelReleaseTemperatures(s.station.amp);
            else if (words >> t2)
                AmpModelSetTemperatures(s.station.amp, std::strtof(text.c_str(), nullptr), static_cast<float>(t2));
        } else if (verb == "fault" && words >> a) {
            AmpModelSetFaultBits(s.station.amp, static_cast<uint8_t>(a));
        } else if (verb == "freq" && words >> a) {
            SimStationSetFrequency(&s.station, a);
        } else if (verb == "band" && words >> text) {
            SimStationBand(&s.station, text == "prev" ? -1 : 1);
        } else if (verb == "interface") {
            for (const Press& p : kInterfaceStep) {
                press(*u, p.key, p.holdMs);
                sleepMs(p.gapMs);
            }
        } else if (verb == "tune") {
            for (const Press& p : kTune) {
                press(*u, p.key, p.holdMs);
                sleepMs(p.gapMs);
            }
        } else if ((verb == "expect" || (verb == "logged" && words >> b)) && words >> a &&
                   std::getline(words >> std::ws, text)) {
            // What the unit printed, or with "logged N" what it wrote to its log at least N times.
            const bool printed = verb == "expect";
            const std::string out = u->root + (printed ? "/panel.out" : "/syslog.log");
            const long long times = printed ? 1 : b;
            if (!waitUntil([&] { return fileCount(out, text) >= times; }, static_cast<int>(a))) {
                std::fprintf(stderr, "panel-sim: the %s did not %s \"%s\" %lld times within %lld ms\n",
                             u->name, printed ? "print" : "log", text.c_str(), times, a);
                printTail(out, 12);
                return 1;
            }
        } else if (verb == "audio" && words >> text && text == "on") {
            startAudio(s);
        } else if (verb == "latency" && words >> a) {
            if (!s.remote || !reportLatency(s, static_cast<int>(a)))
                return 1;
        } else if (verb == "cat" && words >> text) {
            // Text on the unit's CAT port: at the operator's unit its logging
            // software's, which the relay carries to the station; at the
            // station its transceiver's own.
            TrxCatModel* port = u == &s.op ? s.opCat : s.station.cat;
            if (!port || !TrxCatModelSend(port, text)) {
                std::fprintf(stderr, "panel-sim: cannot send on the %s's CAT port: %s\n", u->name, line.c_str());
                return 1;
            }
        } else if (verb == "received" && words >> a >> text && (text == "cat" || text == "link") &&
                   words >> what >> line) {
            // The station's transceiver has received the command at least N
            // times (waiting up to MS for them), or with "=N" exactly N times.
            const bool cat = text == "cat", exact = line[0] == '=';
            b = std::atoll(line.c_str() + (exact ? 1 : 0));
            auto times = [&] {
                long long n = 0;
                if (cat && s.station.cat)
                    for (const TrxCatReceived& r : TrxCatModelReceived(s.station.cat))
                        n += r.text == what;
                if (!cat && s.station.trx)
                    for (const TrxReceived& r : TrxModelReceived(s.station.trx))
                        n += r.text == what;
                return n;
            };
            const bool got = waitUntil([&] { return times() >= b; }, static_cast<int>(a));
            const long long n = times();
            if (!got || (exact && n != b)) {
                std::fprintf(stderr, "panel-sim: the transceiver's %s port received \"%s\" %lld times, not %s%lld\n",
                             text.c_str(), what.c_str(), n, exact ? "" : "at least ", b);
                return 1;
            }
        } else if (verb == "standby" && words >> a >> text) {
            // The amplifier model in standby ("on") or operate ("off") within MS.
            const bool want = text == "on";
            if (!waitUntil([&] { return AmpModelBypass(s.station.amp) == want; }, static_cast<int>(a))) {
                std::fprintf(stderr, "panel-sim: the amplifier's standby is not %s within %lld ms\n", text.c_str(), a);
                return 1;
            }
        } else if (verb == "session" && words >> a) {
            if (!s.remote || !waitUntil([&] { return sessionUp(s); }, static_cast<int>(a))) {
                std::fprintf(stderr, "panel-sim: no remote session within %lld ms\n", a);
                return 1;
            }
        } else if (verb == "exit" && words >> a) {
            if (!PanelWait(&u->panel, static_cast<int>(a))) {
                std::fprintf(stderr, "panel-sim: the %s did not end within %lld ms\n", u->name, a);
                return 1;
            }
        } else {
            std::fprintf(stderr, "panel-sim: bad script line: %s\n", line.c_str());
            return 2;
        }
    }
    return 0;
}

void help() {
    std::fprintf(stderr,
                 "panel-sim keys: 1-6 press, q w e r t y long press, space transmit, +/- 1 kHz, "
                 "</> band, i interface, u tune, s screenshot, x/F12 end the panel, Ctrl-C end, h help"
                 "%s\r\n",
                 "; with --remote ! @ # $ % ^ press the operator's keys");
}

void handleKey(Sim& s, char c) {
    // A held terminal key repeats: queue no more than a few seconds of presses.
    if (s.pending.size() >= kMaxPendingPresses && c && std::strchr("123456qwertyiu", c))
        return;
    static const char* longKeys = "qwerty";
    static const char* operatorKeys = "!@#$%^";
    const char* l = c ? std::strchr(longKeys, c) : nullptr;
    const char* o = c ? std::strchr(operatorKeys, c) : nullptr;
    if (c >= '1' && c <= '6') {
        s.pending.push_back({c - '0', 150, 80});
    } else if (l) {
        s.pending.push_back({static_cast<int>(l - longKeys) + 1, 1000, 80});
    } else if (o && s.remote) {
        press(s.op, static_cast<int>(o - operatorKeys) + 1, 150);
    } else if (c == ' ') {
        SimStationTransmit(&s.station, !s.station.transmitting);
        std::fprintf(stderr, "panel-sim: %s\r\n", s.station.transmitting ? "transmitting" : "receiving");
    } else if (c == '+' || c == '-') {
        SimStationSetFrequency(&s.station, s.station.hz + (c == '+' ? 1000 : -1000));
        say("panel-sim: %lld Hz", s.station.hz);
    } else if (c == '>' || c == '<') {
        SimStationBand(&s.station, c == '>' ? 1 : -1);
        say("panel-sim: %lld Hz", s.station.hz);
    } else if (c == 'i') {
        for (const Press& p : kInterfaceStep)
            s.pending.push_back(p);
    } else if (c == 'u') {
        for (const Press& p : kTune)
            s.pending.push_back(p);
    } else if (c == 's') {
        std::filesystem::create_directories(s.root + "/screens");
        const std::string n = std::to_string(++s.shots);
        shot(s.amp, s.root + "/screens/screen-" + n + ".png");
        if (s.remote)
            shot(s.op, s.root + "/screens/operator-" + n + ".png");
    } else if (c == 'x' || c == 'F') {
        SimKeyboardTap(&s.amp.kbd, KEY_F12);
    } else if (c == 3 || c == 'C') { // Ctrl-C or the window closed
        g_stop = true;
    } else if (c == 'h') {
        help();
    }
}

int interactive(Sim& s, bool live, bool window) {
    termios saved{};
    bool tty = isatty(0) && tcgetattr(0, &saved) == 0;
    if (tty) {
        termios raw = saved;
        cfmakeraw(&raw);
        raw.c_oflag |= OPOST;
        tcsetattr(0, TCSANOW, &raw);
    }
    X11View* view = window ? X11ViewOpen("panel-sim " + s.root, s.remote ? 2 : 1) : nullptr;
    if (window && !view)
        std::fprintf(stderr, "panel-sim: no display, the panel is shown only on request\r\n");
    // Keys come from a terminal, or from a pipe or socket a test program writes (its
    // end ends the panels); a file or /dev/null is not read.
    struct stat in{};
    const bool keysIn = tty || (fstat(0, &in) == 0 && (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode)));
    help();
    SimScreenMap map, opMap;
    std::string esc;
    auto lastLive = Clock::now();
    while (!g_stop && !PanelWait(&s.amp.panel, 0)) {
        pollfd p{0, POLLIN, 0};
        int r = poll(&p, keysIn ? 1 : 0, 20);
        pumpPresses(s);
        const auto now = Clock::now();
        if (!map.pixels)
            SimScreenMapOpen(&map, SimFbPath(s.amp.root));
        if (s.remote && !opMap.pixels)
            SimScreenMapOpen(&opMap, SimFbPath(s.op.root));
        if (view && map.pixels) {
            X11ViewShow(view, map.pixels, 0);
            if (opMap.pixels)
                X11ViewShow(view, opMap.pixels, 1);
            while (char c = X11ViewNextKey(view))
                handleKey(s, c);
        }
        if (live && map.pixels && now - lastLive > std::chrono::seconds(1)) {
            SimScreen screen;
            if (SimScreenRead(SimFbPath(s.amp.root), &screen))
                SimScreenSavePng(screen, s.root + "/live.png");
            lastLive = now;
        }
        if (r <= 0 || !(p.revents & POLLIN))
            continue;
        char c;
        if (read(0, &c, 1) != 1)
            break;
        if (!esc.empty() || c == 27) {
            esc += c;
            if (esc == "\x1b[24~") { // F12
                handleKey(s, 'F');
                esc.clear();
            } else if (esc.size() >= 5 || (esc.size() > 2 && c == '~')) {
                esc.clear();
            }
            continue;
        }
        if (c != 'F' && c != 'C')
            handleKey(s, c);
    }
    if (s.downKey)
        SimGpioKeyUp(&s.amp.keys, s.downKey);
    SimScreenMapClose(&map);
    SimScreenMapClose(&opMap);
    X11ViewClose(view);
    if (tty)
        tcsetattr(0, TCSANOW, &saved);
    return 0;
}

// Ends a panel as systemctl stop does; kills it if it does not end.
void endPanel(Unit& u, const char* why) {
    if (!u.started || PanelWait(&u.panel, 0))
        return;
    std::fprintf(stderr, "panel-sim: %s, ending the %s\n", why, u.name);
    PanelTerminate(&u.panel);
    if (!PanelWait(&u.panel, 15000)) {
        std::fprintf(stderr, "panel-sim: the %s did not end, killing it\n", u.name);
        PanelKill(&u.panel);
    }
}

// The audio keys of a unit's setup file: both directions on, the model's
// devices (or `outDevice` for playback), raw or Opus.
std::string audioKeys(const AudioSetup& a, const std::string& outDevice) {
    return "EnableRead: 1\nEnableWrite: 1\nAudioIn: tavin\nAudioOut: " +
           (outDevice.empty() ? std::string("tavout") : outDevice) +
           "\nMultiplier: 2\nAudioCompress: " + std::to_string(a.compress) + "\n";
}

// A free local port for the remote link.
int freePort() {
    TcpListenError err;
    const int fd = plat_tcp_listen(0, 1, &err);
    const int port = fd >= 0 ? plat_tcp_local_port(fd) : -1;
    if (fd >= 0)
        close(fd);
    return port;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

// The two roots of --remote: the amplifier's unit serves the link and follows
// the transceiver's link; the operator's unit connects to it, has no amplifier
// of its own, and shows what reaches it (the transceiver's frequency and
// spectrum). The amplifier's unit finds its transceiver's USB devices (for the
// Remote entry's checks).
// The receiver's stations: offsets from the centre and levels, all on bins of
// the 2048-point spectrum the operator is sent.
UsbRxModelConfig receiverStations() {
    UsbRxModelConfig cfg;
    const double bin = cfg.sampleRate / 2048;
    cfg.tones = {{-421 * bin, 0.2}, {-131 * bin, 0.02}, {33 * bin, 0.3}, {269 * bin, 0.005}, {555 * bin, 0.05}};
    cfg.noise = 2e-4; // a floor near -104 dB
    return cfg;
}

// The link is keyed by the station's access code: the station keeps the one it
// has (or gets a new one), and the operator's unit is given it, as an operator
// types it in from the station's status page.
bool shareStationCode(const Sim& s, std::string* error) {
    std::ifstream in(s.amp.root + "/opt/set/remote.txt");
    std::string line, code;
    if (std::getline(in, line) && line.rfind("Code: ", 0) == 0)
        code = line.substr(6, kRemoteCodeLength);
    if (!RemoteCodeValid(code.c_str()))
        code = RemoteCodeDraw();
    if (code.empty()) {
        *error = "no access code could be drawn";
        return false;
    }
    for (const std::string& root : {s.amp.root, s.op.root}) {
        const std::string path = root + "/opt/set/remote.txt";
        if (!writeFile(path, "Code: " + code + "\n") || chmod(path.c_str(), 0600) != 0) {
            *error = "cannot write " + path;
            return false;
        }
    }
    return true;
}

// A unit's USB sound interface: its capture a tone (700 Hz at the station,
// 1000 Hz at the operator's unit) from "audio-start" on, its playback kept in
// sim/played.raw.
bool soundInterface(const Sim& s, const Unit& u, std::string* error) {
    const bool amp = &u == &s.amp;
    SimAudioDevice in{"tavin", amp ? 700 : 1000, amp ? s.audio.wavFile : "", "", u.root + "/sim/tavin",
                      u.root + "/sim/audio-start", ""};
    SimAudioDevice out{"tavout", 0, "", u.root + "/sim/played.raw", u.root + "/sim/tavout", "",
                       u.root + "/sim/played.loud"};
    if (!SimAudioWriteConfig(u.root, {in, out}) || !SimAudioPlug(u.root, {in, out}, true)) {
        *error = "cannot set up the sound interfaces";
        return false;
    }
    return true;
}

// --audio without the link: the unit's sound interface, and its audio keys
// when the root has no setup file yet.
bool prepareStationAudio(const Sim& s, std::string* error) {
    if (!std::filesystem::exists(s.amp.root + "/opt/set/setup.txt") &&
        !writeFile(s.amp.root + "/opt/set/setup.txt", audioKeys(s.audio, ""))) {
        *error = "cannot write the unit's setup file";
        return false;
    }
    return soundInterface(s, s.amp, error);
}

bool prepareRemote(Sim& s, const SimRootOptions& opt, std::string* error) {
    if (!s.serialSpectrum && UsbRxModelAvailable() && !UsbRxModelPreloadable())
        std::fprintf(stderr, "panel-sim: no USB receiver in a ThreadSanitizer build\n");
    if (!s.serialSpectrum && UsbRxModelPreloadable()) {
        std::string why;
        s.usbRx = UsbRxModelStart(receiverStations(), &why);
        if (!s.usbRx)
            std::fprintf(stderr, "panel-sim: no USB receiver: %s\n", why.c_str());
    }
    // With the receiver its 2048-point spectrum is chosen (what "KAVOFT01;"
    // sets); without, the spectrum of the transceiver's serial link (no
    // Enable1600 line, which would choose the receiver's).
    const std::string spectrum = s.usbRx ? "EnableFFT: 1\nEnable1600: 0\nDivide: 2\n" : "EnableFFT: 0\n";
    const int port = freePort();
    if (port <= 0) {
        *error = "no free port for the remote link";
        return false;
    }
    const std::string p = std::to_string(port);
    // The station serves the browser console on a port of its own; the
    // operator's unit, which has no amplifier to show, serves none. Both serve
    // Hamlib's amplifier protocol (the operator's unit for the station's
    // amplifier), each on a free port: on one machine they cannot share 4531.
    const int webPort = freePort();
    const std::string ampctlStation = "AmpctlPort: " + std::to_string(freePort()) + "\n";
    const std::string ampctlOperator = "AmpctlPort: " + std::to_string(freePort()) + "\n";
    if (!std::filesystem::exists(s.amp.root + "/opt/set/setup.txt") &&
        !writeFile(s.amp.root + "/opt/set/setup.txt",
                   std::string("WebSocket: 1\nTcpPort: ") + p + "\nWebPort: " + std::to_string(webPort) +
                       "\n" + ampctlStation + "CatSerialPort: " +
                       kStationFt817Port + "\nAutoTuneMode: 1\nSWRescAutoTune: 150\n" + spectrum +
                       audioKeys(s.audio, ""))) {
        *error = "cannot write the amplifier unit's setup file";
        return false;
    }
    SimStationWriteBank(s.amp.root, 1);
    writeFile(s.amp.root + "/sim/usb-devices.txt", "16c0:05dc\n0d8c:01af\n");

    s.op.root = s.root + "/operator";
    if (!SimRootCreate(s.op.root, opt, error))
        return false;
    if (!std::filesystem::exists(s.op.root + "/opt/set/setup.txt") &&
        !writeFile(s.op.root + "/opt/set/setup.txt",
                   "WebSocket: 2\nServer: 127.0.0.1\nTcpPort: " + p + "\nEnableLinear: 0\nWebPort: 0\n" +
                       ampctlOperator + audioKeys(s.audio, s.audio.outDevice))) {
        *error = "cannot write the operator unit's setup file";
        return false;
    }
    SimStationWriteBank(s.op.root, 1);
    if (!shareStationCode(s, error))
        return false;
    if (!SimPtyOpen(&s.opSerial, s.op.root + "/dev/ttyUSB1")) {
        *error = "cannot open the operator unit's serial line";
        return false;
    }
    // Its logging software: what the station's transceiver says reaches it,
    // and is not sent back.
    TrxCatModelConfig logger;
    logger.echo = false;
    s.opCat = TrxCatModelStart(s.op.root + "/dev/KAVOCAT0", logger);
    // The sound interfaces: a tone each way, 700 Hz from the station and
    // 1000 Hz from the operator.
    return soundInterface(s, s.amp, error) && soundInterface(s, s.op, error);
}

// The --setup lines, after the lines the simulator wrote.
bool addSetupLines(const Sim& s, std::string* error) {
    if (s.setupLines.empty())
        return true;
    std::ofstream f(s.amp.root + "/opt/set/setup.txt", std::ios::app);
    for (const std::string& l : s.setupLines)
        f << l << "\n";
    if (!f) {
        *error = "cannot add to the amplifier unit's setup file";
        return false;
    }
    return true;
}

bool startUnit(Unit& u, const std::string& exe, const std::string& skins, int timeScale,
               std::string* error, const std::vector<std::string>& env = {}) {
    if (!SimKeyboardOpen(&u.kbd, SimKeyboardFifo(u.root)) ||
        !SimGpioKeysOpen(&u.keys, SimGpioPath(u.root))) {
        *error = std::string("cannot open the keyboard or key models of the ") + u.name;
        return false;
    }
    if (!PanelStart(&u.panel, exe, u.root, skins, error, timeScale, env))
        return false;
    u.started = true;
    std::fprintf(stderr, "panel-sim: %s root %s, output in %s/panel.out\n", u.name, u.root.c_str(),
                 u.root.c_str());
    return true;
}

void closeUnit(Unit& u) {
    SimKeyboardClose(&u.kbd);
    SimGpioKeysClose(&u.keys);
}

// --- The soak: the real program with every device model for a long time, with
// faults injected in turn and keys pressed at random.

// What a process holds, from /proc.
struct Holdings {
    int threads = -1;
    int fds = -1;
    long rssKb = -1;
};

Holdings holdings(pid_t pid) {
    Holdings h;
    std::ifstream st("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(st, line)) {
        if (line.rfind("Threads:", 0) == 0)
            h.threads = std::atoi(line.c_str() + 8);
        else if (line.rfind("VmRSS:", 0) == 0)
            h.rssKb = std::atol(line.c_str() + 6);
    }
    std::error_code ec;
    h.fds = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        h.fds++;
    return h;
}

// New text a growing file gained since the last look (the panel's output grows
// for as long as it runs; only the tail is read).
struct Tail {
    std::string path;
    std::streamoff pos = 0;
    std::string fresh() {
        std::ifstream in(path, std::ios::binary);
        in.seekg(0, std::ios::end);
        const std::streamoff end = in.tellg();
        if (end < pos)
            pos = 0;
        in.seekg(pos);
        std::string text(static_cast<size_t>(end - pos), '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        pos = end;
        return text;
    }
};

// The value of `key` in a setup file; -1 when missing.
std::string setupText(const std::string& root, const std::string& key) {
    std::ifstream in(root + "/opt/set/setup.txt");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ": ", 0) == 0)
            return line.substr(key.size() + 2);
    return "";
}

int setupValue(const std::string& root, const std::string& key) {
    const std::string text = setupText(root, key);
    return text.empty() ? -1 : std::atoi(text.c_str());
}

// Where a unit serves Hamlib's amplifier protocol (AmpctlPort, default 4531;
// 0 off), as a logger is pointed at it.
void printAmpctl(const Unit& u, const char* who) {
    const int port = setupValue(u.root, "AmpctlPort");
    if (port == 0)
        return;
    std::string at = setupText(u.root, "AmpctlListen");
    if (at.empty() || at == "0.0.0.0" || at == "::")
        at = "127.0.0.1";
    const std::string host = at.find(':') != std::string::npos ? "[" + at + "]" : at;
    std::fprintf(stderr, "panel-sim: %s serves Hamlib's amplifier protocol at %s:%d\n", who, host.c_str(),
                 port < 0 ? 4531 : port);
}

struct SoakRun {
    SoakRun(Sim& sim, unsigned seed)
        : s(sim), rng(seed), out{sim.amp.root + "/panel.out"}, log{sim.amp.root + "/syslog.log"} {}
    Sim& s;
    std::mt19937 rng;
    Tail out, log;
    int maxBankSaved = -1; // the last MAXbank a menu save wrote
    int saves = 0, disturbedSaves = 0, peerDrops = 0, replugs = 0, keyActions = 0;
    int faults[6] = {};
    std::vector<std::string> problems;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    void key(int k, int holdMs = 150) {
        press(s.amp, k, holdMs);
        sleepMs(350);
    }
    bool alive() { return !PanelWait(&s.amp.panel, 0); }
};

// Back to the main keys: key 1 leaves the menu and tuner pages; while alarms
// are up the error layer takes it, which the panel says.
void soakHome(SoakRun& r) {
    for (int i = 0; i < 12 && !g_stop; i++) {
        r.out.fresh();
        r.key(1);
        sleepMs(300);
        if (r.out.fresh().find("ERRORI!!") == std::string::npos)
            return;
    }
}

// MAX BANK from the menu, one step up or down and ENTER: the file must say so.
void soakMenuSave(SoakRun& r) {
    soakHome(r);
    const int before = setupValue(r.s.amp.root, "MAXbank");
    const bool up = r.pick(2) == 0;
    r.key(5); // the menu, at its first entry
    r.key(6); // edit
    r.key(up ? 5 : 4);
    r.key(6); // ENTER saves, back to choosing
    int after = -1;
    waitUntil([&] { return (after = setupValue(r.s.amp.root, "MAXbank")) != before; }, 5000);
    soakHome(r);
    if (after == before || after < 2 || after > 20) {
        r.disturbedSaves++; // an alarm or a page took one of the keys
        return;
    }
    r.saves++;
    r.maxBankSaved = after;
}

// A key action of the main keys that keeps to the main keys.
void soakKeys(SoakRun& r) {
    r.keyActions++;
    switch (r.pick(9)) {
    case 0:
        r.key(2); // attenuator, saved to the bank
        break;
    case 1:
        r.key(3); // antenna, saved to the bank
        break;
    case 2:
        r.key(6); // next screen page
        break;
    case 3:
        r.key(6, 1200); // the status page, closed by the next key
        sleepMs(1500);
        r.key(6);
        break;
    case 4:
        r.key(4); // the tuner keys and back
        soakHome(r);
        break;
    case 5:
        SimStationTransmit(&r.s.station, !r.s.station.transmitting);
        break;
    case 6:
        SimStationBand(&r.s.station, r.pick(2) ? 1 : -1);
        break;
    case 7:
        SimStationSetFrequency(&r.s.station, r.s.station.hz + (r.pick(2) ? 1000 : -1000));
        break;
    case 8:
        SimKeyboardTap(&r.s.amp.kbd, KEY_F11); // the keyboard's save key
        break;
    }
}

// The operator's unit leaves (cleanly, or as a pulled cable does) and comes back.
void soakPeerDrop(SoakRun& r, bool abrupt) {
    if (abrupt)
        PanelKill(&r.s.op.panel);
    else
        endPanel(r.s.op, "soak");
    closeUnit(r.s.op);
    sleepMs(2000);
    std::string error;
    if (!startUnit(r.s.op, r.s.exe, r.s.skins, r.s.timeScale, &error, {"UMOCKDEV_DIR="}))
        r.problems.push_back("the operator's unit did not start again: " + error);
    r.peerDrops++;
}

void soakFault(SoakRun& r, int kind) {
    SimStation& st = r.s.station;
    r.faults[kind]++;
    switch (kind) {
    case 0: // the amplifier goes silent
        AmpModelSetAnswer(st.amp, AmpAnswer::Silent);
        sleepMs(6000);
        AmpModelSetAnswer(st.amp, AmpAnswer::Normal);
        break;
    case 1: // it answers "?"
        AmpModelSetAnswer(st.amp, AmpAnswer::Reject, 0, 20);
        sleepMs(3000);
        break;
    case 2: // it answers noise
        AmpModelSetAnswer(st.amp, AmpAnswer::Noise, 0, 10);
        sleepMs(3000);
        break;
    case 3: { // the transceiver's link is pulled out and plugged back
        r.log.fresh();
        SimStationUnplugTrx(&st);
        sleepMs(3000);
        if (!SimStationReplugTrx(&st)) {
            r.problems.push_back("the transceiver model could not be plugged back");
            break;
        }
        // The device-error page offers a retry on key 5.
        if (r.log.fresh().find("went away") != std::string::npos) {
            sleepMs(500);
            r.key(5);
        }
        r.replugs++;
        break;
    }
    case 4: // the FT-817 stops answering
        Ft817ModelSetAnswer(st.radio, Ft817Answer::Silent);
        sleepMs(8000);
        Ft817ModelSetAnswer(st.radio, Ft817Answer::Normal);
        break;
    case 5:
        soakPeerDrop(r, r.faults[5] % 2 == 0);
        break;
    }
    sleepMs(1500);
    soakHome(r);
}

// Every file under opt/set reads as text lines of the panel's forms.
bool soakFilesParse(const std::string& root, std::vector<std::string>* problems) {
    bool ok = true;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(root + "/opt/set", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::ifstream in(it->path(), std::ios::binary);
        std::string line;
        int n = 0;
        while (std::getline(in, line)) {
            n++;
            bool good = line.find('\0') == std::string::npos;
            if (name == "setup.txt")
                good = good && line.find(": ") != std::string::npos;
            else if (name.rfind("atu_ant", 0) == 0)
                good = good && std::count(line.begin(), line.end(), ' ') == 5;
            if (!good) {
                problems->push_back(name + " line " + std::to_string(n) + " is not whole: " + line);
                ok = false;
            }
        }
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".new") == 0) {
            problems->push_back(name + " was left behind by a write");
            ok = false;
        }
    }
    std::ifstream setup(root + "/opt/set/setup.txt");
    int lines = 0;
    for (std::string line; std::getline(setup, line);)
        lines++;
    int rows = 0;
    SettingRows(&rows); // one line a key
    if (lines != rows) {
        problems->push_back("setup.txt has " + std::to_string(lines) + " lines, not " + std::to_string(rows));
        ok = false;
    }
    // The access code survives everything, unchanged in form.
    std::ifstream remote(root + "/opt/set/remote.txt");
    std::string codeLine;
    if (!std::getline(remote, codeLine) || codeLine.rfind("Code: ", 0) != 0 ||
        !RemoteCodeValid(codeLine.substr(6).c_str())) {
        problems->push_back("remote.txt lost its code");
        ok = false;
    }
    return ok;
}

int runSoak(Sim& s, int seconds, unsigned seed) {
    SoakRun r(s, seed);
    const int64_t start = plat_mono_ms();
    const int64_t end = start + seconds * 1000LL;
    // Steady state: the most seen in the half minute after the first minute (a
    // third of a shorter run each), while faults come and go.
    const int64_t baseFrom = start + std::min<int64_t>(60000, seconds * 1000LL / 3);
    const int64_t baseTo = baseFrom + std::min<int64_t>(30000, seconds * 1000LL / 3);
    Holdings base, most, last;
    std::fprintf(stderr, "panel-soak: %d s, seed %u\n", seconds, seed);
    if (!waitUntil([&] { return sessionUp(s); }, 60000))
        r.problems.push_back("no remote session at the start");
    int nextFault = 0;
    while (!g_stop && plat_mono_ms() < end && r.alive()) {
        const int roll = r.pick(10);
        if (roll < 6)
            soakKeys(r);
        else if (roll < 8)
            soakMenuSave(r);
        else
            soakFault(r, nextFault++ % 6);
        sleepMs(500 + r.pick(2000));
        const int64_t now = plat_mono_ms();
        if (now >= baseFrom) {
            last = holdings(s.amp.panel.pid);
            Holdings& h = now < baseTo ? base : most;
            h.threads = std::max(h.threads, last.threads);
            h.fds = std::max(h.fds, last.fds);
            h.rssKb = std::max(h.rssKb, last.rssKb);
        }
    }
    if (!r.alive()) {
        r.problems.push_back("the panel ended during the soak");
    } else {
        // Calm for a moment, so that what runs now is what runs at rest.
        sleepMs(5000);
        last = holdings(s.amp.panel.pid);
        std::fprintf(stderr,
                     "panel-soak: after the first minute at most %d threads, %d descriptors, %ld kB "
                     "resident; later at most %d, %d, %ld kB; at the end %d, %d, %ld kB\n",
                     base.threads, base.fds, base.rssKb, most.threads, most.fds, most.rssKb,
                     last.threads, last.fds, last.rssKb);
        if (base.threads < 0 || last.threads > base.threads + 1)
            r.problems.push_back("threads grew");
        if (last.fds > base.fds + 2)
            r.problems.push_back("descriptors grew");
#if !defined(__SANITIZE_ADDRESS__)
        // (AddressSanitizer's quarantine holds freed memory on purpose.)
        if (last.rssKb > base.rssKb + base.rssKb / 10 + 2048)
            r.problems.push_back("resident memory grew");
#endif
        SimKeyboardTap(&s.amp.kbd, KEY_F12);
        if (!PanelWait(&s.amp.panel, 20000))
            r.problems.push_back("F12 was not answered within 20 s");
        else if (s.amp.panel.exitStatus != 0)
            r.problems.push_back("the panel ended with status " + std::to_string(s.amp.panel.exitStatus));
    }
    if (r.saves > 0)
        soakFilesParse(s.amp.root, &r.problems);
    const int saved = setupValue(s.amp.root, "MAXbank");
    if (r.maxBankSaved >= 0 && saved != r.maxBankSaved)
        r.problems.push_back("MAXbank is " + std::to_string(saved) + ", the last save wrote " +
                             std::to_string(r.maxBankSaved));
    if (r.saves == 0)
        r.problems.push_back("no menu save went through");
    if (fileHas(s.amp.root + "/syslog.log", "can't "))
        r.problems.push_back("a write failed (\"can't\" in the log)");
    std::fprintf(stderr,
                 "panel-soak: %d key actions, %d menu saves (%d disturbed by alarms), faults: %d silent, "
                 "%d \"?\", %d noise, %d replugs, %d FT-817 silent, %d peer drops\n",
                 r.keyActions, r.saves, r.disturbedSaves, r.faults[0], r.faults[1], r.faults[2], r.replugs,
                 r.faults[4], r.peerDrops);
    for (const std::string& p : r.problems)
        std::fprintf(stderr, "panel-soak: FAILED: %s\n", p.c_str());
    if (r.problems.empty())
        std::fprintf(stderr, "panel-soak: passed\n");
    return r.problems.empty() ? 0 : 1;
}

} // namespace

// --- The bench: what each thread of each unit costs while the station works.

long lineCount(const std::string& path) {
    std::ifstream in(path);
    return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
}

// One unit's threads over the window, busiest first, with its totals against the goal.
// Threads of the device models loaded into the panel ("sim-...") are shown
// apart: a board has no such thread.
void benchTable(const char* who, const std::vector<ThreadUse>& a, const std::vector<ThreadUse>& b,
                long commands, double seconds, double goalCpu, double goalWakeups) {
    double cpu = 0, wakeups = 0;
    for (const ThreadRate& r : ProcRates(a, b, seconds)) {
        const bool model = r.name.rfind("sim-", 0) == 0;
        std::printf("%-9s %-16s %7.2f %10.0f%s\n", who, r.name.c_str(), r.cpuPercent, r.wakeupsPerS,
                    model ? "   (a device model, not in the total)" : "");
        if (model)
            continue;
        cpu += r.cpuPercent;
        wakeups += r.wakeupsPerS;
    }
    std::printf("%-9s %-16s %7.2f %10.0f   goal: <= %.1f %% of a core", who, "total", cpu, wakeups, goalCpu);
    if (goalWakeups > 0)
        std::printf(", <= %.0f wake-ups/s", goalWakeups);
    std::printf("\n%-9s shell commands: %.1f a minute\n", who, commands * 60.0 / seconds);
}

// What one timed sleep and its wake-up cost this machine's processor: a thread
// that does nothing else sleeps 2 ms a thousand times. The key pass's 500
// wake-ups a second cost 500 times that, whatever the pass does.
double wakeupCostUs() {
    double us = 0;
    std::thread t([&us] {
        timespec a{}, b{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        for (int i = 0; i < 1000; i++) {
            timespec d{0, 2000000};
            nanosleep(&d, nullptr);
        }
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        us = ((b.tv_sec - a.tv_sec) * 1e9 + (b.tv_nsec - a.tv_nsec)) / 1e3 / 1000;
    });
    t.join();
    return us;
}

// --bench SECONDS: with --remote the busy station (both units, audio both ways,
// transmitting, the receiver's spectrum), else the idle main page; processor use
// and wake-ups of every thread over SECONDS after the start has settled.
int runBench(Sim& s, int seconds) {
    if (s.remote) {
        if (!waitUntil([&] { return sessionUp(s); }, 60000)) {
            std::fprintf(stderr, "panel-sim: no remote session within 60 s\n");
            return 1;
        }
        startAudio(s);
        SimStationTransmit(&s.station, true);
    }
    sleepMs(8000); // start-up, the first tune and the audio devices settle
    // The start-up's last act, clearing the update marker (its remounts are
    // shell commands), ends a few seconds after the splash: measured after it.
    waitUntil([&] { return ProcThreadSleeps(s.amp.panel.pid, "fw-update") < 0; }, 20000);
    const std::string ampCmds = s.amp.root + "/commands.log", opCmds = s.op.root + "/commands.log";
    const long amp0 = lineCount(ampCmds), op0 = s.remote ? lineCount(opCmds) : 0;
    const long long blocks0 = s.usbRx ? UsbRxModelStats(s.usbRx).blocks : 0;
    const auto ampA = ProcThreads(s.amp.panel.pid);
    const auto opA = s.remote ? ProcThreads(s.op.panel.pid) : std::vector<ThreadUse>{};
    const int64_t t0 = plat_mono_ms();
    sleepMs(seconds * 1000);
    const double secs = (plat_mono_ms() - t0) / 1000.0;
    const auto ampB = ProcThreads(s.amp.panel.pid);
    const long long blocks = s.usbRx ? UsbRxModelStats(s.usbRx).blocks - blocks0 : 0;
    const auto opB = s.remote ? ProcThreads(s.op.panel.pid) : std::vector<ThreadUse>{};
    if (s.remote)
        SimStationTransmit(&s.station, false);
    if (ampB.empty() || (s.remote && opB.empty())) {
        std::fprintf(stderr, "panel-sim: a panel ended during the bench\n");
        return 1;
    }
    std::printf("%s, %.1f s\n%-9s %-16s %7s %10s\n",
                s.remote ? "busy station: two units, audio both ways, transmitting" : "idle main page", secs,
                "unit", "thread", "cpu %", "wake-ups/s");
    if (s.remote) {
        benchTable("station", ampA, ampB, lineCount(ampCmds) - amp0, secs, 4.0, 1200);
        benchTable("operator", opA, opB, lineCount(opCmds) - op0, secs, 3.0, 0);
    } else {
        benchTable("station", ampA, ampB, lineCount(ampCmds) - amp0, secs, 1.2, 0);
    }
    std::printf("floor: the key pass 500/s, audio 100 blocks/s each way, the refresh tick 100/s, "
                "one amplifier reply per poll, the USB receiver's transfers\n");
    const double cost = wakeupCostUs();
    std::printf("this machine: a 2 ms sleep and its wake-up cost %.1f us of processor time "
                "(the key pass's 500/s alone: %.2f %% of a core)\n",
                cost, cost * 500 / 1e4);
    // On a board the usb-rx thread wakes once a block; here each URB is also a
    // few round trips through umockdev.
    if (s.remote && s.usbRx)
        std::printf("USB receiver: %.0f blocks/s (a board's usb-rx wake-ups)\n", blocks / secs);
    return 0;
}

int main(int argc, char** argv) {
    Sim s;
    s.amp.name = "panel";
    s.op.name = "operator's unit";
    std::string script, exe = PANEL_EXE, skins = PANEL_SKINS_DIR;
    bool live = false, window = true, keep = false;
    int timeScale = 1, soakSeconds = 0, benchSeconds = 0;
    unsigned seed = 1;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--root" && i + 1 < argc)
            s.root = argv[++i];
        else if (a == "--script" && i + 1 < argc)
            script = argv[++i];
        else if (a == "--panel" && i + 1 < argc)
            exe = argv[++i];
        else if (a == "--skins" && i + 1 < argc)
            skins = argv[++i];
        else if (a == "--time-scale" && i + 1 < argc)
            timeScale = std::atoi(argv[++i]);
        else if (a == "--audio-in" && i + 1 < argc)
            s.audio.wavFile = std::filesystem::absolute(argv[++i]).string();
        else if (a == "--audio-out" && i + 1 < argc)
            s.audio.outDevice = argv[++i];
        else if (a == "--compress" && i + 1 < argc)
            s.audio.compress = std::atoi(argv[++i]);
        else if (a == "--soak" && i + 1 < argc)
            soakSeconds = std::atoi(argv[++i]);
        else if (a == "--bench" && i + 1 < argc)
            benchSeconds = std::atoi(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--live")
            live = true;
        else if (a == "--keep")
            keep = true;
        else if (a == "--remote")
            s.remote = true;
        else if (a == "--audio")
            s.stationAudio = true;
        else if (a == "--gpio" && i + 1 < argc && std::string(argv[i + 1]) == "chardev")
            s.gpioChip = (++i, true);
        else if (a == "--gpio" && i + 1 < argc && std::string(argv[i + 1]) == "registers")
            s.gpioChip = (++i, false);
        else if (a == "--serial-spectrum")
            s.serialSpectrum = true;
        else if (a == "--no-window")
            window = false;
        else if (a == "--setup" && i + 1 < argc)
            s.setupLines.push_back(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: %s [--root DIR] [--keep] [--remote [--audio-in FILE.wav] "
                         "[--audio-out DEVICE] [--compress BITS] [--serial-spectrum]] [--audio] [--script FILE] [--live] "
                         "[--gpio registers|chardev] [--no-window] [--setup \"KEY: VALUE\"]... [--panel EXE] [--skins DIR] [--time-scale N] [--soak SECONDS [--seed N]] "
                         "[--bench SECONDS]\n",
                         argv[0]);
            return 2;
        }
    }
    if (soakSeconds > 0)
        s.remote = true; // the soak drops and reconnects the operator's unit
    s.exe = exe;
    s.skins = skins;
    s.timeScale = timeScale;
    if (s.root.empty()) {
        char tmpl[] = "/tmp/panel-sim-XXXXXX";
        if (!mkdtemp(tmpl)) {
            std::perror("panel-sim: mkdtemp");
            return 1;
        }
        s.root = tmpl;
        s.removeRoot = !keep;
    }
    s.root = std::filesystem::absolute(s.root).string();
    s.amp.root = s.root;
    if (timeScale > 1)
        plat_set_time_scale(timeScale); // before the station's threads start

    struct sigaction sa{};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    SimRootOptions opt;
    opt.fbgrabTool = SIM_FBGRAB_EXE;
    if (s.gpioChip) {
        // A Pi 5: its device tree and the RP1's chip, answered by the chip model.
        std::filesystem::create_directories(s.root + "/proc/device-tree");
        std::ofstream(s.root + "/proc/device-tree/compatible", std::ios::binary)
            << std::string("raspberrypi,5-model-b\0brcm,bcm2712\0", 35);
        opt.gpioChips = {{0, "gpio-brcmstb@107d508500", 32}, {4, "pinctrl-rp1", 54}};
    }
    // The receiver's model exists once the remote units are prepared.
    auto ampEnv = [&] {
        std::vector<std::string> env = s.usbRx ? UsbRxModelEnvironment(s.usbRx) : std::vector<std::string>{};
        if (s.gpioChip)
            env.push_back("LD_PRELOAD=" + SimGpioChipPreload());
        return env;
    };
    bool ok = SimRootCreate(s.root, opt, &error) && (!s.remote || prepareRemote(s, opt, &error)) &&
              (s.remote || !s.stationAudio || prepareStationAudio(s, &error)) &&
              SimStationStart(&s.station, s.root, &error) && addSetupLines(s, &error) &&
              startUnit(s.amp, exe, skins, timeScale, &error, ampEnv()) &&
              // The operator's unit has no receiver: it does not see the model's bus.
              (!s.remote || startUnit(s.op, exe, skins, timeScale, &error, {"UMOCKDEV_DIR="}));
    int rc = 1;
    if (ok) {
        const int web = setupValue(s.amp.root, "WebPort");
        if (web != 0)
            std::fprintf(stderr,
                         "panel-sim: browser console at https://127.0.0.1:%d/ (its certificate's SHA-256 is on "
                         "the status page; the access code is in %s/opt/set/remote.txt)\n",
                         web < 0 ? 8443 : web, s.amp.root.c_str());
        printAmpctl(s.amp, s.remote ? "the amplifier's unit" : "the panel");
        if (s.remote)
            printAmpctl(s.op, "the operator's unit (for the station's amplifier)");
    }
    if (!ok)
        std::fprintf(stderr, "panel-sim: %s\n", error.c_str());
    else if (soakSeconds > 0) {
        startAudio(s);
        rc = runSoak(s, soakSeconds, seed);
    } else if (benchSeconds > 0) {
        rc = runBench(s, benchSeconds);
    } else if (script.empty()) {
        if (s.remote || s.stationAudio)
            startAudio(s);
        rc = interactive(s, live, window);
    } else {
        rc = runScript(s, script);
    }
    for (std::thread& t : s.stalls)
        t.join();
    const char* why = g_stop ? "stopped" : soakSeconds > 0 ? "soak ended" : benchSeconds > 0 ? "bench ended" : !script.empty() ? "script ended" : "panel ended";
    endPanel(s.amp, why);
    endPanel(s.op, why);
    SimStationStop(&s.station);
    SimPtyClose(&s.opSerial);
    TrxCatModelStop(s.opCat);
    UsbRxModelStop(s.usbRx);
    closeUnit(s.amp);
    closeUnit(s.op);
    if (ok && rc == 0 && s.amp.panel.exitStatus != 0 && !script.empty())
        rc = 1;
    if (s.amp.started)
        std::fprintf(stderr, "panel-sim: panel ended with status %d\n", s.amp.panel.exitStatus);
    if (s.op.started)
        std::fprintf(stderr, "panel-sim: operator's unit ended with status %d\n",
                     s.op.panel.exitStatus);
    if (s.removeRoot) {
        std::error_code ec;
        std::filesystem::remove_all(s.root, ec);
    } else {
        std::fprintf(stderr, "panel-sim: root kept in %s\n", s.root.c_str());
    }
    return rc;
}
