// Reading and writing /opt/set/setup.txt.
//
// The 67 keys are described once, in file order, by `kKeys`: how a value is
// read into the record and Works, how it is logged, and how it is regenerated
// and written back. Reading compares each line with "Key: " in table order;
// writing emits the table in order.
#include "core/Setup.h"

#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/TextFile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

enum class Kind {
    Char,   // one character, stored as is
    Digit,  // one character, and character - '0' into a Works field
    Text,   // text copied whole
    Number, // text, and a decimal integer into a Works field
    Port,   // TcpPort: the 16-bit Works field only
};

struct KeyDef {
    const char* key;
    Kind kind;
    Flag& (*flag)(SetupRecord&);   // Char, Digit
    TextRef (*text)(SetupRecord&); // Text, Number
    // Char: called with the character; Digit: with character - '0' (digits only);
    // Number/Port: with the parsed integer.
    void (*apply)(Works*, long);
    // Value written back: Digit: the number (written as number + '0'); Number: the
    // integer regenerated into the record's text; Port and "%d" keys: the integer.
    long (*regen)(Works*);
    // Number keys whose line is "%d" from Works rather than the record text.
    bool writeFromWorks;
    // Number keys logged as "-%d-" with regen(); the others are logged as "-%s-".
    bool logInt;
    // Values the hardware or a command's digits can take (Digit: the number);
    // another is refused with a log line and the old value kept.
    long lo = LONG_MIN;
    long hi = LONG_MAX;
};

#define FLAG(f) [](SetupRecord& r) -> Flag& { return r.f; }
#define TEXT(f) [](SetupRecord& r) { return r.f.ref(); }
#define APPLY(body) [](Works* w, long v) { (void)w, (void)v; body; }
#define REGEN(expr) [](Works* w) -> long { (void)w; return static_cast<long>(expr); }

// The audio block is `Multiplier` x 240 frames. Opus takes only blocks of 1, 2,
// 4, 8 or 12 times 240 frames, and the receive buffer of the remote link holds
// the largest of them: another value is refused for the nearest of these (the
// smaller on a tie), and the file keeps what the operator wrote.
constexpr long kMultipliers[] = {1, 2, 4, 8, 12};
long audioBlockFrames(long multiplier) {
    long best = kMultipliers[0];
    for (long m : kMultipliers)
        if (std::labs(m - multiplier) < std::labs(best - multiplier))
            best = m;
    if (best != multiplier)
        LogErr("Multiplier %ld is not 1, 2, 4, 8 or 12: %ld used", multiplier, best);
    return best * 240;
}

// Values kept as tenths or hundredths are written back rounded to the nearest
// unit: truncation would turn 2.51 into 250 hundredths after a float round trip.
long scaled(double v, double k) { return std::lround(v * k); }

