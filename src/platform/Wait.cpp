// poll() against a deadline in program time, asking the caller between slices.
#include "platform/Wait.h"

#include "platform/Clock.h"

#include <cerrno>

PortStatus plat_wait_fds(pollfd* fds, int n, int timeoutMs, const PortWanted& wanted, int* waitedMs) {
    const int64_t start = plat_mono_ms();
    const int64_t end = timeoutMs < 0 ? -1 : start + timeoutMs;
    auto done = [&](PortStatus st) {
        if (waitedMs)
            *waitedMs += static_cast<int>(plat_mono_ms() - start);
        return st;
    };
    for (;;) {
        if (wanted && !wanted())
            return done(PortStatus::Stopped);
        int slice = kPortSliceMs;
        if (end >= 0) {
            const int64_t left = end - plat_mono_ms();
            if (left <= 0)
                return done(PortStatus::TimedOut);
            if (left < slice)
                slice = static_cast<int>(left);
        }
        for (int i = 0; i < n; i++)
            fds[i].revents = 0;
        // A test's stepped clock does not move by itself: it looks once and
        // lets the slice pass at once, as if it had been waited.
        const bool manual = plat_clock_is_manual();
        const int r = poll(fds, static_cast<nfds_t>(n), manual ? 0 : plat_real_ms(slice));
        if (r < 0 && errno != EINTR)
            return done(PortStatus::Failed);
        if (r > 0)
            return done(PortStatus::Ok);
        if (manual)
            plat_clock_step_us(static_cast<int64_t>(slice) * 1000);
    }
}

PortStatus plat_wait_fd(int fd, short events, int timeoutMs, const PortWanted& wanted, short* revents,
                        int* waitedMs) {
    pollfd p{fd, events, 0};
    const PortStatus st = plat_wait_fds(&p, 1, timeoutMs, wanted, waitedMs);
    if (revents)
        *revents = p.revents;
    return st;
}
