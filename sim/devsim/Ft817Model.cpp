// The FT-817 CAT model: five-byte commands in, BCD frequency and mode out.
#include "devsim/Ft817Model.h"

#include "devsim/SerialModel.h"
#include "platform/Clock.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <termios.h>

namespace {

constexpr size_t kMaxReceived = 10000;
constexpr size_t kMaxPending = 32;
constexpr int64_t kByteUs = 286; // 11 bits at 38400 baud
constexpr long long kMaxTens = 99999999;
constexpr uint8_t kReadFrequency = 0x03;

} // namespace

struct Ft817Model {
    std::mutex mu;
    Ft817ModelConfig cfg;
    SerialModel serial;

    long long tens = 0; // frequency in units of 10 Hz
    Ft817Answer answer = Ft817Answer::Normal;
    int param = 0, answerCount = -1;
    std::array<uint8_t, 5> frame{};
    size_t frameLen = 0;
    int64_t lastByteMs = 0;
    std::deque<Ft817Received> received;
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
    SerialModelReplyLocked(&m->serial, std::move(a), delayUs);
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
    auto feed = [m](const char* data, size_t n) {
        feedLocked(m, reinterpret_cast<const uint8_t*>(data), n);
    };
    if (!SerialModelStart(&m->serial, linkPath, &m->mu, kByteUs, kMaxPending, feed)) {
        delete m;
        return nullptr;
    }
    return m;
}

void Ft817ModelStop(Ft817Model* m) {
    if (!m)
        return;
    SerialModelStop(&m->serial);
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
    return m->serial.written;
}

Ft817Line Ft817ModelLine(Ft817Model* m) {
    termios t{};
    Ft817Line line;
    if (tcgetattr(m->serial.pty.slaveHold, &t) != 0)
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