const KeyDef kKeys[] = {
    {"EnableKeyb", Kind::Char, FLAG(EnableKeyb), nullptr, nullptr, nullptr, false, false},
    {"EnableSpi", Kind::Char, FLAG(EnableSpi), nullptr, nullptr, nullptr, false, false},
    {"EnableTouch", Kind::Char, FLAG(EnableTouch), nullptr, nullptr, nullptr, false, false},
    {"DelayedTouch", Kind::Char, FLAG(DelayedTouch), nullptr, nullptr, nullptr, false, false},
    {"EnableGPIO", Kind::Char, FLAG(EnableGPIO), nullptr, nullptr, nullptr, false, false},
    {"EnableRead", Kind::Char, FLAG(EnableRead), nullptr, nullptr, nullptr, false, false},
    {"EnableWrite", Kind::Char, FLAG(EnableWrite), nullptr, nullptr, nullptr, false, false},
    {"EnableCAT", Kind::Char, FLAG(EnableCAT), nullptr, nullptr, nullptr, false, false},
    {"EnableLinear", Kind::Char, FLAG(EnableLinear), nullptr, nullptr, nullptr, false, false},
    {"EnableTime", Kind::Char, FLAG(EnableTime), nullptr, nullptr, nullptr, false, false},
    {"WebSocket", Kind::Char, FLAG(WebSocket), nullptr, nullptr, nullptr, false, false},
    {"Pitch", Kind::Text, nullptr, TEXT(Pitch), nullptr, nullptr, false, false},
    {"Quality", Kind::Text, nullptr, TEXT(Quality), nullptr, nullptr, false, false},
    {"AudioIn", Kind::Text, nullptr, TEXT(AudioIn), nullptr, nullptr, false, false},
    {"InChannels", Kind::Text, nullptr, TEXT(InChannels), nullptr, nullptr, false, false},
    {"AudioCompress", Kind::Number, nullptr, TEXT(AudioCompress),
     APPLY(w->audioBitrate = static_cast<int>(v)), REGEN(w->audioBitrate), true, true},
    {"Multiplier", Kind::Number, nullptr, TEXT(Multiplier),
     APPLY(w->audioMultiplier = static_cast<int>(audioBlockFrames(v))), nullptr, false, false},
    {"AudioOut", Kind::Text, nullptr, TEXT(AudioOut), nullptr, nullptr, false, false},
    {"Server", Kind::Text, nullptr, TEXT(Server), nullptr, nullptr, false, false},
    {"TcpPort", Kind::Port, nullptr, nullptr, APPLY(w->tcpPort = static_cast<int16_t>(v)),
     REGEN(static_cast<uint16_t>(w->tcpPort.load())), true, true},
    {"CatPort", Kind::Text, nullptr, TEXT(CatPort), nullptr, nullptr, false, false},
    {"SerPort", Kind::Text, nullptr, TEXT(SerPort), nullptr, nullptr, false, false},
    {"LinPort", Kind::Text, nullptr, TEXT(LinPort), nullptr, nullptr, false, false},
    {"NumAntenna", Kind::Char, FLAG(NumAntenna), nullptr,
     // Three antenna outputs: another character keeps the antenna in use.
     APPLY(if (v >= '1' && v <= '3') w->antennaIdx = static_cast<int>(v - '1')),
     REGEN(w->antennaIdx), false, false},
    {"EnablePwrPeak", Kind::Digit, FLAG(EnablePwrPeak), nullptr,
     APPLY(w->pwrPeakEnabled = static_cast<uint8_t>(v)), REGEN(w->pwrPeakEnabled), false, false},
    {"TempMode", Kind::Digit, FLAG(TempMode), nullptr,
     APPLY(w->tempMode = static_cast<uint8_t>(v)), REGEN(w->tempMode), false, false},
    {"FreqSensIn", Kind::Digit, FLAG(FreqSensIn), nullptr,
     APPLY(w->freqSensIn = static_cast<uint8_t>(v)), REGEN(w->freqSensIn), false, false},
    {"FreqPeriodTime", Kind::Number, nullptr, TEXT(FreqPeriodTime),
     APPLY(w->freqPeriod = static_cast<int>(v)), REGEN(w->freqPeriod), false, true, 0, 9999},
    {"Attenuator", Kind::Digit, FLAG(Attenuator), nullptr,
     APPLY(w->attenuator = static_cast<uint8_t>(v)), REGEN(w->attenuator), false, false, 0, 3},
    {"AttenuatorTune", Kind::Digit, FLAG(AttenuatorTune), nullptr,
     APPLY(w->attenuatorTune = static_cast<uint8_t>(v)), REGEN(w->attenuatorTune), false, false, 0, 3},
    {"SWRescAutoTune", Kind::Number, nullptr, TEXT(SWRescAutoTune),
     APPLY(w->swrEscAutoTune = static_cast<float>(v / 100.0)),
     REGEN(scaled(w->swrEscAutoTune, 100.0)), false, true},
    {"ViewTimeStr", Kind::Digit, FLAG(ViewTimeStr), nullptr,
     APPLY(w->viewTimeStr = static_cast<uint8_t>(v)), REGEN(w->viewTimeStr), false, false},
    {"ViewTemp", Kind::Digit, FLAG(ViewTemp), nullptr,
     APPLY(w->viewTemp = static_cast<uint8_t>(v)), REGEN(w->viewTemp), false, false},
    {"MaxTemperature", Kind::Number, nullptr, TEXT(MaxTemperature),
     APPLY(w->maxTemperature = static_cast<float>(v / 10.0)),
     REGEN(scaled(w->maxTemperature, 10.0)), false, true},
    {"AutoTuneMaxCicli", Kind::Digit, FLAG(AutoTuneMaxCicli), nullptr,
     APPLY(w->autoTuneMaxCycles = static_cast<uint8_t>(v)), REGEN(w->autoTuneMaxCycles), false,
     false},
    {"PowerUnits", Kind::Digit, FLAG(PowerUnits), nullptr,
     APPLY(w->powerUnits = static_cast<uint8_t>(v)), REGEN(w->powerUnits), false, false},
    {"SaveScreenIdx", Kind::Digit, FLAG(SaveScreenIdx), nullptr,
     APPLY(w->saveScreenIdx = static_cast<uint8_t>(v)), REGEN(w->saveScreenIdx), false, false},
    {"AutoTuneMode", Kind::Digit, FLAG(AutoTuneMode), nullptr,
     APPLY(w->tuneModeFlags.change(static_cast<uint8_t>(~0x04u), static_cast<uint8_t>(v))),
     REGEN(w->tuneModeFlags.load() & 1), false,
     false},
    {"EnableFFT", Kind::Char, FLAG(EnableFFT), nullptr, nullptr, nullptr, false, false},
    {"Divide", Kind::Number, nullptr, TEXT(Divide), APPLY(w->divide = static_cast<int>(v)),
     REGEN(w->divide), true, true, kDivideMin, kDivideMax},
    {"MaxTempAllowed", Kind::Number, nullptr, TEXT(MaxTempAllowed),
     APPLY(w->maxTempAllowed = static_cast<int>(v)), REGEN(w->maxTempAllowed), false, true},
    {"PSpar1", Kind::Number, nullptr, TEXT(PSpar1), APPLY(w->psPar[0] = static_cast<int>(v)),
     REGEN(w->psPar[0]), false, true, 0, 9999},
    {"PSpar2", Kind::Number, nullptr, TEXT(PSpar2), APPLY(w->psPar[1] = static_cast<int>(v)),
     REGEN(w->psPar[1]), false, true, 0, 9999},
    {"Isteresi1", Kind::Digit, FLAG(Isteresi1), nullptr,
     APPLY(w->hysteresis1 = static_cast<int>(v)), REGEN(w->hysteresis1), false, false},
    {"Isteresi2", Kind::Digit, FLAG(Isteresi2), nullptr,
     APPLY(w->hysteresis2 = static_cast<int>(v)), REGEN(w->hysteresis2), false, false},
    {"PSpar3", Kind::Number, nullptr, TEXT(PSpar3), APPLY(w->psPar[2] = static_cast<int>(v)),
     REGEN(w->psPar[2]), false, true, 0, 9999},
    {"PSpar4", Kind::Number, nullptr, TEXT(PSpar4), APPLY(w->psPar[3] = static_cast<int>(v)),
     REGEN(w->psPar[3]), false, true, 0, 9999},
    {"OffsetPlot", Kind::Number, nullptr, TEXT(OffsetPlot), APPLY(w->plotOffset = v / 10.0),
     REGEN(scaled(w->plotOffset, 10.0)), false, false},
    {"CatSerialPort", Kind::Text, nullptr, TEXT(CatSerialPort), nullptr, nullptr, false, false},
    {"TUNEenabled", Kind::Number, nullptr, TEXT(TUNEenabled),
     APPLY(w->tuneEnabled = static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF))),
     REGEN(static_cast<uint8_t>(w->tuneEnabled.load())), false, true},
    {"NumBanco", Kind::Number, nullptr, TEXT(NumBanco), APPLY(w->NumBanco = static_cast<int>(v)),
     REGEN(w->NumBanco), false, true, 0, 19},
    {"GMpar1", Kind::Number, nullptr, TEXT(GMpar1), APPLY(w->gmPar[0] = static_cast<int>(v)),
     REGEN(w->gmPar[0]), false, true, 0, 9999},
    {"GMpar2", Kind::Number, nullptr, TEXT(GMpar2), APPLY(w->gmPar[1] = static_cast<int>(v)),
     REGEN(w->gmPar[1]), false, true, 0, 9999},
    {"Peak_media", Kind::Number, nullptr, TEXT(Peak_media),
     APPLY(fattoremedia = static_cast<int>(v)), REGEN(fattoremedia), false, true},
    {"Peak_ValDec", Kind::Number, nullptr, TEXT(Peak_ValDec), APPLY(PeakDecrement = v / 10.0),
     REGEN(scaled(PeakDecrement, 10.0)), false, true},
    {"Peak_TimeDec", Kind::Number, nullptr, TEXT(Peak_TimeDec),
     APPLY(PeakDecrementTime = static_cast<int>(v)), REGEN(PeakDecrementTime), false, true},
    {"Peak_Time", Kind::Number, nullptr, TEXT(Peak_Time),
     APPLY(TimerPeakSec = static_cast<int>(v)), REGEN(TimerPeakSec), false, true},
    {"MAXbank", Kind::Number, nullptr, TEXT(MAXbank), APPLY(w->MAXbank = static_cast<int>(v)),
     REGEN(w->MAXbank), false, true, 1, 20},
    {"BTN_longpress_Time", Kind::Number, nullptr, TEXT(BTN_longpress_Time),
     APPLY(TIME_LONG_PRESS = v / 10.0), REGEN(scaled(TIME_LONG_PRESS, 10.0)), false, false},
    {"EnableDebug", Kind::Digit, FLAG(EnableDebug), nullptr,
     APPLY(w->debugEnabled = static_cast<uint8_t>(v)), REGEN(w->debugEnabled), false, false},
    {"Enable1600", Kind::Char, FLAG(Enable1600), nullptr, nullptr, nullptr, false, false},
    {"EnableLOGTemp", Kind::Digit, FLAG(EnableLOGTemp), nullptr,
     APPLY(w->logTempEnabled = static_cast<uint8_t>(v)), REGEN(w->logTempEnabled), false, false},
    {"RemotePlain", Kind::Char, FLAG(RemotePlain), nullptr, nullptr, nullptr, false, false},
    {"HamlibModel", Kind::Number, nullptr, TEXT(HamlibModel),
     APPLY(w->hamlibModel = static_cast<int>(v)), REGEN(w->hamlibModel), false, true, 1, 99999},
    {"HamlibPort", Kind::Text, nullptr, TEXT(HamlibPort), nullptr, nullptr, false, false},
    {"HamlibSpeed", Kind::Number, nullptr, TEXT(HamlibSpeed),
     APPLY(w->hamlibSpeed = static_cast<int>(v)), REGEN(w->hamlibSpeed), false, true, 0, 921600},
    {"HamlibPoll", Kind::Number, nullptr, TEXT(HamlibPoll),
     APPLY(w->hamlibPollMs = static_cast<int>(v)), REGEN(w->hamlibPollMs), false, true, 20, 60000},
    {"WebPort", Kind::Number, nullptr, TEXT(WebPort), APPLY(w->webPort = static_cast<int>(v)),
     REGEN(w->webPort), false, true, 0, 65535},
    {"GpioChip", Kind::Text, nullptr, TEXT(GpioChip), nullptr, nullptr, false, false},
};

