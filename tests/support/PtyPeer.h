// The panel's end of a device model's pty, for the model tests.
#pragma once

#include "platform/Clock.h"

#include <cstddef>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

// Opens the linked slave in raw mode at `baud` (0 keeps the speed), with `extraCflags`
// (e.g. CSTOPB) on top; the descriptor, or -1.
inline int PtyPeerOpen(const std::string& link, speed_t baud = 0, tcflag_t extraCflags = 0) {
    int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    if (baud != 0)
        cfsetspeed(&t, baud);
    t.c_cflag |= extraCflags;
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads what arrives until `enough(got)` holds or `timeoutMs` passes. Each read takes at
// most `step` bytes: 1 stops exactly where `enough` first holds and leaves the rest.
inline std::string PtyPeerRead(int fd, int timeoutMs, size_t step,
                               const std::function<bool(const std::string&)>& enough) {
    std::string got;
    int64_t end = plat_mono_ms() + timeoutMs;
    char buf[256];
    if (step == 0 || step > sizeof buf)
        step = sizeof buf;
    while (!enough(got)) {
        int left = static_cast<int>(end - plat_mono_ms());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            break;
        ssize_t r = read(fd, buf, step);
        if (r > 0)
            got.append(buf, static_cast<size_t>(r));
    }
    return got;
}
