// The amplifier microcontroller model: command parser, replies, protection and heat.
#include "devsim/AmpModel.h"

#include "devsim/SerialModel.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>

namespace {

constexpr size_t kMaxCommand = 64;
constexpr size_t kMaxReceived = 10000;
constexpr size_t kMaxPending = 32;
constexpr int64_t kByteUs = 87; // 10 bits at 115200 baud
constexpr uint8_t kLatchBits = 0x27; // I OUT, REFL, FWD, input power
constexpr uint8_t kFilterBit = 0x10;
constexpr uint8_t kResetBit = 0x80;

// What the micro keeps in RAM: lost on a reset.
struct Settings {
    int antenna = 1;
    uint32_t tunerWord = 0;
    bool pad3 = false, pad2 = false;
    bool protection = true;
    bool bypass = false;
    int an = 0;
    std::array<int, 4> thresholds{4095, 4095, 4095, 4095};
    int fan = 0;
    int filterMask = 0;
    long long faHz = 0;
    std::string generalSettings = "0000000000";
};

struct Electrical {
    bool tx = false, amplifying = false, standby = false;
    double hz = 0, inW = 0, fwdW = 0, reflW = 0, amps = 0, dissW = 0;
    AmpZ z;
};

bool allOf(const std::string& s, size_t from, size_t n, const char* set) {
    if (s.size() != from + n)
        return false;
    for (size_t i = from; i < s.size(); i++)
        if (!std::strchr(set, s[i]))
            return false;
    return true;
}

const char* const kDigits = "0123456789";

std::string hexText(const std::string& text) {
    std::string out;
    char b[3];
    for (size_t i = 0; i < 32; i++) {
        unsigned v = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        std::snprintf(b, sizeof b, "%02X", v);
        out += b;
    }
    return out;
}

} // namespace

struct AmpModel {
    std::mutex mu;
    AmpModelConfig cfg;
    SerialModel serial;

    Settings set;
    double driveW = 0;
    int testHz = 0;
    bool programming = false, highSwr = false, wasReset = false;
    uint8_t faults = 0; // latched and test-set bits
    uint8_t extra1 = 0, extra2 = 0;

    double temp[2] = {25, 25};
    bool tempForced = false;
    double dissW = 0;
    int64_t heatUs = 0;

    AmpAnswer answer = AmpAnswer::Normal;
    int lateMs = 0, answerCount = -1;
    SerialTexts texts;
    std::deque<AmpReceived> received;
    std::mt19937 rng{20260417};
};