#undef FLAG
#undef TEXT
#undef APPLY
#undef REGEN

static_assert(sizeof kKeys / sizeof kKeys[0] == 69, "the setup file has 69 lines");

// A decimal integer with an optional sign and trailing blanks; false otherwise.
bool parseDecimal(const char* s, long* out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (end == s || errno == ERANGE || v > INT_MAX || v < INT_MIN)
        return false;
    while (*end == ' ' || *end == '\t')
        end++;
    if (*end != '\0')
        return false;
    *out = v;
    return true;
}

bool inRange(const KeyDef& k, long v, const char* value) {
    if (v >= k.lo && v <= k.hi)
        return true;
    LogErr("setup: %s value %s is not within %ld..%ld: kept", k.key, value, k.lo, k.hi);
    return false;
}

void storeValue(Works* w, SetupRecord* r, const KeyDef& k, const char* value) {
    switch (k.kind) {
    case Kind::Char:
    case Kind::Digit: {
        // A carriage return would be written back as the line's end and read
        // again as no value: it is no value now.
        char c = value[0] == '\r' ? '\0' : value[0];
        const bool digit = c >= '0' && c <= '9';
        if (k.kind == Kind::Digit && digit && !inRange(k, c - '0', value))
            break;
        k.flag(*r) = c;
        if (k.kind == Kind::Char && k.apply)
            k.apply(w, c);
        if (k.kind == Kind::Digit && digit)
            k.apply(w, c - '0');
        // The spectrum source follows EnableFFT; any Enable1600 line forces the
        // USB receiver.
        if (std::strcmp(k.key, "EnableFFT") == 0)
            r->usbSpectrum = c;
        if (std::strcmp(k.key, "Enable1600") == 0)
            r->usbSpectrum = '1';
        break;
    }
    case Kind::Text:
    case Kind::Number: {
        TextRef t = k.text(*r);
        const size_t len = std::strlen(value);
        long v;
        const bool number = k.kind == Kind::Number && parseDecimal(value, &v);
        if (number && !inRange(k, v, value))
            break;
        // A number written back from its text would lose the digits that do
        // not fit: refused whole, as a value the field cannot hold.
        if (number && !k.writeFromWorks && len > t.n - 1) {
            LogErr("setup: %s value %s is longer than its field: kept", k.key, value);
            break;
        }
        size_t keep = len < t.n - 1 ? len : t.n - 1;
        if (keep < len)
            LogErr("setup: value of %s cut to %zu characters", k.key, t.n - 1);
        // Nor may a cut leave a carriage return last, which the next read
        // would take for the line's end.
        while (keep > 0 && value[keep - 1] == '\r')
            keep--;
        t.setN(value, keep);
        if (number && k.apply)
            k.apply(w, v);
        if (std::strcmp(k.key, "Server") == 0)
            w->serverAddr.set(value);
        break;
    }
    case Kind::Port: {
        long v;
        if (parseDecimal(value, &v))
            k.apply(w, v);
        break;
    }
    }
}

