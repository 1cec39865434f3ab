// The table of the setup file's keys, in file order, and the values of the keys
// that keep them in a slot.
#include "core/Settings.h"

#include "core/Services.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const AttVectStr[4] = {"0", "2", "3", "5"};
const char* const SaveScreenVal[5] = {"5min", "10min", "20min", "30min", "60min"};
const char* const SWRTimeout[5] = {"25sec", "20sec", "15sec", "10sec", "5sec"};

namespace {

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

const char* const kOffOn[2] = {"Off", "On"};
const char* const kOFFON[2] = {"OFF", "ON"};
const char* const kFreqInputs[2] = {"FQ1", "FQ2"};
const char* const kNoYes[2] = {"No", "Yes"};
const char* const kTempUnits[2] = {"Celsius", "Fahrenheit"};
const char* const kPowerUnits[2] = {"Watt", "dBm"};

// Target SWR: 0 is "off", and a target below 1.0 means nothing, so the steps
// jump over that gap in both directions.
int targetSwr(Works* w, int action) {
    float v = w->settings.swrEscAutoTune;
    const bool plus = action == kMenuPlus, minus = action == kMenuMinus;
    if (plus || minus) {
        v = static_cast<float>(std::lround((v + (plus ? 0.01f : -0.01f)) * 100.0f) / 100.0);
        if (v < 1.0f)
            v = plus ? 1.0f : 0.0f;
    }
    w->settings.swrEscAutoTune = v;
    return plus || minus || action == kMenuLeft || action == kMenuRight;
}

// The serial speeds offered for the Hamlib rig; 0 leaves the model's own. A
// speed from the file that is not among them shows as the model's own until
// one is chosen.
constexpr int kHamlibSpeeds[] = {0, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kHamlibSpeedCount = static_cast<int>(sizeof kHamlibSpeeds / sizeof kHamlibSpeeds[0]);
const char* const kHamlibSpeedTexts[kHamlibSpeedCount] = {"Model's", "1200", "2400", "4800", "9600",
                                                          "19200", "38400", "57600", "115200"};
int speedIndex(long speed) {
    for (int i = 0; i < kHamlibSpeedCount; i++)
        if (kHamlibSpeeds[i] == speed)
            return i;
    return 0;
}

// A new model or speed takes effect at once: the rig's poll starts again with it.
int hamlibEnter(Works* w, int) {
    writeSetup(w);
    // Only while the bank takes its frequency from the rig.
    if (w->source[kModeHamlib].run == '1')
        StartService(w, Service::Hamlib);
    return 0;
}

// 0 is no limit.
void remoteTxLimitText(Works* w, char* text, size_t size) {
    const long v = SettingNumber(w, "RemoteTxLimit");
    if (v == 0)
        std::snprintf(text, size, "Off");
    else
        std::snprintf(text, size, "%ld s", v);
}

#define FLAG(f) [](SetupRecord& r) -> Flag& { return r.f; }
#define TEXT(f) [](SetupRecord& r) { return r.f.ref(); }
#define APPLY(body) [](Works* w, long v) { (void)w, (void)v; body; }
#define REGEN(expr) [](Works* w) -> long { (void)w; return static_cast<long>(expr); }
#define S(f) w->settings.f

// A digit key whose number is a settings field.
#define DIGIT(name, field, ...)                                                                    \
    .key = #name, .kind = SettingKind::Digit, .def = "0", .flag = FLAG(name),                       \
    .apply = APPLY(S(field) = static_cast<decltype(S(field).load())>(v)), .regen = REGEN(S(field)), \
    ##__VA_ARGS__
// A number key whose number is an int of the settings.
#define NUMBER(name, field, d, ...)                                                                \
    .key = #name, .kind = SettingKind::Number, .def = d, .text = TEXT(name),                        \
    .apply = APPLY(S(field) = static_cast<int>(v)), .regen = REGEN(S(field)),                      \
    .log = SettingLog::Number, ##__VA_ARGS__
#define CHAR(name, d, ...) .key = #name, .kind = SettingKind::Char, .def = d, .flag = FLAG(name), ##__VA_ARGS__
#define TEXTKEY(name, d, ...) .key = #name, .kind = SettingKind::Text, .def = d, .text = TEXT(name), ##__VA_ARGS__

// clang-format off
const SettingRow kRows[] = {
    {CHAR(EnableKeyb, "1")},
    {CHAR(EnableSpi, "0")},
    {CHAR(EnableTouch, "0")},
    {CHAR(DelayedTouch, "0")},
    {CHAR(EnableGPIO, "1")},
    {CHAR(EnableRead, "0")},
    {CHAR(EnableWrite, "0")},
    {CHAR(EnableCAT, "0")},
    {CHAR(EnableLinear, "1")},
    {CHAR(EnableTime, "1")},
    {CHAR(WebSocket, "1")},
    {TEXTKEY(Pitch, "2500")},
    {TEXTKEY(Quality, "100")},
    {TEXTKEY(AudioIn, "hw:1")},
    {TEXTKEY(InChannels, "1")},
    {NUMBER(AudioCompress, audioBitrate, "0", .lineFromNumber = true)},
    {.key = "Multiplier", .kind = SettingKind::Number, .def = "2", .text = TEXT(Multiplier),
     .apply = APPLY(S(audioMultiplier) = static_cast<int>(audioBlockFrames(v)))},
    {TEXTKEY(AudioOut, "hw:1")},
    {TEXTKEY(Server, "127.0.0.1", .applyText = [](Works* w, const char* t) { w->serverAddr.set(t); })},
    {.key = "TcpPort", .kind = SettingKind::Port, .def = "6666",
     .apply = APPLY(S(tcpPort) = static_cast<int16_t>(v)),
     .regen = REGEN(static_cast<uint16_t>(S(tcpPort).load())), .log = SettingLog::Number,
     .lineFromNumber = true},
    {TEXTKEY(CatPort, "/dev/ttyUSB0")},
    {TEXTKEY(SerPort, "/dev/ttyUSB1")},
    {TEXTKEY(LinPort, "/dev/ttyAMA0")},
    // Three antenna outputs: another character keeps the antenna in use.
    {CHAR(NumAntenna, "1",
          .apply = APPLY(if (v >= '1' && v <= '3') w->antennaIdx = static_cast<int>(v - '1')),
          .regen = REGEN(w->antennaIdx + '1'))},
    {DIGIT(EnablePwrPeak, pwrPeakEnabled,
           .menu = {.number = 52, .title = "PEAK POWER METER", .item = " ", .format = "%s",
                    .choices = kOFFON, .choiceCount = 2, .itemZeroOnly = true})},
    {DIGIT(TempMode, tempMode,
           .menu = {.number = 51, .title = "TEMPERATURE UNITS", .item = " ",
                    .get = [](Works* w) -> double { return S(tempMode) == 1 ? 1 : 0; },
                    .format = "%s", .choices = kTempUnits, .choiceCount = 2, .itemZeroOnly = true})},
    {DIGIT(FreqSensIn, freqSensIn,
           .menu = {.number = 2, .title = "FREQ", .item = "Input Sens", .format = "%s",
                    .choices = kFreqInputs, .choiceCount = 2, .enter = MenuEnter::FreqSens})},
    // Up to 9990: the file keeps four digits.
    {NUMBER(FreqPeriodTime, freqPeriod, "10", .lo = 0, .hi = 9999,
            .menu = {.number = 3, .title = "FREQ", .item = "Period (ms)", .format = "%d",
                     .edit = MenuEdit::Step, .step = 10, .lo = 1, .hi = 9999,
                     .bound = MenuBound::Keep, .repeats = true, .enter = MenuEnter::FreqSens})},
    {.key = "Attenuator", .kind = SettingKind::Digit, .def = "0", .flag = FLAG(Attenuator),
     .apply = APPLY(w->attenuator = static_cast<uint8_t>(v)), .regen = REGEN(w->attenuator),
     .lo = 0, .hi = 3},
    {DIGIT(AttenuatorTune, attenuatorTune, .lo = 0, .hi = 3,
           .menu = {.number = 5, .title = "AUTO TUNE", .item = "Force Attenuator",
                    .format = "%sdB", .choices = AttVectStr, .choiceCount = 4,
                    .edit = MenuEdit::Next})},
    {.key = "SWRescAutoTune", .kind = SettingKind::Number, .def = "0", .text = TEXT(SWRescAutoTune),
     .apply = APPLY(S(swrEscAutoTune) = static_cast<float>(v / 100.0)),
     .regen = REGEN(scaled(S(swrEscAutoTune), 100.0)), .log = SettingLog::Number, .scale = 100,
     .menu = {.number = 6, .title = "AUTO TUNE", .item = "Target SWR (0=Off)",
              .get = [](Works* w) -> double { return S(swrEscAutoTune); }, .format = "%02.02f",
              .real = true, .edit = MenuEdit::Own, .lo = 0, .hi = 10, .bound = MenuBound::Clamp,
              .own = targetSwr}},
    {DIGIT(ViewTimeStr, viewTimeStr,
           .menu = {.number = 50, .title = "VIEW SCREEN", .item = "DateTime", .format = "%s",
                    .choices = kOFFON, .choiceCount = 2})},
    {DIGIT(ViewTemp, viewTemp)},
    {.key = "MaxTemperature", .kind = SettingKind::Number, .def = "600", .text = TEXT(MaxTemperature),
     .apply = APPLY(S(maxTemperature) = static_cast<float>(v / 10.0)),
     .regen = REGEN(scaled(S(maxTemperature), 10.0)), .log = SettingLog::Number, .scale = 10,
     .menu = {.number = 54, .title = "TEMPERATURE ALARM", .item = " SET POINT",
              .format = "%02.02f", .real = true, .edit = MenuEdit::Step, .step = 0.1, .lo = 20,
              .bound = MenuBound::Clamp,
              .hiOf = [](Works* w) -> double { return S(maxTempAllowed); }, .unit = 10,
              .repeats = true, .lrRepeats = true, .lrSaves = false, .itemZeroOnly = true}},
    {DIGIT(AutoTuneMaxCicli, autoTuneMaxCycles,
           .menu = {.number = 7, .title = "AUTO TUNE", .item = "AutoTune Timeout", .format = "%s",
                    .choices = SWRTimeout, .choiceCount = 5, .edit = MenuEdit::Choice})},
    {DIGIT(PowerUnits, powerUnits,
           .menu = {.number = 55, .title = "SET POWER UNITS", .item = " ",
                    .get = [](Works* w) -> double { return S(powerUnits) == 1 ? 1 : 0; },
                    .format = "%s", .choices = kPowerUnits, .choiceCount = 2, .itemZeroOnly = true})},
    {DIGIT(SaveScreenIdx, saveScreenIdx,
           .menu = {.number = 56, .title = "SCREEN SAVER TIMEOUT", .item = " ", .format = "%s",
                    .choices = SaveScreenVal, .choiceCount = 5, .edit = MenuEdit::Choice,
                    .itemZeroOnly = true, .actsOnAnyItem = true})},
    // The request byte becomes the digit, but for a pending return to receive
    // (0x04), which the transceiver's link still sends: the radio never stays keyed.
    {.key = "AutoTuneMode", .kind = SettingKind::Digit, .def = "0", .flag = FLAG(AutoTuneMode),
     .apply = APPLY(w->tuneModeFlags.change(static_cast<uint8_t>(~0x04u), static_cast<uint8_t>(v))),
     .regen = REGEN(w->tuneModeFlags.load() & 1),
     .menu = {.number = 4, .title = "AUTO TUNE", .item = "Enable TAV Tune", .format = "%s",
              .choices = kOffOn, .choiceCount = 2}},
    // The spectrum source follows EnableFFT; any Enable1600 line forces the USB receiver.
    {CHAR(EnableFFT, "0", .apply = APPLY(w->setup->usbSpectrum = static_cast<char>(v)))},
    {.key = "Divide", .kind = SettingKind::Number, .def = "2", .text = TEXT(Divide),
     .apply = APPLY(S(divide) = static_cast<int>(v)), .regen = REGEN(S(divide)),
     .log = SettingLog::Both, .lineFromNumber = true, .lo = kDivideMin, .hi = kDivideMax},
    {NUMBER(MaxTempAllowed, maxTempAllowed, "60")},
    {NUMBER(PSpar1, psPar[0], "1", .lo = 0, .hi = 9999)},
    {NUMBER(PSpar2, psPar[1], "1000", .lo = 0, .hi = 9999)},
    {.key = "Isteresi1", .kind = SettingKind::Digit, .def = "1", .flag = FLAG(Isteresi1),
     .apply = APPLY(S(hysteresis1) = static_cast<int>(v)), .regen = REGEN(S(hysteresis1))},
    {.key = "Isteresi2", .kind = SettingKind::Digit, .def = "1", .flag = FLAG(Isteresi2),
     .apply = APPLY(S(hysteresis2) = static_cast<int>(v)), .regen = REGEN(S(hysteresis2))},
    {NUMBER(PSpar3, psPar[2], "0", .lo = 0, .hi = 9999)},
    {NUMBER(PSpar4, psPar[3], "0", .lo = 0, .hi = 9999)},
    {.key = "OffsetPlot", .kind = SettingKind::Number, .def = "0", .text = TEXT(OffsetPlot),
     .apply = APPLY(S(plotOffset) = v / 10.0), .regen = REGEN(scaled(S(plotOffset), 10.0)),
     .scale = 10,
     .menu = {.number = 17, .title = "PLOT", .item = "Offset", .format = "%3.02f", .real = true,
              .edit = MenuEdit::Step, .step = 0.1, .unit = 10, .repeats = true,
              .lrRepeats = true, .lrSaves = true}},
    {TEXTKEY(CatSerialPort, "/dev/ttyUSB1")},
    // Bit 7 set: no tuner fitted; the low bits stay.
    {.key = "TUNEenabled", .kind = SettingKind::Number, .def = "0", .text = TEXT(TUNEenabled),
     .apply = APPLY(S(tuneEnabled) = static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF))),
     .regen = REGEN(static_cast<uint8_t>(S(tuneEnabled).load())), .log = SettingLog::Number,
     .logged = REGEN(S(tuneEnabled).load()),
     .menu = {.number = 8, .title = "AUTO TUNE", .item = "ATU Installed",
              .get = [](Works* w) -> double { return S(tuneEnabled) >= 0 ? 1 : 0; },
              .set = [](Works* w, double v) {
                  const uint8_t b = static_cast<uint8_t>(S(tuneEnabled).load());
                  S(tuneEnabled) = static_cast<int8_t>(v ? b & 0x7F : b | 0x80);
                  LogOut("----------> SAVE ATU: 0x%0X\n",
                         static_cast<unsigned>(static_cast<uint8_t>(S(tuneEnabled).load())));
              },
              .format = "%s", .choices = kNoYes, .choiceCount = 2}},
    {.key = "NumBanco", .kind = SettingKind::Number, .def = "1", .text = TEXT(NumBanco),
     .apply = APPLY(w->NumBanco = static_cast<int>(v)), .regen = REGEN(w->NumBanco),
     .log = SettingLog::Number, .lo = 0, .hi = 19},
    {NUMBER(GMpar1, gmPar[0], "2", .lo = 0, .hi = 9999)},
    {NUMBER(GMpar2, gmPar[1], "100", .lo = 0, .hi = 9999)},
    {NUMBER(Peak_media, fattoremedia, "2")},
    {.key = "Peak_ValDec", .kind = SettingKind::Number, .def = "10", .text = TEXT(Peak_ValDec),
     .apply = APPLY(S(PeakDecrement) = v / 10.0), .regen = REGEN(scaled(S(PeakDecrement), 10.0)),
     .log = SettingLog::Number, .scale = 10},
    {NUMBER(Peak_TimeDec, PeakDecrementTime, "1")},
    {NUMBER(Peak_Time, TimerPeakSec, "3000",
            .menu = {.number = 53, .title = "PEAK POWER METER", .item = "Release Time (ms)",
                     .format = "%i", .edit = MenuEdit::Step, .step = 10, .lo = 0, .hi = 5000,
                     .bound = MenuBound::Keep, .repeats = true, .lrRepeats = true,
                     .lrSaves = true})},
    {.key = "MAXbank", .kind = SettingKind::Number, .def = "20", .text = TEXT(MAXbank),
     .apply = APPLY(w->MAXbank = static_cast<int>(v)), .regen = REGEN(w->MAXbank),
     .log = SettingLog::Number, .lo = 1, .hi = 20,
     .menu = {.number = 1, .title = "MAX BANK", .item = " ", .format = "%d",
              .edit = MenuEdit::Step, .step = 1, .lo = 2, .hi = 20, .bound = MenuBound::Wrap,
              .lrSaves = true}},
    {.key = "BTN_longpress_Time", .kind = SettingKind::Number, .def = "5",
     .text = TEXT(BTN_longpress_Time), .apply = APPLY(S(TIME_LONG_PRESS) = v / 10.0),
     .regen = REGEN(scaled(S(TIME_LONG_PRESS), 10.0)), .scale = 10,
     .menu = {.number = 58, .title = "BUTTON TIME", .item = "Long Press Time",
              .format = "%01.01f sec", .real = true, .edit = MenuEdit::Step, .step = 0.1,
              .lo = 0.3, .hi = 5.0, .bound = MenuBound::Clamp, .unit = 10, .lrSaves = true,
              .itemZeroOnly = true, .actsOnAnyItem = true}},
    {DIGIT(EnableDebug, debugEnabled)},
    {CHAR(Enable1600, "1", .apply = APPLY(w->setup->usbSpectrum = '1'))},
    {DIGIT(EnableLOGTemp, logTempEnabled)},
    // The keys added since, in the order they came; their values live in slots.
    // '1': the remote link also without TLS, for older units.
    {.key = "RemotePlain", .kind = SettingKind::Char, .def = "0"},
    // The Hamlib rig of work mode 3: model number, port (a serial device or
    // HOST:PORT of a rigctld), speed (0: the model's) and poll period in ms.
    // ENTER on the model or speed saves and opens the rig again.
    {.key = "HamlibModel", .kind = SettingKind::Number, .def = "2", .size = 6,
     .log = SettingLog::Number, .lo = 1, .hi = 99999,
     .menu = {.number = 100, .title = "HAMLIB RIG", .item = "Model", .format = "%d",
              .edit = MenuEdit::Step, .step = 1, .lo = 1, .hi = 99999, .bound = MenuBound::Keep,
              .repeats = true, .enter = MenuEnter::Own, .own = hamlibEnter}},
    {.key = "HamlibPort", .kind = SettingKind::Text, .def = "127.0.0.1:4532"},
    {.key = "HamlibSpeed", .kind = SettingKind::Number, .def = "0", .size = 7,
     .log = SettingLog::Number, .lo = 0, .hi = 921600,
     .menu = {.number = 101, .title = "HAMLIB RIG", .item = "Speed",
              .get = [](Works* w) -> double { return speedIndex(SettingNumber(w, "HamlibSpeed")); },
              .set = [](Works* w, double v) {
                  SetSettingNumber(w, "HamlibSpeed", kHamlibSpeeds[static_cast<int>(v)]);
              },
              .format = "%s", .choices = kHamlibSpeedTexts, .choiceCount = kHamlibSpeedCount,
              .edit = MenuEdit::Choice, .enter = MenuEnter::Own, .own = hamlibEnter}},
    {.key = "HamlibPoll", .kind = SettingKind::Number, .def = "200", .size = 6,
     .log = SettingLog::Number, .lo = 20, .hi = 60000,
     .menu = {.number = 102, .title = "HAMLIB RIG", .item = "Poll (ms)", .format = "%d",
              .edit = MenuEdit::Step, .step = 10, .lo = 20, .hi = 60000, .bound = MenuBound::Keep,
              .repeats = true}},
    // The browser console's HTTPS port, 0 = off.
    {.key = "WebPort", .kind = SettingKind::Number, .def = "8443", .size = 6,
     .log = SettingLog::Number, .lo = 0, .hi = 65535},
    // The GPIO chip of the keys and converter: a path, name or label; empty
    // chooses (the register block where it works, else the Pi's chip). A label
    // is at most 31 characters, a path under /dev not much more.
    {.key = "GpioChip", .kind = SettingKind::Text, .def = "", .size = 64},
    // Hamlib's amplifier protocol, as ampctld serves it: its port (0 = off), the
    // address it listens on ("::" or "0.0.0.0": every address), and the
    // networks whose clients may change anything (blank-separated, as
    // 192.168.1.0/24 or fd00::/8); the others only read.
    {.key = "AmpctlPort", .kind = SettingKind::Number, .def = "4531", .size = 6,
     .log = SettingLog::Number, .lo = 0, .hi = 65535},
    {.key = "AmpctlListen", .kind = SettingKind::Text, .def = "127.0.0.1", .size = 48},
    {.key = "AmpctlControl", .kind = SettingKind::Text, .def = "127.0.0.1/8 ::1/128"},
    // The longest transmission while the station is operated from elsewhere,
    // in seconds; 0: no limit. The file takes 0..3600 and a limit below 10 s
    // counts as 10 (remote/TxLimit.h); the menu steps by 10 s from Off.
    {.key = "RemoteTxLimit", .kind = SettingKind::Number, .def = "180", .size = 5,
     .log = SettingLog::Number, .lo = 0, .hi = 3600,
     .menu = {.number = 93, .title = "REMOTE TX LIMIT", .item = " ", .edit = MenuEdit::Step,
              .step = 10, .lo = 0, .hi = 3600, .bound = MenuBound::Keep, .repeats = true,
              .show = remoteTxLimitText}},
};
// clang-format on

