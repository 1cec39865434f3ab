// The keyboard thread.
//
// Its commands (stty, tput, the screenshot, the remote shell) run on the
// storage thread: a key is never held up by a child process.
//
// The keyboard is found by its by-id name, grabbed so that its keys do not reach
// the console, and read as Linux input events. It is waited on against the run
// flag, so the thread notices the end of the run while the keyboard is silent.
#include "core/Keyb.h"

#include "core/Setup.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/InputDevice.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/input.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRetryMs = 20000;

// Opens the first keyboard; -1 after logging when none could be opened.
int openKeyboard(std::string* dev) {
    if (!plat_glob_first("/dev/input/by-id/*-event-kbd", dev))
        return -1;
    int fd = plat_input_open(*dev);
    if (fd < 0) {
        int e = errno;
        LogErrOut("Cannot open %s, error %d -%s", dev->c_str(), e, std::strerror(e));
        return -1;
    }
    LogInfoOut("Keyboard opened");
    plat_input_grab(fd);
    StorageCommand("stty -echo");
    return fd;
}

enum class KeyResult { Go, Exit };

KeyResult onKey(Works* w, int fd, int code) {
    switch (code) {
    case KEY_SYSRQ:
        LogInfoOut("launching screenshot");
        StorageCommand("/usr/bin/fbgrab /tmp/screen.png >/dev/null 2>&1 </dev/null",
                       [](int) { LogInfoOut("launched screenshot"); });
        break;
    case KEY_F12:
        LogInfo("Exited by KEY_F12");
        w->running = 0;
        close(fd);
        StorageCommand("/bin/stty sane");
        StorageCommand("/usr/bin/tput clear");
        return KeyResult::Exit;
    case KEY_F11:
        LogInfo("Save setup");
        writeSetup(w);
        break;
    case KEY_F10:
        RemoteConnection();
        w->serviceFlags.set(2);
        break;
    default:
        break;
    }
    return KeyResult::Go;
}

} // namespace

void RemoteConnection() {
    LogInfoOut("launching ssh");
    StorageCommand("/opt/sshshell", [](int) { LogInfo("launched ssh"); });
}

void keyb(Works* w) {
    LogOut("keyb open..\n");
    LogOut("%s\n", std::string(113, '*').c_str());
    LogInfo("Keyboard function entered");

    std::string dev;
    while (w->running) {
        int fd = openKeyboard(&dev);
        if (fd < 0) {
            SleepWhileRunning(w, kRetryMs);
            continue;
        }
        LogInfo("Continuous keyboard loop started, please end using Control C\n");
        LogOut("Continuous keyboard loop started, please end using Control C\n");

        input_event ev;
        size_t have = 0;
        bool lost = false;
        while (w->running && !lost) {
            PortStatus st;
            const ssize_t n = plat_port_read(fd, reinterpret_cast<char*>(&ev) + have, sizeof ev - have,
                                             -1, [w] { return w->running != 0; }, &st);
            if (st == PortStatus::Stopped)
                break;
            if (n <= 0) {
                const int e = st == PortStatus::HungUp ? EIO : errno;
                LogErr("error reading %s, error %d -%s", dev.c_str(), e, std::strerror(e));
                // A keyboard that went away is looked for again rather than read in a loop.
                lost = true;
                break;
            }
            have += static_cast<size_t>(n);
            if (have < sizeof ev)
                continue;
            have = 0;
            if (ev.type == EV_KEY && ev.value == 1 && onKey(w, fd, ev.code) == KeyResult::Exit)
                return;
        }
        close(fd);
        if (lost)
            SleepWhileRunning(w, kRetryMs);
    }
    StorageCommand("stty sane");
}