// The longest value a key holds (HamlibPort), with its terminator.
constexpr size_t kValueMax = 128;

void logValue(Works* w, SetupRecord* r, const KeyDef& k) {
    char text[kValueMax];
    switch (k.kind) {
    case Kind::Char:
    case Kind::Digit:
        LogInfo("%s: -%c-", k.key, k.flag(*r).load());
        break;
    case Kind::Text:
        k.text(*r).copyTo(text, sizeof text);
        LogInfo("%s: -%s-", k.key, text);
        break;
    case Kind::Number:
        k.text(*r).copyTo(text, sizeof text);
        if (std::strcmp(k.key, "Divide") == 0)
            LogInfo("%s: -%s- -%d-", k.key, text, static_cast<int>(k.regen(w)));
        else if (std::strcmp(k.key, "TUNEenabled") == 0)
            LogInfo("%s: -%i-", k.key, static_cast<int>(w->tuneEnabled.load()));
        else if (k.logInt)
            LogInfo("%s: -%d-", k.key, static_cast<int>(k.regen(w)));
        else
            LogInfo("%s: -%s-", k.key, text);
        break;
    case Kind::Port:
        LogInfo("%s: -%d-", k.key, static_cast<int>(k.regen(w)));
        break;
    }
}

void fillText(TextRef t, const char* text) { t.set(text); }

} // namespace

