// The pty thread of the request/reply device models: read, feed, write replies when due.
#include "devsim/SerialModel.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

void writeAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t w = write(fd, s.data() + off, s.size() - off);
        if (w > 0)
            off += static_cast<size_t>(w);
        else if (w < 0 && errno == EINTR)
            continue;
        else
            return; // nobody reading and the buffer full: the bytes are lost, as on a wire
    }
}

void run(SerialModel* s) {
    char buf[256];
    int64_t masterQuietUntil = 0;
    while (!s->stop.load()) {
        int timeoutMs = 500;
        {
            std::lock_guard<std::mutex> lock(*s->mu);
            if (!s->pending.empty()) {
                int64_t waitUs = s->pending.front().dueUs - plat_mono_us();
                timeoutMs = static_cast<int>(std::clamp<int64_t>((waitUs + 999) / 1000, 0, 500));
            }
        }
        bool watchMaster = plat_mono_ms() >= masterQuietUntil;
        pollfd fds[2] = {{s->wakeFd, POLLIN, 0},
                         {s->pty.master, static_cast<short>(watchMaster ? POLLIN : 0), 0}};
        if (!watchMaster)
            timeoutMs = std::min(timeoutMs, 50);
        int r = poll(fds, 2, timeoutMs);
        if (r < 0 && errno != EINTR)
            break;
        if (r > 0 && (fds[0].revents & POLLIN)) {
            uint64_t v;
            if (read(s->wakeFd, &v, sizeof v) < 0) {
                // only a wake-up; nothing to recover
            }
        }
        if (r > 0 && (fds[1].revents & POLLIN)) {
            ssize_t n = read(s->pty.master, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(*s->mu);
                s->feed(buf, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                masterQuietUntil = plat_mono_ms() + 50;
            }
        } else if (r > 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            // No slave open (should not happen while slaveHold lives): do not spin on it.
            masterQuietUntil = plat_mono_ms() + 50;
        }
        std::vector<std::string> due;
        {
            std::lock_guard<std::mutex> lock(*s->mu);
            int64_t now = plat_mono_us();
            while (!s->pending.empty() && s->pending.front().dueUs <= now) {
                s->pendingBytes -= s->pending.front().bytes.size();
                due.push_back(std::move(s->pending.front().bytes));
                s->pending.pop_front();
            }
            // Counted before the write: whoever reads a reply must find it counted.
            s->written += static_cast<int>(due.size());
        }
        for (const std::string& bytes : due)
            writeAll(s->pty.master, bytes);
    }
}

} // namespace

bool SerialModelStart(SerialModel* s, const std::string& linkPath, std::mutex* mu,
                      int64_t byteUs, size_t maxPending,
                      std::function<void(const char*, size_t)> feedLocked) {
    s->mu = mu;
    s->byteUs = byteUs;
    s->maxPending = maxPending;
    s->feed = std::move(feedLocked);
    if (!SimPtyOpen(&s->pty, linkPath))
        return false;
    s->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s->wakeFd < 0) {
        SimPtyClose(&s->pty);
        return false;
    }
    fcntl(s->pty.master, F_SETFL, fcntl(s->pty.master, F_GETFL) | O_NONBLOCK);
    s->thread = std::thread(run, s);
    return true;
}

void SerialModelWake(SerialModel* s) {
    uint64_t one = 1;
    if (write(s->wakeFd, &one, sizeof one) < 0) {
        // the poll timeout still gets there within half a second
    }
}

void SerialModelStop(SerialModel* s) {
    s->stop.store(true);
    SerialModelWake(s);
    s->thread.join();
    SimPtyClose(&s->pty);
    close(s->wakeFd);
    s->wakeFd = -1;
}

void SerialModelReplyLocked(SerialModel* s, std::string bytes, int64_t delayUs) {
    if (bytes.empty())
        return;
    int64_t due = plat_mono_us() + delayUs + static_cast<int64_t>(bytes.size()) * s->byteUs;
    // One UART: a reply never overtakes the one before it.
    due = std::max(due, s->lastDueUs);
    s->lastDueUs = due;
    if (s->maxPending > 0 && s->pending.size() >= s->maxPending) {
        s->pendingBytes -= s->pending.front().bytes.size();
        s->pending.pop_front();
    }
    s->pendingBytes += bytes.size();
    s->pending.push_back({due, std::move(bytes)});
}

void SerialModelClearLocked(SerialModel* s) {
    s->pending.clear();
    s->pendingBytes = 0;
}

void SerialTextsFeed(SerialTexts* t, size_t max, const char* data, size_t n,
                     const std::function<void(const std::string&)>& take) {
    for (size_t i = 0; i < n; i++) {
        char ch = data[i];
        if (ch == ';') {
            if (!t->dropping)
                take(t->buf);
            t->dropping = false;
            t->buf.clear();
        } else if (ch < 0x20 || ch > 0x7E || t->dropping) {
            continue; // line noise, or the rest of an overlong text
        } else if (t->buf.size() >= max) {
            t->dropping = true;
            t->buf.clear();
        } else {
            t->buf += ch;
        }
    }
}

void SerialTextsReset(SerialTexts* t) {
    t->buf.clear();
    t->dropping = false;
}
