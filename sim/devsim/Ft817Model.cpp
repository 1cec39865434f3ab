// The FT-817 CAT model: five-byte commands in, BCD frequency and mode out.
#include "devsim/Ft817Model.h"

#include "devsim/Pty.h"
#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t kMaxReceived = 10000;
constexpr size_t kMaxPending = 32;
constexpr int64_t kByteUs = 286; // 11 bits at 38400 baud
constexpr long long kMaxTens = 99999999;
constexpr uint8_t kReadFrequency = 0x03;

struct Pending {
    int64_t dueUs;
    std::string bytes;
};

} // namespace

struct Ft817Model {
    std::mutex mu;
    Ft817ModelConfig cfg;
    SimPty pty;
    int wakeFd = -1;
    std::thread thread;
    std::atomic<bool> stop{false};

    long long tens = 0; // frequency in units of 10 Hz
    Ft817Answer answer = Ft817Answer::Normal;
    int param = 0, answerCount = -1;
    std::array<uint8_t, 5> frame{};
    size_t frameLen = 0;
    int64_t lastByteMs = 0;
    std::deque<Pending> pending;
    int64_t lastDueUs = 0;
    std::deque<Ft817Received> received;
    int answered = 0;
};

namespace {

long long tensOf(long long hz) { return std::clamp((std::max(hz, 0LL) + 5) / 10, 0LL, kMaxTens); }

std::string answerLocked(const Ft817Model* m) {
    std::string a(5, '\0');
    long long t = m->tens;
    for (int i = 3; i >= 0; i--) {
        a[static_cast<size_t>(i)] = static_cast<char>((t % 10) | ((t / 10 % 10) << 4));
        t /= 100;
    }
    a[4] = static_cast<char>(m->cfg.mode);
    return a;
}

void enqueueLocked(Ft817Model* m, std::string bytes, int64_t delayUs) {
    int64_t due = plat_mono_us() + delayUs + static_cast<int64_t>(bytes.size()) * kByteUs;
    // One UART: an answer never overtakes the one before it.
    due = std::max(due, m->lastDueUs);
    m->lastDueUs = due;
    if (m->pending.size() >= kMaxPending)
        m->pending.pop_front();
    m->pending.push_back({due, std::move(bytes)});
}

void commandLocked(Ft817Model* m) {
    m->received.push_back({plat_mono_ms(), m->frame});
    if (m->received.size() > kMaxReceived)
        m->received.pop_front();
    if (m->frame[4] != kReadFrequency)
        return;
    Ft817Answer mode = m->answer;
    if (m->answerCount > 0 && --m->answerCount == 0)
        m->answer = Ft817Answer::Normal;
    std::string a = answerLocked(m);
    int64_t delayUs = m->cfg.turnaroundMs * 1000LL;
    switch (mode) {
    case Ft817Answer::Normal:
        break;
    case Ft817Answer::Late:
        delayUs = m->param * 1000LL;
        break;
    case Ft817Answer::Silent:
        return;
    case Ft817Answer::BadDigit: {
        int nib = std::clamp(m->param, 0, 7);
        auto& b = reinterpret_cast<unsigned char&>(a[static_cast<size_t>(nib / 2)]);
        b = (nib % 2) ? static_cast<unsigned char>((b & 0xF0) | 0x0A)
                      : static_cast<unsigned char>((b & 0x0F) | 0xA0);
        break;
    }
    case Ft817Answer::Short:
        a.resize(static_cast<size_t>(std::clamp(m->param, 0, 4)));
        if (a.empty())
            return;
        break;
    }
    enqueueLocked(m, std::move(a), delayUs);
}

void feedLocked(Ft817Model* m, const uint8_t* data, size_t n) {
    int64_t now = plat_mono_ms();
    for (size_t i = 0; i < n; i++) {
        if (m->frameLen > 0 && m->cfg.frameGapMs > 0 && now - m->lastByteMs > m->cfg.frameGapMs)
            m->frameLen = 0;
        m->lastByteMs = now;
        m->frame[m->frameLen++] = data[i];
        if (m->frameLen == m->frame.size()) {
            commandLocked(m);
            m->frameLen = 0;
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

void run(Ft817Model* m) {
    uint8_t buf[256];
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
                due.push_back(std::move(m->pending.front().bytes));
                m->pending.pop_front();
            }
        }
        for (const std::string& s : due)
            writeAll(m->pty.master, s);
        if (!due.empty()) {
            std::lock_guard<std::mutex> lock(m->mu);
            m->answered += static_cast<int>(due.size());
        }
    }
}

int baudOf(speed_t s) {
    switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

} // namespace

Ft817Model* Ft817ModelStart(const std::string& linkPath, const Ft817ModelConfig& cfg) {
    auto* m = new Ft817Model;
    m->cfg = cfg;
    m->tens = tensOf(cfg.hz);
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

void Ft817ModelStop(Ft817Model* m) {
    if (!m)
        return;
    m->stop.store(true);
    uint64_t one = 1;
    if (write(m->wakeFd, &one, sizeof one) < 0) {
        // the poll timeout still ends the thread within half a second
    }
    m->thread.join();
    SimPtyClose(&m->pty);
    close(m->wakeFd);
    delete m;
}

void Ft817ModelSetFrequency(Ft817Model* m, long long hz) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->tens = tensOf(hz);
}

long long Ft817ModelFrequency(Ft817Model* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->tens * 10;
}

void Ft817ModelSetMode(Ft817Model* m, uint8_t mode) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.mode = mode;
}

void Ft817ModelSetAnswer(Ft817Model* m, Ft817Answer mode, int param, int count) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->answer = count == 0 ? Ft817Answer::Normal : mode;
    m->param = std::max(0, param);
    m->answerCount = count;
}

std::vector<Ft817Received> Ft817ModelReceived(Ft817Model* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return {m->received.begin(), m->received.end()};
}

void Ft817ModelClearReceived(Ft817Model* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->received.clear();
}

int Ft817ModelAnswered(Ft817Model* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->answered;
}

Ft817Line Ft817ModelLine(Ft817Model* m) {
    termios t{};
    Ft817Line line;
    if (tcgetattr(m->pty.slaveHold, &t) != 0)
        return line;
    line.baud = baudOf(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
    }
    line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    line.parity = (t.c_cflag & PARENB) != 0;
    return line;
}