namespace {
// Writers of /opt/set in progress. The remounts act on the whole partition, so
// the last writer out, not each one, makes it read-only again.
std::mutex g_setWritersMut;
int g_setWriters = 0;
} // namespace

bool RemountSetRw() {
    std::lock_guard<std::mutex> lock(g_setWritersMut);
    if (g_setWriters > 0) {
        g_setWriters++;
        return true;
    }
    errno = 0;
    if (plat_system(kRemountRw) != 0) {
        const int err = errno;
        LogErrOut("can't mount rw /opt/set/ error %d", err);
        return false;
    }
    g_setWriters = 1;
    return true;
}

int WriteSetFile(const char* path, const char* data, size_t len, mode_t forceMode) {
    if (FileHolds(path, data, len, forceMode))
        return 0;
    if (!RemountSetRw())
        return -1;
    const int err = WriteFileAtomic(path, data, len, forceMode);
    RemountSetRo();
    return err;
}

void RemountSetRo() {
    std::lock_guard<std::mutex> lock(g_setWritersMut);
    if (g_setWriters <= 0 || --g_setWriters > 0)
        return;
    errno = 0;
    if (plat_system(kRemountRo) != 0) {
        const int err = errno;
        LogErr("can't mount ro /opt/set/ error %d", err);
    }
}

