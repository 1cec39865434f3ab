// The transceiver's CAT port model: identification, frequency, mode, echo.
#include "devsim/TrxCatModel.h"

#include "devsim/Pty.h"
#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t kMaxText = 200;
constexpr size_t kMaxReceived = 10000;
constexpr size_t kMaxQueued = 64 * 1024;
constexpr int64_t kByteUs = 87; // USB serial: about 115200 baud worth

struct Pending {
    int64_t dueUs;
    std::string bytes;
};

bool digits(const std::string& s, size_t from, size_t n) {
    if (s.size() != from + n)
        return false;
    return std::all_of(s.begin() + static_cast<long>(from), s.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

struct TrxCatModel {
    std::mutex mu;
    TrxCatModelConfig cfg;
    SimPty pty;
    int wakeFd = -1;
    std::thread thread;
    std::atomic<bool> stop{false};

    bool silent = false;
    std::string inBuf;
    bool dropping = false;
    std::deque<Pending> pending;
    size_t queued = 0; // bytes in `pending`
    int64_t lastDueUs = 0;
    std::deque<TrxCatReceived> received;
};

namespace {

bool enqueueLocked(TrxCatModel* m, std::string bytes, int64_t delayUs) {
    if (bytes.empty())
        return true;
    if (m->queued + bytes.size() > kMaxQueued)
        return false;
    int64_t due = plat_mono_us() + delayUs + static_cast<int64_t>(bytes.size()) * kByteUs;
    // One port: nothing overtakes what was queued before it.
    due = std::max(due, m->lastDueUs);
    m->lastDueUs = due;
    m->queued += bytes.size();
    m->pending.push_back({due, std::move(bytes)});
    return true;
}

std::string answerLocked(TrxCatModel* m, const std::string& text) {
    char b[40];
    if (text == "DT;")
        return m->cfg.id;
    if (text == "FA;") {
        std::snprintf(b, sizeof b, "FA%011lld;", m->cfg.hz);
        return b;
    }
    if (text == "MD;") {
        std::snprintf(b, sizeof b, "MD%d;", m->cfg.mode);
        return b;
    }
    std::string body = text.substr(0, text.size() - 1);
    if (body.compare(0, 2, "FA") == 0 && digits(body, 2, 11))
        m->cfg.hz = std::stoll(body.substr(2));
    else if (body.compare(0, 2, "MD") == 0 && digits(body, 2, 1))
        m->cfg.mode = body[2] - '0';
    return text;
}

void textLocked(TrxCatModel* m, const std::string& text) {
    m->received.push_back({plat_mono_ms(), text});
    if (m->received.size() > kMaxReceived)
        m->received.pop_front();
    if (m->silent)
        return;
    enqueueLocked(m, answerLocked(m, text), m->cfg.turnaroundMs * 1000LL);
}

void feedLocked(TrxCatModel* m, const char* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
        char ch = data[i];
        if (ch == ';') {
            if (!m->dropping)
                textLocked(m, m->inBuf + ';');
            m->dropping = false;
            m->inBuf.clear();
        } else if (ch < 0x20 || ch > 0x7E || m->dropping) {
            continue; // line noise, or the rest of an overlong text
        } else if (m->inBuf.size() >= kMaxText) {
            m->dropping = true;
            m->inBuf.clear();
        } else {
            m->inBuf += ch;
        }
    }
}

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

void run(TrxCatModel* m) {
    char buf[256];
    int64_t masterQuietUntil = 0;
    while (!m->stop.load()) {
        int timeoutMs = 500;
        {
            std::lock_guard<std::mutex> lock(m->mu);
            if (!m->pending.empty()) {
                int64_t waitUs = m->pending.front().dueUs - plat_mono_us();
                timeoutMs = static_cast<int>(std::clamp<int64_t>((waitUs + 999) / 1000, 0, 500));
            }
        }
        bool watchMaster = plat_mono_ms() >= masterQuietUntil;
        pollfd fds[2] = {{m->wakeFd, POLLIN, 0},
                         {m->pty.master, static_cast<short>(watchMaster ? POLLIN : 0), 0}};
        if (!watchMaster)
            timeoutMs = std::min(timeoutMs, 50);
        int r = poll(fds, 2, timeoutMs);
        if (r < 0 && errno != EINTR)
            break;
        if (r > 0 && (fds[0].revents & POLLIN)) {
            uint64_t v;
            if (read(m->wakeFd, &v, sizeof v) < 0) {
                // only a wake-up; nothing to recover
            }
        }
        if (r > 0 && (fds[1].revents & POLLIN)) {
            ssize_t n = read(m->pty.master, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(m->mu);
                feedLocked(m, buf, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                masterQuietUntil = plat_mono_ms() + 50;
            }
        } else if (r > 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            masterQuietUntil = plat_mono_ms() + 50; // do not spin on a hung-up master
        }
        std::vector<std::string> due;
        {
            std::lock_guard<std::mutex> lock(m->mu);
            int64_t now = plat_mono_us();
            while (!m->pending.empty() && m->pending.front().dueUs <= now) {
                m->queued -= m->pending.front().bytes.size();
                due.push_back(std::move(m->pending.front().bytes));
                m->pending.pop_front();
            }
        }
        for (const std::string& s : due)
            writeAll(m->pty.master, s);
    }
}

void wake(TrxCatModel* m) {
    uint64_t one = 1;
    if (write(m->wakeFd, &one, sizeof one) < 0) {
        // the poll timeout still gets there within half a second
    }
}

} // namespace

TrxCatModel* TrxCatModelStart(const std::string& linkPath, const TrxCatModelConfig& cfg) {
    auto* m = new TrxCatModel;
    m->cfg = cfg;
    if (!SimPtyOpen(&m->pty, linkPath)) {
        delete m;
        return nullptr;
    }
    m->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m->wakeFd < 0) {
        SimPtyClose(&m->pty);
        delete m;
        return nullptr;
    }
    fcntl(m->pty.master, F_SETFL, fcntl(m->pty.master, F_GETFL) | O_NONBLOCK);
    m->thread = std::thread(run, m);
    return m;
}

void TrxCatModelStop(TrxCatModel* m) {
    if (!m)
        return;
    m->stop.store(true);
    wake(m);
    m->thread.join();
    SimPtyClose(&m->pty);
    close(m->wakeFd);
    delete m;
}

void TrxCatModelSetFrequency(TrxCatModel* m, long long hz) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.hz = std::clamp(hz, 0LL, 99999999999LL);
}

long long TrxCatModelFrequency(TrxCatModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->cfg.hz;
}

void TrxCatModelSetMode(TrxCatModel* m, int mode) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.mode = std::clamp(mode, 0, 9);
}

int TrxCatModelMode(TrxCatModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->cfg.mode;
}

void TrxCatModelSetId(TrxCatModel* m, const std::string& id) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.id = id;
}

void TrxCatModelSetSilent(TrxCatModel* m, bool silent) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->silent = silent;
}

bool TrxCatModelSend(TrxCatModel* m, const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m->mu);
        if (!enqueueLocked(m, text, 0))
            return false;
    }
    wake(m);
    return true;
}

std::vector<TrxCatReceived> TrxCatModelReceived(TrxCatModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return {m->received.begin(), m->received.end()};
}

void TrxCatModelClearReceived(TrxCatModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->received.clear();
}
