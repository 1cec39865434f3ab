// The transceiver's serial link model.
#include "devsim/TrxModel.h"

#include "devsim/Pty.h"
#include "devsim/SerialModel.h"
#include "platform/Clock.h"

#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>

struct TrxModel {
    SimPty pty;
    std::thread thread;
    std::mutex mut;
    bool stop = false;
    TrxModelConfig cfg;
    bool ptt = false, carrier = false, anRequest = false, silent = false, ignoreTune = false;
    float pttW = 0;
    int garbage = 0, cutAfter = -1, dropPercent = 0, frames = 0;
    std::function<void(bool, float)> hook;
    std::vector<TrxReceived> received;
    SerialTexts texts;
    std::mt19937 rng{1234};
};

namespace {

constexpr size_t kMaxReceived = 10000;
constexpr size_t kMaxText = 64; // the longest command the panel sends is a few bytes

void notify(TrxModel* m, bool wasTx) {
    const bool tx = m->ptt || m->carrier;
    if (tx != wasTx && m->hook)
        m->hook(tx, m->carrier ? m->cfg.carrierW : m->pttW);
}

void takeText(TrxModel* m, const std::string& text) {
    const bool wasTx = m->ptt || m->carrier;
    if (m->received.size() >= kMaxReceived)
        m->received.erase(m->received.begin());
    m->received.push_back({plat_mono_ms(), text});
    if (text == "TX2;" && !m->ignoreTune)
        m->carrier = true; // "TU120;" sets the carrier power, "TX2;" keys it
    else if (text == "RX;")
        m->carrier = false;
    notify(m, wasTx);
}

// A spectrum of dB + 192 per bin: a noise floor and a few stations.
std::vector<uint8_t> spectrumPayload(std::mt19937& rng, int length, bool tx) {
    std::vector<uint8_t> p(static_cast<size_t>(length));
    std::uniform_int_distribution<int> noise(0, 5);
    for (int i = 0; i < length; i++) {
        int db = -112 + noise(rng);
        for (int station : {300, 512, 700})
            db = std::max(db, -50 - 3 * std::abs(i - station));
        if (tx)
            db = std::max(db, -20 - 6 * std::abs(i - 512));
        p[static_cast<size_t>(i)] = static_cast<uint8_t>(db + 192);
    }
    return p;
}

void writeBytes(TrxModel* m, std::vector<uint8_t> bytes, int cutAfter, int dropPercent) {
    if (cutAfter >= 0 && static_cast<size_t>(cutAfter) < bytes.size())
        bytes.resize(static_cast<size_t>(cutAfter));
    if (dropPercent > 0) {
        std::vector<uint8_t> kept;
        std::uniform_int_distribution<int> pct(0, 99);
        for (uint8_t b : bytes)
            if (pct(m->rng) >= dropPercent)
                kept.push_back(b);
        bytes.swap(kept);
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m->pty.master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            pollfd p{m->pty.master, POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0)
                return; // nobody reads: the bytes are lost, as on a real line
            continue;
        }
        done += static_cast<size_t>(n);
    }
}

void run(TrxModel* m) {
    int64_t next = plat_mono_ms();
    for (;;) {
        pollfd p{m->pty.master, POLLIN, 0};
        const int64_t wait = next - plat_mono_ms();
        poll(&p, 1, wait > 0 ? static_cast<int>(wait) : 0);
        std::unique_lock<std::mutex> lock(m->mut);
        if (m->stop)
            return;
        if (p.revents & POLLIN) {
            char buf[256];
            const ssize_t n = read(m->pty.master, buf, sizeof buf);
            if (n > 0)
                SerialTextsFeed(&m->texts, kMaxText, buf, static_cast<size_t>(n),
                                [m](const std::string& text) { takeText(m, text + ';'); });
        }
        if (plat_mono_ms() < next)
            continue;
        next += 1000 / (m->cfg.framesPerSecond > 0 ? m->cfg.framesPerSecond : 1);
        if (m->silent)
            continue;
        std::vector<uint8_t> out;
        std::uniform_int_distribution<int> junk(15, 255);
        for (; m->garbage > 0; m->garbage--)
            out.push_back(static_cast<uint8_t>(junk(m->rng)));
        const bool tx = m->ptt || m->carrier;
        auto params = TrxFrame(1, '1',
                               TrxParameterPayload(m->cfg.hz, m->cfg.mode, tx, m->anRequest,
                                                   m->cfg.pitchHz, m->cfg.offsetHz));
        out.insert(out.end(), params.begin(), params.end());
        if (m->cfg.spectrum) {
            auto trace = TrxFrame(0, '0', spectrumPayload(m->rng, m->cfg.spectrumLength, tx));
            out.insert(out.end(), trace.begin(), trace.end());
        }
        const int cut = m->cutAfter, drop = m->dropPercent;
        m->cutAfter = -1;
        m->frames++;
        lock.unlock();
        writeBytes(m, std::move(out), cut, drop);
    }
}

} // namespace