void initSetup(Works* w) {
    InitSettingMirrors(w);

    SetupRecord* r = w->setup;
    // Every byte but the last becomes '1' (flags without a default are on, the
    // temperature-log flag is 0); texts end with their terminator so that no
    // text runs into the next field.
    for (const KeyDef& k : kKeys) {
        if (k.flag)
            k.flag(*r) = '1';
        if (k.text) {
            TextRef t = k.text(*r);
            for (size_t i = 0; i + 1 < t.n; i++)
                t.c[i].store('1', std::memory_order_relaxed);
            t.c[t.n - 1].store('\0', std::memory_order_relaxed);
        }
    }
    r->serialLinkEnabled = '1';
    r->usbSpectrum = '1';
    r->catSerialEnabled = '1';
    r->EnableLOGTemp = '\0';

    for (Flag* f : {&r->EnableSpi, &r->EnableTouch, &r->DelayedTouch, &r->EnableRead,
                    &r->EnableWrite, &r->EnableCAT, &r->EnablePwrPeak, &r->EnableFFT,
                    &r->TempMode, &r->FreqSensIn, &r->Attenuator, &r->AttenuatorTune,
                    &r->ViewTimeStr, &r->ViewTemp, &r->AutoTuneMaxCicli, &r->PowerUnits,
                    &r->SaveScreenIdx, &r->AutoTuneMode, &r->RemotePlain})
        *f = '0';
    r->WebSocket = '1';
    r->NumAntenna = '1';
    r->Isteresi1 = '3';
    r->Isteresi2 = '3';
    fillText(r->Pitch.ref(), "2500");
    fillText(r->Quality.ref(), "100");
    fillText(r->AudioIn.ref(), "hw:1");
    fillText(r->InChannels.ref(), "1");
    fillText(r->AudioCompress.ref(), "64000");
    fillText(r->Multiplier.ref(), "2");
    fillText(r->AudioOut.ref(), "hw:1");
    fillText(r->Server.ref(), "127.0.0.1");
    fillText(r->CatPort.ref(), "/dev/ttyUSB0");
    fillText(r->SerPort.ref(), "/dev/ttyUSB1");
    fillText(r->LinPort.ref(), "/dev/ttyAMA0");
    fillText(r->CatSerialPort.ref(), "/dev/ttyUSB1");
    fillText(r->FreqPeriodTime.ref(), "10");
    fillText(r->SWRescAutoTune.ref(), "0");
    fillText(r->MaxTemperature.ref(), "600");
    fillText(r->MaxTempAllowed.ref(), "700");
    fillText(r->PSpar1.ref(), "3");
    fillText(r->PSpar2.ref(), "150");
    fillText(r->PSpar3.ref(), "900");
    fillText(r->PSpar4.ref(), "100");
    fillText(r->OffsetPlot.ref(), "0");
    fillText(r->TUNEenabled.ref(), "0");
    fillText(r->NumBanco.ref(), "1");
    fillText(r->GMpar1.ref(), "2");
    fillText(r->GMpar2.ref(), "100");
    fillText(r->Peak_media.ref(), "2");
    fillText(r->Peak_ValDec.ref(), "10");
    fillText(r->Peak_TimeDec.ref(), "1");
    fillText(r->Peak_Time.ref(), "3000");
    fillText(r->MAXbank.ref(), "20");
    fillText(r->BTN_longpress_Time.ref(), "5");
    fillText(r->HamlibModel.ref(), "2");
    fillText(r->HamlibPort.ref(), "127.0.0.1:4532");
    fillText(r->HamlibSpeed.ref(), "0");
    fillText(r->HamlibPoll.ref(), "200");
    fillText(r->WebPort.ref(), "8443");
    fillText(r->GpioChip.ref(), "");
}

