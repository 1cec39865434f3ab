// A client of the amplifier protocol as loggers speak it: a TCP connection
// (IPv4 or IPv6), a command a line, answers read line by line.
#pragma once

#include "TestRoot.h"

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

struct AmpctlPeer {
    int fd = -1;
    bool ended = false; // the server closed the connection
    AmpctlPeer() = default;
    AmpctlPeer(const AmpctlPeer&) = delete;
    AmpctlPeer& operator=(const AmpctlPeer&) = delete;
    ~AmpctlPeer() { closeIt(); }
    void closeIt() {
        if (fd >= 0) close(fd);
        fd = -1;
    }

    // Connects to host ("127.0.0.1", "::1") at port, retrying for `timeoutMs`
    // of real time while nothing listens yet.
    bool connectTo(const char* host, int port, int timeoutMs = 10000) {
        closeIt();
        fd = ConnectWithin(host, port, timeoutMs);
        ended = false;
        return fd >= 0;
    }
    bool send(const std::string& bytes) {
        return fd >= 0 && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
    }
    // What comes until the answer has `lines` lines, the server closes, or
    // `timeoutMs` of real time pass.
    std::string read(int lines, int timeoutMs = 5000) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (fd >= 0 && static_cast<int>(CountOf(got, "\n")) < lines) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char c;
            // A byte at a time: nothing past the answer is taken.
            const ssize_t r = ::read(fd, &c, 1);
            if (r <= 0) {
                ended = true;
                break;
            }
            got += c;
        }
        return got;
    }
    // One command and its answer of `lines` lines.
    std::string ask(const std::string& command, int lines = 1) {
        return send(command + "\n") ? read(lines) : std::string();
    }
    // Whether the server closes the connection within `timeoutMs` of real time
    // (what it sends meanwhile is read and dropped).
    bool closesWithin(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!ended && std::chrono::steady_clock::now() < end)
            read(1 << 20, 50);
        return ended;
    }
};