namespace {

double satWatts(const AmpModelConfig& c) {
    if (c.saturationW > 0)
        return c.saturationW;
    return c.model120W ? 132 : 66;
}

double frequencyLocked(const AmpModel* m) {
    if (m->testHz > 0)
        return m->testHz;
    if (m->set.faHz > 0)
        return static_cast<double>(m->set.faHz);
    return m->cfg.defaultHz;
}

AmpZ inputImpedanceLocked(const AmpModel* m, double hz) {
    const AmpAntenna& ant = m->cfg.antennas[std::clamp(m->set.antenna, 1, 3) - 1];
    return AmpTunerInputImpedance(m->cfg.tuner, m->set.tunerWord, AmpAntennaImpedance(ant, hz),
                                  hz);
}

bool latchedLocked(const AmpModel* m) { return (m->faults & kLatchBits) || m->highSwr; }

Electrical electricalLocked(const AmpModel* m) {
    const AmpModelConfig& c = m->cfg;
    Electrical e;
    e.hz = frequencyLocked(m);
    e.z = inputImpedanceLocked(m, e.hz);
    e.standby = m->set.bypass || latchedLocked(m);
    e.tx = m->driveW > 0 && !m->programming;
    if (!e.tx)
        return e;
    double g2 = AmpGamma2(e.z);
    if (e.standby) {
        // Straight through: pads, stage and filters are out of the path.
        e.inW = e.fwdW = m->driveW;
        e.reflW = e.fwdW * g2;
        return e;
    }
    double padDb = (m->set.pad3 ? 3 : 0) + (m->set.pad2 ? 2 : 0);
    e.amplifying = true;
    e.inW = m->driveW * std::pow(10.0, -padDb / 10);
    e.fwdW = AmpOutputWatts(e.inW, c.gainDb, satWatts(c));
    e.reflW = e.fwdW * g2;
    e.amps = c.quiescentA + e.fwdW / (c.efficiency * c.supplyV);
    // Reflected power comes back into the stage and ends up as heat too.
    e.dissW = c.supplyV * e.amps - e.fwdW + e.reflW;
    return e;
}

uint8_t liveFaultsLocked(const AmpModel* m, const Electrical& e) {
    if (!e.amplifying)
        return 0;
    if (m->set.filterMask == 0)
        return kFilterBit;
    for (int i = 0; i < 8; i++)
        if ((m->set.filterMask & (1 << i)) && m->cfg.filterCutoffHz[i] > 0 &&
            m->cfg.filterCutoffHz[i] < e.hz)
            return kFilterBit;
    return 0;
}

void protectLocked(AmpModel* m, const Electrical& e) {
    if (!m->set.protection || !e.amplifying)
        return;
    const AmpModelConfig& c = m->cfg;
    const auto& th = m->set.thresholds;
    if (AmpCurrentCount(e.amps) > th[3])
        m->faults |= 0x01;
    if (AmpReflCount(e.reflW, e.fwdW, c.kRefl, c.kDir) > th[2])
        m->faults |= 0x02;
    if (AmpPowerCount(e.fwdW, c.kFwd) > th[1])
        m->faults |= 0x04;
    if (m->set.an == 1 && AmpPowerCount(e.inW, c.kIn) > th[0])
        m->faults |= 0x20;
    if (e.fwdW > 5 && AmpSwrOf(e.z) > 3)
        m->highSwr = true;
}

// Runs the heat model up to now with the dissipation of the interval just ended.
void advanceHeatLocked(AmpModel* m, int64_t nowUs) {
    const AmpModelConfig& c = m->cfg;
    double dt = (nowUs - m->heatUs) / 1e6 * c.thermalTimeScale;
    m->heatUs = nowUs;
    if (m->tempForced || dt <= 0)
        return;
    double fan = std::clamp(m->set.fan, 0, 100) / 100.0;
    double rth = 1 / (1 / c.rthStill + fan * (1 / c.rthFan - 1 / c.rthStill));
    for (int i = 0; i < 2; i++) {
        double share = i ? c.sensor2Share : 1.0;
        double tau = rth * c.heatCapacity * (i ? c.sensor2Lag : 1.0);
        double target = c.ambientC + m->dissW * rth * share;
        m->temp[i] += (target - m->temp[i]) * (1 - std::exp(-dt / tau));
    }
}

// Brings heat, trips and dissipation up to date; call before and after any change.
Electrical updateLocked(AmpModel* m) {
    advanceHeatLocked(m, plat_mono_us());
    Electrical e = electricalLocked(m);
    bool was = latchedLocked(m);
    protectLocked(m, e);
    if (latchedLocked(m) != was)
        e = electricalLocked(m);
    m->dissW = e.dissW;
    return e;
}

std::string statusLocked(AmpModel* m) {
    const AmpModelConfig& c = m->cfg;
    Electrical e = updateLocked(m);
    unsigned s1 = (m->set.pad2 ? 4u : 0u) | (m->set.pad3 ? 8u : 0u) | (m->extra1 & 0xFu);
    unsigned s2 = (e.tx ? 1u : 0u) | (m->highSwr ? 2u : 0u) | (latchedLocked(m) ? 4u : 0u) |
                  (e.standby ? 8u : 0u) | (m->extra2 & 0xFu);
    unsigned fault = m->faults | liveFaultsLocked(m, e);
    int fwd = AmpPowerCount(e.fwdW, c.kFwd);
    int refl = e.tx ? AmpReflCount(e.reflW, e.fwdW, c.kRefl, c.kDir) : 0;
    char b[48];
    int n = std::snprintf(b, sizeof b, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X00%04d;", s1, s2,
                          AmpPowerCount(e.inW, c.kIn), fwd, refl, AmpCurrentCount(e.amps),
                          AmpThermistorCount(m->temp[0]), AmpThermistorCount(m->temp[1]),
                          fault & 0xFu, fault >> 4, fwd);
    return n == 37 ? std::string(b) : std::string("ST?;");
}

std::string executeLocked(AmpModel* m, const std::string& cmd) {
    std::string op = cmd.substr(0, 2), arg = cmd.substr(2);
    std::string echo = cmd + ";", reject = op + "?;";
    Settings& s = m->set;
    char b[96];
    if (op == "VS" && arg == "M") {
        std::string v = m->cfg.version;
        v.resize(7, '0');
        return "VS" + v + ";";
    }
    if (op == "ST" && arg.empty())
        return statusLocked(m);
    if (op == "SA" && allOf(arg, 0, 1, "123")) {
        s.antenna = arg[0] - '0';
        return echo;
    }
    if (op == "FM" && arg.empty()) {
        Electrical e = electricalLocked(m);
        std::snprintf(b, sizeof b, "FM%011lld;", e.tx ? std::llround(e.hz) : 0LL);
        return b;
    }
    if (op == "FA" && allOf(arg, 0, 11, kDigits)) {
        s.faHz = std::stoll(arg);
        return echo;
    }
    if (op == "MT" && arg.empty()) {
        std::snprintf(b, sizeof b, "MT1%08X;", s.tunerWord);
        return b;
    }
    if (op == "MT" && !arg.empty() && arg[0] == '1' && allOf(arg, 1, 8, "0123456789ABCDEF")) {
        s.tunerWord = static_cast<uint32_t>(std::stoul(arg.substr(1), nullptr, 16));
        return echo;
    }
    if (op == "FS" && allOf(arg, 0, 5, kDigits))
        return echo;
    if (op == "CP" && arg == "FFFF") {
        m->faults = 0;
        m->highSwr = false;
        m->wasReset = false;
        return echo;
    }
    if (op == "AT" && allOf(arg, 0, 2, "01")) {
        s.pad3 = arg[0] == '1';
        s.pad2 = arg[1] == '1';
        return echo;
    }
    if (op == "MP" && allOf(arg, 0, 1, "01")) {
        s.protection = arg[0] == '1';
        return echo;
    }
    if (op == "AB" && allOf(arg, 0, 1, "01")) {
        s.bypass = arg[0] == '1';
        return echo;
    }
    if (op == "AN" && allOf(arg, 0, 1, kDigits)) {
        s.an = arg[0] - '0';
        return echo;
    }
    if (op == "TS" && allOf(arg, 0, 16, kDigits)) {
        for (int i = 0; i < 4; i++)
            s.thresholds[i] = std::stoi(arg.substr(i * 4, 4));
        return echo;
    }
    if (op == "FN" && !arg.empty() && arg[0] == '1' && allOf(arg, 1, 3, kDigits) &&
        std::stoi(arg.substr(1)) <= 100) {
        s.fan = std::stoi(arg.substr(1));
        return echo;
    }
    if ((op == "PS" && allOf(arg, 0, 16, kDigits)) || (op == "GM" && allOf(arg, 0, 8, kDigits)))
        return echo;
    if (op == "SF" && arg.rfind("30000", 0) == 0 && allOf(arg, 5, 2, "0123456789abcdef")) {
        s.filterMask = std::stoi(arg.substr(5), nullptr, 16);
        return echo;
    }
    if (op == "MR" && arg == "1") {
        m->programming = true; // the bootloader takes over: no replies from now on
        return "";
    }
    if (op == "MR" && arg == "0")
        return m->wasReset ? "MR0;" : "MR1;";
    if (op == "GS" && arg.empty())
        return "GS" + s.generalSettings + ";";
    if (op == "GS" && arg.size() == 10) {
        s.generalSettings = arg;
        return echo;
    }
    if (op == "ER" && (arg == "0000" || arg == "0001")) {
        std::string hw = m->cfg.hardwareText;
        if (hw.empty())
            hw = m->cfg.model120W ? "HW rev C 120W" : "HW rev C 60W";
        return "ER" + arg + hexText(arg == "0000" ? m->cfg.serialText : hw) + ";";
    }
    if (op == "ER" && arg == "0002") {
        std::snprintf(b, sizeof b, "ER0002%02X%02X;", m->cfg.usa ? '1' : '0',
                      m->cfg.model120W ? '1' : '0');
        return b;
    }
    return reject;
}

void commandLocked(AmpModel* m, const std::string& cmd) {
    m->received.push_back({plat_mono_ms(), cmd + ";"});
    if (m->received.size() > kMaxReceived)
        m->received.pop_front();
    if (m->programming || cmd.size() < 2)
        return;
    AmpAnswer mode = m->answer;
    if (m->answerCount > 0 && --m->answerCount == 0)
        m->answer = AmpAnswer::Normal;
    int64_t turnaroundUs = 1000 + static_cast<int64_t>(m->rng() % 2000);
    switch (mode) {
    case AmpAnswer::Normal:
    case AmpAnswer::Late: {
        updateLocked(m);
        std::string reply = executeLocked(m, cmd);
        updateLocked(m);
        int64_t delayUs = mode == AmpAnswer::Late ? m->lateMs * 1000LL : turnaroundUs;
        SerialModelReplyLocked(&m->serial, std::move(reply), delayUs);
        break;
    }
    case AmpAnswer::Reject:
        SerialModelReplyLocked(&m->serial, cmd.substr(0, 2) + "?;", turnaroundUs);
        break;
    case AmpAnswer::Noise: {
        std::string junk(4 + m->rng() % 12, ' ');
        for (char& ch : junk) {
            ch = static_cast<char>(m->rng() & 0xFF);
            if (ch == ';')
                ch = ':';
        }
        SerialModelReplyLocked(&m->serial, junk, turnaroundUs);
        break;
    }
    case AmpAnswer::Silent:
        break;
    }
}

void feedLocked(AmpModel* m, const char* data, size_t n) {
    auto take = [m](const std::string& cmd) { commandLocked(m, cmd); };
    SerialTextsFeed(&m->texts, kMaxCommand, data, n, take);
}

} // namespace

