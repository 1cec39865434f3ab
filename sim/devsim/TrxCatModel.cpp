// The transceiver's CAT port model: identification, frequency, mode, echo.
#include "devsim/TrxCatModel.h"

#include "devsim/SerialModel.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>

namespace {

constexpr size_t kMaxText = 200;
constexpr size_t kMaxReceived = 10000;
constexpr size_t kMaxQueued = 64 * 1024;
constexpr int64_t kByteUs = 87; // USB serial: about 115200 baud worth

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
    SerialModel serial;

    bool silent = false;
    bool transmitting = false;
    std::function<void(bool)> hook;
    SerialTexts texts;
    std::deque<TrxCatReceived> received;
};

namespace {

bool enqueueLocked(TrxCatModel* m, std::string bytes, int64_t delayUs) {
    if (m->serial.pendingBytes + bytes.size() > kMaxQueued)
        return false;
    SerialModelReplyLocked(&m->serial, std::move(bytes), delayUs);
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
    if (text == "IF;") {
        // The Kenwood status: frequency, step, RIT/XIT, memory, transmit, mode,
        // VFO A, no scan, no split, no tone (37 characters before the ';').
        char status[48];
        std::snprintf(status, sizeof status, "IF%011lld0000+0000000000%c%d0000000;", m->cfg.hz,
                      m->transmitting ? '1' : '0', m->cfg.mode % 10);
        return status;
    }
    std::string body = text.substr(0, text.size() - 1);
    const bool wasTx = m->transmitting;
    if (body.compare(0, 2, "FA") == 0 && digits(body, 2, 11))
        m->cfg.hz = std::stoll(body.substr(2));
    else if (body.compare(0, 2, "MD") == 0 && digits(body, 2, 1))
        m->cfg.mode = body[2] - '0';
    else if (body == "TX" || (body.compare(0, 2, "TX") == 0 && digits(body, 2, 1)))
        m->transmitting = true;
    else if (body == "RX")
        m->transmitting = false;
    if (m->transmitting != wasTx && m->hook)
        m->hook(m->transmitting);
    return m->cfg.echo ? text : std::string();
}

void textLocked(TrxCatModel* m, const std::string& text) {
    m->received.push_back({plat_mono_ms(), text});
    if (m->received.size() > kMaxReceived)
        m->received.pop_front();
    if (m->silent)
        return;
    std::string answer = answerLocked(m, text);
    if (!answer.empty())
        enqueueLocked(m, std::move(answer), m->cfg.turnaroundMs * 1000LL);
}

void feedLocked(TrxCatModel* m, const char* data, size_t n) {
    auto take = [m](const std::string& text) { textLocked(m, text + ';'); };
    SerialTextsFeed(&m->texts, kMaxText, data, n, take);
}

} // namespace

TrxCatModel* TrxCatModelStart(const std::string& linkPath, const TrxCatModelConfig& cfg) {
    auto* m = new TrxCatModel;
    m->cfg = cfg;
    // No limit on the number of texts waiting, only on their bytes (enqueueLocked).
    if (!SerialModelStart(&m->serial, linkPath, &m->mu, kByteUs, 0,
                          [m](const char* data, size_t n) { feedLocked(m, data, n); })) {
        delete m;
        return nullptr;
    }
    return m;
}

void TrxCatModelStop(TrxCatModel* m) {
    if (!m)
        return;
    SerialModelStop(&m->serial);
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

void TrxCatModelSetTransmitHook(TrxCatModel* m, std::function<void(bool)> hook) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->hook = std::move(hook);
}

bool TrxCatModelTransmitting(TrxCatModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->transmitting;
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
    SerialModelWake(&m->serial);
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
