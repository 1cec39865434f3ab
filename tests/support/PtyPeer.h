// The panel's end of a device model's pty, for the model tests.
#pragma once

#include "platform/Clock.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// Opens the linked slave in raw mode at `baud`; the descriptor, or -1.
inline int PtyPeerOpen(const std::string& link, speed_t baud) {
    int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, baud);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads up to the first ';' (one text of the wire) or what has come within `timeoutMs`, a byte
// at a time so that nothing after the ';' is taken.
inline std::string PtyPeerReadText(int fd, int timeoutMs) {
    std::string got;
    const int64_t end = plat_mono_ms() + timeoutMs;
    while (got.empty() || got.back() != ';') {
        const int left = static_cast<int>(end - plat_mono_ms());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) break;
        char c;
        if (read(fd, &c, 1) == 1) got += c;
    }
    return got;
}