AmpModel* AmpModelStart(const std::string& linkPath, const AmpModelConfig& cfg) {
    auto* m = new AmpModel;
    m->cfg = cfg;
    m->temp[0] = m->temp[1] = cfg.ambientC;
    m->heatUs = plat_mono_us();
    if (!SerialModelStart(&m->serial, linkPath, &m->mu, kByteUs, kMaxPending,
                          [m](const char* data, size_t n) { feedLocked(m, data, n); })) {
        delete m;
        return nullptr;
    }
    return m;
}

void AmpModelStop(AmpModel* m) {
    if (!m)
        return;
    SerialModelStop(&m->serial);
    delete m;
}

namespace {
// Applies a change between two updates, so heat and trips see it at the right moment.
template <class F> void mutate(AmpModel* m, F f) {
    std::lock_guard<std::mutex> lock(m->mu);
    updateLocked(m);
    f();
    updateLocked(m);
}
} // namespace

void AmpModelSetDrive(AmpModel* m, float watts) {
    mutate(m, [&] { m->driveW = std::max(0.0f, watts); });
}

void AmpModelSetFrequency(AmpModel* m, int hz) {
    mutate(m, [&] { m->testHz = std::max(0, hz); });
}

void AmpModelSetAntenna(AmpModel* m, int index, const AmpAntenna& a) {
    if (index < 1 || index > 3)
        return;
    mutate(m, [&] { m->cfg.antennas[index - 1] = a; });
}

