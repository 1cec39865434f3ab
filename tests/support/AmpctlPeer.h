// A client of the amplifier protocol as loggers speak it: a TCP connection
// (IPv4 or IPv6), a command a line, answers read line by line.
#pragma once

#include "TestRoot.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
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
        if (fd >= 0)
            close(fd);
        fd = -1;
    }

    // Connects to host ("127.0.0.1", "::1") at port, retrying for `timeoutMs`
    // of real time while nothing listens yet.
    bool connectTo(const char* host, int port, int timeoutMs = 10000) {
        sockaddr_storage a{};
        socklen_t len = sizeof(sockaddr_in);
        auto* four = reinterpret_cast<sockaddr_in*>(&a);
        auto* six = reinterpret_cast<sockaddr_in6*>(&a);
        if (inet_pton(AF_INET, host, &four->sin_addr) == 1) {
            four->sin_family = AF_INET;
            four->sin_port = htons(static_cast<uint16_t>(port));
        } else if (inet_pton(AF_INET6, host, &six->sin6_addr) == 1) {
            six->sin6_family = AF_INET6;
            six->sin6_port = htons(static_cast<uint16_t>(port));
            len = sizeof(sockaddr_in6);
        } else {
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            closeIt();
            fd = socket(a.ss_family, SOCK_STREAM, 0);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0) {
                ended = false;
                return true;
            }
            usleep(20000);
        }
        closeIt();
        return false;
    }
    bool send(const std::string& bytes) {
        return fd >= 0 && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // What comes until the answer has `lines` lines, the server closes, or
    // `timeoutMs` of real time pass.
    std::string read(int lines, int timeoutMs = 5000) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (fd >= 0 && static_cast<int>(CountOf(got, "\n")) < lines) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char c;
            const ssize_t r = ::read(fd, &c, 1); // a byte at a time: nothing past the answer is taken
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