void readSetup(Works* w) {
    initSetup(w);
    SetupRecord* r = w->setup;

    // A save still queued is what the file will hold: a factory default reads
    // back the defaults it has just saved.
    std::string queued;
    FILE* f = StorageOpenRead(kSetupPath, &queued);
    if (!f) {
        LogOut("Init Setup!\n");
        writeSetup(w);
        LogErr("can't open /opt/set/setup.txt");
        return;
    }
    char line[kValueMax + 40];
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] == '\n')
            line[--len] = '\0';
        // A CR LF end, or a value that ended in carriage returns: the writer
        // ends every line with LF alone, so a value read again is the same.
        while (len > 0 && line[len - 1] == '\r')
            line[--len] = '\0';
        for (const KeyDef& k : kKeys) {
            size_t kl = std::strlen(k.key);
            if (std::strncmp(line, k.key, kl) == 0 && line[kl] == ':' && line[kl + 1] == ' ') {
                storeValue(w, r, k, line + kl + 2);
                break;
            }
        }
    }
    std::fclose(f);
    for (const KeyDef& k : kKeys)
        logValue(w, r, k);
}

int writeSetup(Works* w) {
    // F11 and the menus save from different threads: the file last written is
    // the record last read.
    static std::mutex oneSave;
    std::lock_guard<std::mutex> hold(oneSave);
    SetupRecord* r = w->setup;
    std::string out;
    out.reserve(2048);
    for (const KeyDef& k : kKeys) {
        char line[kValueMax + 40];
        char text[kValueMax];
        switch (k.kind) {
        case Kind::Char:
        case Kind::Digit: {
            if (k.regen) {
                long v = k.regen(w);
                k.flag(*r) = static_cast<char>(std::strcmp(k.key, "NumAntenna") == 0 ? v + '1'
                                                                                      : v + '0');
            }
            // An empty value was read as the terminator; it is written back empty.
            char c = k.flag(*r).load();
            if (c)
                std::snprintf(line, sizeof line, "%s: %c\n", k.key, c);
            else
                std::snprintf(line, sizeof line, "%s: \n", k.key);
            break;
        }
        case Kind::Text:
            k.text(*r).copyTo(text, sizeof text);
            std::snprintf(line, sizeof line, "%s: %s\n", k.key, text);
            break;
        case Kind::Number:
            if (k.writeFromWorks) {
                std::snprintf(line, sizeof line, "%s: %d\n", k.key, static_cast<int>(k.regen(w)));
            } else {
                if (k.regen) {
                    char num[24];
                    std::snprintf(num, sizeof num, "%ld", k.regen(w));
                    if (!k.text(*r).set(num))
                        LogErr("setup: %s value %s does not fit its field", k.key, num);
                }
                k.text(*r).copyTo(text, sizeof text);
                std::snprintf(line, sizeof line, "%s: %s\n", k.key, text);
            }
            break;
        case Kind::Port:
            std::snprintf(line, sizeof line, "%s: %d\n", k.key, static_cast<int>(k.regen(w)));
            break;
        }
        out += line;
    }

    // Written by the storage thread once it runs (0 here then): every try that
    // fails says so, as a write here would.
    const int err = StorageWrite(kSetupPath, std::move(out), 0, [](int e) {
        if (e > 0)
            LogErr("can't write /opt/set/setup.txt error %d", e);
    });
    if (err < 0)
        return 1;
    return err != 0 ? 2 : 0;
}
