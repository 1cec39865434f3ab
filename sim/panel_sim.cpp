// The desktop simulator: runs the panel program against a fresh root folder and
// device models, turns terminal keys into panel key presses and saves the panel
// as PNG pictures.
//
//   panel-sim [--root DIR] [--script FILE] [--live] [--no-window] [--panel EXE]
//             [--skins DIR]
//
// With a display the panel is shown in a window, live. Keys (in the window or
// the terminal): 1..6 press a panel key briefly, q w e r t y hold keys 1..6 for
// a second (long press), s saves the screen, x or F12 sends F12 (the panel
// ends), Ctrl-C (or closing the window) stops the panel at once, h shows this
// list. --live also saves the screen to DIR/live.png once a second.
//
// A script has one action a line: "wait MS", "key N", "long N [MS]",
// "shot FILE.png", "kbd CODE" (a Linux key code on the keyboard), "f12",
// "exit MS" (wait for the panel to end). Lines starting with # are comments.
#include "devsim/GpioKeys.h"
#include "devsim/Keyboard.h"
#include "devsim/PanelProcess.h"
#include "devsim/Screen.h"
#include "devsim/SimRoot.h"
#include "X11View.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/input.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Sim {
    std::string root;
    PanelProcess panel;
    SimKeyboard kbd;
    SimGpioKeys keys;
    int shots = 0;
};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void press(Sim& s, int key, int holdMs) {
    SimGpioKeyDown(&s.keys, key);
    sleepMs(holdMs);
    SimGpioKeyUp(&s.keys, key);
}

bool shot(Sim& s, const std::string& path) {
    SimScreen screen;
    if (!SimScreenRead(SimFbPath(s.root), &screen) || !SimScreenSavePng(screen, path)) {
        std::fprintf(stderr, "panel-sim: cannot save %s\n", path.c_str());
        return false;
    }
    std::fprintf(stderr, "panel-sim: saved %s\n", path.c_str());
    return true;
}