#undef FLAG
#undef TEXT
#undef APPLY
#undef REGEN
#undef S
#undef DIGIT
#undef NUMBER
#undef CHAR
#undef TEXTKEY

constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);

// Slot of each row (-1: its value lives in the record and a mirror), given in
// table order to the rows that name neither.
struct Slots {
    int of[kRowCount];
    int used = 0;
};
Slots slotsOf() {
    Slots s{};
    for (int i = 0; i < kRowCount; i++) {
        const SettingRow& r = kRows[i];
        const bool own = !r.flag && !r.text && r.kind != SettingKind::Port;
        s.of[i] = own ? s.used++ : -1;
    }
    return s;
}
const Slots g_slots = slotsOf();

const SettingRow* row(const char* key) {
    const SettingRow* r = FindSetting(key);
    if (!r)
        LogErr("setup: no key %s", key);
    return r;
}

} // namespace

const SettingRow* SettingRows(int* count) {
    *count = kRowCount;
    return kRows;
}

const SettingRow* FindSetting(const char* key) {
    for (const SettingRow& r : kRows)
        if (std::strcmp(r.key, key) == 0)
            return &r;
    return nullptr;
}

int SettingSlotOf(const SettingRow* r) {
    const long i = r - kRows;
    return i >= 0 && i < kRowCount ? g_slots.of[i] : -1;
}

