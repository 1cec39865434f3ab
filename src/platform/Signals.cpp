// SIGPIPE ignored; SIGTERM and SIGINT read through a signalfd.
#include "platform/Signals.h"

#include "platform/Clock.h"
#include "platform/Wait.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
int g_signalFd = -1; // set by plat_signals_init before the threads start
}

void plat_signals_init() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    if (g_signalFd < 0)
        g_signalFd = signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
}

int plat_wait_stop_signal(int timeoutMs) {
    if (g_signalFd < 0) {
        plat_sleep_ms(timeoutMs);
        return 0;
    }
    if (plat_wait_fd(g_signalFd, POLLIN, timeoutMs, nullptr) != PortStatus::Ok)
        return 0;
    signalfd_siginfo info{};
    if (read(g_signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return 0;
    return static_cast<int>(info.ssi_signo);
}

const char* plat_signal_name(int sig) {
    switch (sig) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    default:
        return "another signal";
    }
}