std::vector<uint8_t> TrxFrame(int type, char subtype, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f;
    f.push_back(static_cast<uint8_t>(type));
    f.push_back(static_cast<uint8_t>(subtype));
    const size_t n = payload.size();
    for (int i = 0; i < 4; i++) // least significant digit first
        f.push_back(static_cast<uint8_t>(0x30 + ((n >> (4 * i)) & 0x0F)));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

std::vector<uint8_t> TrxParameterPayload(long long hz, int mode, bool tx, bool anRequest,
                                         int pitchHz, int offsetHz) {
    std::vector<uint8_t> b(31, 0);
    b[0] = 0x00; // VFO A active, frequency of A, not a memory
    long long f = hz;
    for (int i = 8; i >= 1; i--) { // eight digits, most significant first
        b[static_cast<size_t>(i)] = static_cast<uint8_t>(0x30 + f % 10);
        f /= 10;
    }
    b[9] = static_cast<uint8_t>(0x80 | (tx ? 0x40 : 0) | (mode & 0x0F));
    b[10] = 0x40;                                            // main volume, signs clear
    b[11] = static_cast<uint8_t>(0x40 | (anRequest ? 0x20 : 0) | 3); // squelch 3
    b[12] = static_cast<uint8_t>(0x80 | (2 << 3) | 1);
    b[13] = 0x40 | 2;
    b[14] = 0x30 | 1; // NR 1
    b[15] = 0x30;     // NB off
    b[16] = 0x60 | 2;
    b[17] = 0x60 | 3;
    b[18] = 0x30 | 1;
    b[19] = 0x60 | (1 << 2) | 1;
    b[20] = 0x40; // att, lp, an off
    b[21] = 211 + 5;
    b[22] = 40; // volume
    b[23] = static_cast<uint8_t>(0x30 + (pitchHz / 100) % 10);
    b[24] = static_cast<uint8_t>(0x30 + (pitchHz / 10) % 10);
    b[25] = static_cast<uint8_t>(0x30 + pitchHz % 10);
    const uint32_t off = static_cast<uint32_t>(offsetHz) & 0xFFFFF; // 20-bit two's complement
    for (int i = 0; i < 5; i++)
        b[static_cast<size_t>(26 + i)] = static_cast<uint8_t>(0x30 + ((off >> (16 - 4 * i)) & 0x0F));
    return b;
}

TrxModel* TrxModelStart(const std::string& linkPath, const TrxModelConfig& cfg) {
    auto* m = new TrxModel;
    m->cfg = cfg;
    if (!SimPtyOpen(&m->pty, linkPath)) {
        delete m;
        return nullptr;
    }
    // It streams unasked: with nobody reading, a full line must not block it.
    fcntl(m->pty.master, F_SETFL, fcntl(m->pty.master, F_GETFL) | O_NONBLOCK);
    m->thread = std::thread(run, m);
    return m;
}

void TrxModelStop(TrxModel* m) {
    if (!m)
        return;
    {
        std::lock_guard<std::mutex> lock(m->mut);
        m->stop = true;
    }
    m->thread.join();
    SimPtyClose(&m->pty);
    delete m;
}

void TrxModelSetTransmitHook(TrxModel* m, std::function<void(bool, float)> hook) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->hook = std::move(hook);
}

void TrxModelSetFrequency(TrxModel* m, long long hz) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->cfg.hz = hz;
}

long long TrxModelFrequency(TrxModel* m) {
    std::lock_guard<std::mutex> lock(m->mut);
    return m->cfg.hz;
}

void TrxModelSetMode(TrxModel* m, int mode) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->cfg.mode = mode;
}

void TrxModelSetPtt(TrxModel* m, bool on, float watts) {
    std::lock_guard<std::mutex> lock(m->mut);
    const bool wasTx = m->ptt || m->carrier;
    m->ptt = on;
    m->pttW = watts;
    notify(m, wasTx);
}

bool TrxModelTransmitting(TrxModel* m) {
    std::lock_guard<std::mutex> lock(m->mut);
    return m->ptt || m->carrier;
}

void TrxModelSetAnRequest(TrxModel* m, bool on) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->anRequest = on;
}

void TrxModelSendGarbage(TrxModel* m, int count) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->garbage = count;
}

void TrxModelCutNextFrame(TrxModel* m, int bytes) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->cutAfter = bytes;
}

void TrxModelSetDropPercent(TrxModel* m, int percent) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->dropPercent = percent;
}

void TrxModelSetSilent(TrxModel* m, bool silent) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->silent = silent;
}

void TrxModelSetIgnoreTune(TrxModel* m, bool ignore) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->ignoreTune = ignore;
}

std::vector<TrxReceived> TrxModelReceived(TrxModel* m) {
    std::lock_guard<std::mutex> lock(m->mut);
    return m->received;
}

void TrxModelClearReceived(TrxModel* m) {
    std::lock_guard<std::mutex> lock(m->mut);
    m->received.clear();
}

int TrxModelFramesSent(TrxModel* m) {
    std::lock_guard<std::mutex> lock(m->mut);
    return m->frames;
}