void AmpModelSetTemperatures(AmpModel* m, float t1, float t2) {
    mutate(m, [&] {
        m->tempForced = true;
        m->temp[0] = t1;
        m->temp[1] = t2;
    });
}

void AmpModelReleaseTemperatures(AmpModel* m) {
    mutate(m, [&] { m->tempForced = false; });
}

void AmpModelSetFaultBits(AmpModel* m, uint8_t bits) {
    mutate(m, [&] { m->faults |= bits; });
}

void AmpModelClearFaultBits(AmpModel* m, uint8_t bits) {
    mutate(m, [&] { m->faults &= static_cast<uint8_t>(~bits); });
}

void AmpModelSetStatusBits(AmpModel* m, uint8_t byte1, uint8_t byte2) {
    mutate(m, [&] {
        m->extra1 = byte1 & 0xF;
        m->extra2 = byte2 & 0xF;
    });
}

void AmpModelMicroReset(AmpModel* m) {
    mutate(m, [&] {
        m->set = Settings{};
        m->programming = false;
        m->highSwr = false;
        m->faults = kResetBit;
        m->wasReset = true;
        SerialTextsReset(&m->texts);
        SerialModelClearLocked(&m->serial);
    });
}

void AmpModelSetAnswer(AmpModel* m, AmpAnswer mode, int lateMs, int count) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->answer = count == 0 ? AmpAnswer::Normal : mode;
    m->lateMs = std::max(0, lateMs);
    m->answerCount = count;
}