int runScript(Sim& s, const std::string& file) {
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "panel-sim: cannot read %s\n", file.c_str());
        return 2;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string verb;
        if (!(words >> verb) || verb[0] == '#')
            continue;
        int a = 0, b = 0;
        std::string text;
        if (verb == "wait" && words >> a) {
            sleepMs(a);
        } else if (verb == "key" && words >> a) {
            press(s, a, 150);
        } else if (verb == "long" && words >> a) {
            if (!(words >> b))
                b = 1000;
            press(s, a, b);
        } else if (verb == "shot" && words >> text) {
            if (!shot(s, text))
                return 1;
        } else if (verb == "kbd" && words >> a) {
            SimKeyboardTap(&s.kbd, a);
        } else if (verb == "f12") {
            SimKeyboardTap(&s.kbd, KEY_F12);
        } else if (verb == "exit" && words >> a) {
            if (!PanelWait(&s.panel, a)) {
                std::fprintf(stderr, "panel-sim: the panel did not end within %d ms\n", a);
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
    std::fprintf(stderr, "panel-sim keys: 1-6 press, q w e r t y long press, s screenshot, "
                         "x/F12 end the panel, Ctrl-C kill, h help\r\n");
}

// Keys held down by the simulator, released when their time is up, so the
// window keeps refreshing while a key is held.
struct Held {
    int key = 0;
    std::chrono::steady_clock::time_point until;
};

void handleKey(Sim& s, char c, std::vector<Held>* held) {
    static const char* longKeys = "qwerty";
    const char* l = c ? std::strchr(longKeys, c) : nullptr;
    if ((c >= '1' && c <= '6') || l) {
        int key = l ? static_cast<int>(l - longKeys) + 1 : c - '0';
        for (const Held& h : *held)
            if (h.key == key)
                return;
        SimGpioKeyDown(&s.keys, key);
        held->push_back({key, std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(l ? 1000 : 150)});
    } else if (c == 's') {
        std::filesystem::create_directories(s.root + "/screens");
        shot(s, s.root + "/screens/screen-" + std::to_string(++s.shots) + ".png");
    } else if (c == 'x' || c == 'F') {
        SimKeyboardTap(&s.kbd, KEY_F12);
    } else if (c == 3 || c == 'C') { // Ctrl-C or the window closed
        PanelKill(&s.panel);
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
    X11View* view = window ? X11ViewOpen("panel-sim " + s.root) : nullptr;
    if (window && !view)
        std::fprintf(stderr, "panel-sim: no display, the panel is shown only on request\r\n");
    help();
    SimScreenMap map;
    std::vector<Held> held;
    std::string esc;
    auto lastLive = std::chrono::steady_clock::now();
    while (!PanelWait(&s.panel, 0)) {
        pollfd p{0, POLLIN, 0};
        int r = poll(&p, tty ? 1 : 0, 40);
        auto now = std::chrono::steady_clock::now();
        for (size_t i = 0; i < held.size();) {
            if (now >= held[i].until) {
                SimGpioKeyUp(&s.keys, held[i].key);
                held.erase(held.begin() + static_cast<long>(i));
            } else {
                i++;
            }
        }
        if (!map.pixels)
            SimScreenMapOpen(&map, SimFbPath(s.root));
        if (view && map.pixels) {
            X11ViewShow(view, map.pixels);
            while (char c = X11ViewNextKey(view))
                handleKey(s, c, &held);
        }
        if (live && map.pixels && now - lastLive > std::chrono::seconds(1)) {
            SimScreen screen;
            if (SimScreenRead(SimFbPath(s.root), &screen))
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
                handleKey(s, 'F', &held);
                esc.clear();
            } else if (esc.size() >= 5 || (esc.size() > 2 && c == '~')) {
                esc.clear();
            }
            continue;
        }
        if (c != 'F' && c != 'C')
            handleKey(s, c, &held);
    }
    for (const Held& h : held)
        SimGpioKeyUp(&s.keys, h.key);
    SimScreenMapClose(&map);
    X11ViewClose(view);
    if (tty)
        tcsetattr(0, TCSANOW, &saved);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Sim s;
    std::string script, exe = PANEL_EXE, skins = PANEL_SKINS_DIR;
    bool live = false, window = true;
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
        else if (a == "--live")
            live = true;
        else if (a == "--no-window")
            window = false;
        else {
            std::fprintf(stderr,
                         "usage: %s [--root DIR] [--script FILE] [--live] [--no-window] "
                         "[--panel EXE] [--skins DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (s.root.empty()) {
        char tmpl[] = "/tmp/panel-sim-XXXXXX";
        if (!mkdtemp(tmpl)) {
            std::perror("panel-sim: mkdtemp");
            return 1;
        }
        s.root = tmpl;
    }
    s.root = std::filesystem::absolute(s.root).string();

    std::string error;
    SimRootOptions opt;
    opt.fbgrabTool = SIM_FBGRAB_EXE;
    if (!SimRootCreate(s.root, opt, &error)) {
        std::fprintf(stderr, "panel-sim: %s\n", error.c_str());
        return 1;
    }
    if (!SimKeyboardOpen(&s.kbd, SimKeyboardFifo(s.root)) ||
        !SimGpioKeysOpen(&s.keys, SimGpioPath(s.root))) {
        std::fprintf(stderr, "panel-sim: cannot open the keyboard or key models\n");
        return 1;
    }
    std::filesystem::create_directories(skins);
    if (!PanelStart(&s.panel, exe, s.root, skins, &error)) {
        std::fprintf(stderr, "panel-sim: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "panel-sim: root %s, panel output in %s/panel.out\n", s.root.c_str(),
                 s.root.c_str());

    int rc = script.empty() ? interactive(s, live, window) : runScript(s, script);
    if (!PanelWait(&s.panel, 0)) {
        if (!script.empty())
            std::fprintf(stderr, "panel-sim: script ended, stopping the panel\n");
        PanelKill(&s.panel);
    }
    SimKeyboardClose(&s.kbd);
    SimGpioKeysClose(&s.keys);
    if (rc == 0 && s.panel.exitStatus != 0 && !script.empty())
        rc = 1;
    std::fprintf(stderr, "panel-sim: panel ended with status %d\n", s.panel.exitStatus);
    return rc;
}