long SettingNumber(const Works* w, const char* key) {
    const SettingRow* r = row(key);
    const int s = r ? SettingSlotOf(r) : -1;
    return s >= 0 ? w->settings.slot[s].number.load() : 0;
}

void SettingText(const Works* w, const char* key, char* out, size_t size) {
    const SettingRow* r = row(key);
    const int s = r ? SettingSlotOf(r) : -1;
    if (s >= 0)
        w->settings.slot[s].text.copyTo(out, size);
    else if (size > 0)
        out[0] = '\0';
}

char SettingChar(const Works* w, const char* key) {
    const SettingRow* r = row(key);
    const int s = r ? SettingSlotOf(r) : -1;
    return s >= 0 ? w->settings.slot[s].text.at(0) : '\0';
}

void SetSettingNumber(Works* w, const char* key, long v) {
    const SettingRow* r = row(key);
    const int s = r ? SettingSlotOf(r) : -1;
    if (s < 0)
        return;
    char text[24];
    std::snprintf(text, sizeof text, "%ld", v);
    w->settings.slot[s].number = v;
    w->settings.slot[s].text.set(text);
}

void SetSettingText(Works* w, const char* key, const char* text) {
    const SettingRow* r = row(key);
    const int s = r ? SettingSlotOf(r) : -1;
    if (s >= 0)
        w->settings.slot[s].text.set(text);
}

double SettingMenuValue(Works* w, const SettingRow& r) {
    const int s = SettingSlotOf(&r);
    const long v = s >= 0 ? w->settings.slot[s].number.load() : r.regen ? r.regen(w) : 0;
    return static_cast<double>(v) / r.scale;
}

void SetSettingMenuValue(Works* w, const SettingRow& r, double v) {
    const long n = std::lround(v * r.scale);
    const int s = SettingSlotOf(&r);
    if (s >= 0)
        SetSettingNumber(w, r.key, n);
    else if (r.apply)
        r.apply(w, n);
}