std::vector<AmpReceived> AmpModelReceived(AmpModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return {m->received.begin(), m->received.end()};
}

void AmpModelClearReceived(AmpModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->received.clear();
}

AmpModelState AmpModelGetState(AmpModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    Electrical e = updateLocked(m);
    AmpModelState st;
    st.transmitting = e.tx;
    st.amplifying = e.amplifying;
    st.standby = e.standby;
    st.bypass = m->set.bypass;
    st.protection = m->set.protection;
    st.programming = m->programming;
    st.highSwr = m->highSwr;
    st.wasReset = m->wasReset;
    st.antenna = m->set.antenna;
    st.fan = m->set.fan;
    st.attenuatorDb = (m->set.pad3 ? 3 : 0) + (m->set.pad2 ? 2 : 0);
    st.filterMask = m->set.filterMask;
    st.an = m->set.an;
    st.tunerWord = m->set.tunerWord;
    st.thresholds = m->set.thresholds;
    st.faults = static_cast<uint8_t>(m->faults | liveFaultsLocked(m, e));
    st.hz = e.hz;
    st.inW = static_cast<float>(e.inW);
    st.fwdW = static_cast<float>(e.fwdW);
    st.reflW = static_cast<float>(e.reflW);
    st.amps = static_cast<float>(e.amps);
    st.swr = static_cast<float>(AmpSwrOf(e.z));
    st.t1 = static_cast<float>(m->temp[0]);
    st.t2 = static_cast<float>(m->temp[1]);
    st.generalSettings = m->set.generalSettings;
    return st;
}

uint32_t AmpModelTunerWord(AmpModel* m) { return AmpModelGetState(m).tunerWord; }
float AmpModelSwr(AmpModel* m) { return AmpModelGetState(m).swr; }
int AmpModelAntenna(AmpModel* m) { return AmpModelGetState(m).antenna; }
int AmpModelFan(AmpModel* m) { return AmpModelGetState(m).fan; }
bool AmpModelBypass(AmpModel* m) { return AmpModelGetState(m).bypass; }
int AmpModelAttenuator(AmpModel* m) { return AmpModelGetState(m).attenuatorDb; }
std::array<int, 4> AmpModelThresholds(AmpModel* m) { return AmpModelGetState(m).thresholds; }
bool AmpModelProgramming(AmpModel* m) { return AmpModelGetState(m).programming; }
