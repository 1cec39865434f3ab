// The settings menu: one table describes each of the 35 entries (number, title,
// item, value and its text, edit rule, what ENTER does, the setup key it saves
// and its scaling); ModifyParameter and LoadParameterMenu only read it.
#include "ui/Menu.h"

#include "core/AlarmList.h"
#include "core/CmdRing.h"
#include "amp/Temperature.h"
#include "core/Services.h"
#include "core/Keyb.h"
#include "core/RemoteCode.h"
#include "core/Setup.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "tuner/Banks.h"
#include "ui/Network.h"
#include "ui/Nuova.h"
#include "ui/RemoteChecks.h"
#include "ui/Time.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

// How the edit actions other than ENTER change an entry's value.
enum class Edit {
    Toggle,  // every action flips it between 0 and 1
    Step,    // PLUS adds `step`, MINUS takes it off, within the entry's bounds
    Choice,  // PLUS the next of the choices, MINUS the previous, wrapping
    Next,    // any action: the next of the choices, wrapping
    Address, // PLUS/MINUS change the octet under the cursor, LEFT/RIGHT move it
    Own,     // the entry's own function
};
// What a Step does at its bounds.
enum class Bound {
    None,  // no bounds
    Wrap,  // past one end to the other
    Clamp, // the result is held at the end
    Keep,  // a step that would leave the range is not taken
};
// What ENTER does.
enum class Enter { Save, FreqSens, Lan, Nothing, Own };

struct MenuSpec {
    int number;
    const char* title;
    const char* item;
    // The value, as a number.
    double (*get)(Works*);
    void (*set)(Works*, double);
    // Its text: `format` with the value (an int, or a double when `real`), or with
    // the text choices[value] when there are choices.
    const char* format;
    bool real = false;
    const char* const* choices = nullptr;
    int choiceCount = 0;
    Edit edit = Edit::Toggle;
    double step = 0;
    double lo = 0, hi = 0;
    Bound bound = Bound::None;
    double (*hiOf)(Works*) = nullptr; // an upper end that is itself a setting
    double unit = 0;                  // results rounded to 1/unit (10 tenths); 0: whole numbers
    bool repeats = false;             // PLUS and MINUS repeat while held
    bool lrRepeats = false;           // LEFT and RIGHT too
    bool lrSaves = false;             // LEFT and RIGHT also save
    Enter enter = Enter::Save;
    const char* key = nullptr; // the setup key that ENTER saves
    int scale = 1;             // the file holds the value times this
    bool itemZeroOnly = false;  // shows and acts only while menuItem is 0
    bool actsOnAnyItem = false; // with itemZeroOnly: shows only on item 0, acts on any
    // Edit::Own and Enter::Own: the action, its repeat flag as result.
    int (*own)(Works*, int action) = nullptr;
    bool positions = false; // LEFT and RIGHT move between positions of the value
    // A value text of the entry's own, instead of `format`.
    void (*show)(Works*, char* text, size_t size) = nullptr;
};

const char* const kOffOn[2] = {"Off", "On"};
const char* const kOFFON[2] = {"OFF", "ON"};
const char* const kFreqInputs[2] = {"FQ1", "FQ2"};
const char* const kNoYes[2] = {"No", "Yes"};
const char* const kLocalRemote[2] = {"Local", "Remote"};
const char* const kTempUnits[2] = {"Celsius", "Fahrenheit"};
const char* const kPowerUnits[2] = {"Watt", "dBm"};
const char* const kDefaults[2] = {"No Default", "Set Default"};
const char* const kOffHw[1] = {"OFF"};

void save(Works* w) { writeSetup(w); }

// Switching between local and remote operation (leaving local checks that the
// transceiver, its CAT port, its audio and the serial link are there).
void remoteChoice(Works* w) {
    // The "Remote not started" notice of a failed check lasts until the choice
    // changes again.
    w->keyNotice.clear(4);
    if (w->remoteEnabled) {
        w->remoteEnabled = 0;
        return;
    }
    if (w->setup->EnableFFT != '0') {
        w->remoteEnabled = 1;
        return;
    }
    // The storage thread's last probe (its entry, while up, keeps it fresh);
    // another is asked for, which a unit without the thread runs at once.
    RemoteChecksRequest(w);
    const RemoteCheckResults checks = RemoteChecksLast();
    const int i = checks.transceiver;
    const int j = checks.audio;
    const char ser = w->setup->serialLinkEnabled;
    LogOut("j=%d i=%d enaser=%c\n", j, i, ser);
    if (i == 0 && j > 0 && ser == '1') {
        w->remoteEnabled = 1;
        w->remoteRestart = 0;
        LogOut("Remote GO!\n");
        return;
    }
    w->remoteRestart = 1;
    if (i == 1)
        AddErrore(w, kAlarmRemoteUsb);
    else if (i == 2)
        AddErrore(w, kAlarmRemoteCat);
    else if (i == 3)
        AddErrore(w, kAlarmAudioRead);
    if (j == 0)
        AddErrore(w, kAlarmAudioMissing);
    if (ser != '1')
        AddErrore(w, kAlarmTavMode);
    w->keyNotice.set(4); // "Set to Local Mode: Remote not started. Verify connections"
    LogOut("Remote ERROR!\n");
}

int remoteMode(Works* w, int action) {
    if (action != kMenuEnter) {
        remoteChoice(w);
        return 0;
    }
    if (w->remoteEnabled) {
        if (w->setup->WebSocket == '0') {
            w->setup->WebSocket = '1';
            StartService(w, Service::Socket);
        }
        SwitchRemoteServices(w, RemoteSwitch::On);
    } else {
        SwitchRemoteServices(w, RemoteSwitch::Off);
    }
    return 0;
}

// Target SWR: 0 is "off", and a target below 1.0 means nothing, so the steps
// jump over that gap in both directions.
int targetSwr(Works* w, int action) {
    float v = w->swrEscAutoTune;
    const bool plus = action == kMenuPlus, minus = action == kMenuMinus;
    if (plus || minus) {
        v = static_cast<float>(std::lround((v + (plus ? 0.01f : -0.01f)) * 100.0f) / 100.0);
        if (v < 1.0f)
            v = plus ? 1.0f : 0.0f;
    }
    w->swrEscAutoTune = v;
    return plus || minus || action == kMenuLeft || action == kMenuRight;
}

// Point Div: 1, 2, 5, 10, 20.
int pointDiv(Works*, int action) {
    int v = PointDiv;
    if (action == kMenuPlus && v < 20) {
        v *= 2;
        if (v == 4)
            v = 5;
    }
    if (action == kMenuMinus && v >= 2)
        v /= 2;
    PointDiv = v;
    return 0;
}

int factoryDefault(Works* w, int) {
    if (!w->factoryArmed)
        return 0;
    DeleteAllBanks(w);
    initSetup(w);
    writeSetup(w);
    readSetup(w);
    // The access code is the unit's, not a setting: its file stays, and the
    // code in use is the file's again, as after a start.
    LoadRemoteCode(w);
    // The tables in memory are those of the deleted files: without a reload the
    // next save to a bank would write the old rows back.
    LoadAllBankTable(w, w->NumBanco);
    w->antennaRowIdx = kNoAntennaRow;
    w->factoryArmed = 0;
    return 0;
}

int offHw(Works* w, int) {
    w->panelCmd = 0x85; // the converter switches the unit off
    return 0;
}

int fwUpdate(Works* w, int) {
    if (w->serviceFlags.test(1)) {
        IncPNTIn_CMDLinear(kCmdFwUpdate, w);
        LogOut("Start AGGFW\n");
    }
    return 0;
}

int uiUpdate(Works* w, int) {
    if (w->serviceFlags.test(8)) {
        LogOut("Start AGG UI...\n");
        StorageCommand("/opt/TavZim/getpack.sh");
    }
    return 0;
}

int remoteService(Works* w, int) {
    if (w->serviceFlags.test(2)) {
        RemoteConnection();
        LogOut("Start REMOTE SRV\n");
    }
    return 0;
}

// REMOTE CODE: PLUS and MINUS step the symbol under the cursor through the
// set, LEFT and RIGHT move the cursor, wrapping as an address's octets do. The
// code in use changes only on ENTER, so that a caller meanwhile meets the old
// code, not half of a new one.
int remoteCodeKeys(Works* w, int action) {
    if (action == kMenuEnter) {
        if (w->codeEditing) {
            char code[kRemoteCodeLength + 1];
            w->codeEdit.copyTo(code, sizeof code);
            SaveRemoteCode(w, code);
            w->codeEditing = 0;
        }
        return 0;
    }
    if (!w->codeEditing) {
        // From the code in use; where there is none yet, or it has symbols
        // outside the set, those positions start at the first symbol.
        char code[kRemoteCodeLength + 1];
        w->remotePassword.copyTo(code, sizeof code);
        bool ended = false;
        for (int i = 0; i < kRemoteCodeLength; i++) {
            ended = ended || code[i] == '\0';
            code[i] = RemoteCodeSymbolAfter(ended ? '\0' : code[i], 0);
        }
        code[kRemoteCodeLength] = '\0';
        w->codeEdit.set(code);
        w->codeCursor = 0;
        w->codeEditing = 1;
    }
    int c = w->codeCursor;
    c = c < 0 || c >= kRemoteCodeLength ? 0 : c;
    switch (action) {
    case kMenuPlus:
    case kMenuMinus:
        w->codeEdit.put(static_cast<size_t>(c),
                        RemoteCodeSymbolAfter(w->codeEdit.at(static_cast<size_t>(c)),
                                              action == kMenuPlus ? 1 : -1));
        break;
    case kMenuLeft:
        c = c == 0 ? kRemoteCodeLength - 1 : c - 1;
        break;
    case kMenuRight:
        c = c == kRemoteCodeLength - 1 ? 0 : c + 1;
        break;
    default:
        break;
    }
    w->codeCursor = c;
    return 0;
}

void remoteCodeText(Works* w, char* text, size_t size) {
    if (w->codeEditing)
        w->codeEdit.copyTo(text, size);
    else
        w->remotePassword.copyTo(text, size);
}

// NEW REMOTE CODE: armed by any action, drawn on ENTER; it shows the code in use.
int newRemoteCode(Works* w, int) {
    if (!w->newCodeArmed)
        return 0;
    NewRemoteCode(w);
    w->newCodeArmed = 0;
    return 0;
}

void newRemoteCodeText(Works* w, char* text, size_t size) {
    if (w->newCodeArmed)
        std::snprintf(text, size, "New code?");
    else
        w->remotePassword.copyTo(text, size);
}

void setBit(SharedFlags<uint8_t>& flags, uint8_t bit, double on) {
    if (on)
        flags.set(bit);
    else
        flags.clear(bit);
}

// The serial speeds offered for the Hamlib rig; 0 leaves the model's own. A
// speed from the file that is not among them shows as the model's own until
// one is chosen.
constexpr int kHamlibSpeeds[] = {0, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kHamlibSpeedCount = static_cast<int>(sizeof kHamlibSpeeds / sizeof kHamlibSpeeds[0]);
const char* const kHamlibSpeedTexts[kHamlibSpeedCount] = {"Model's", "1200", "2400", "4800", "9600",
                                                          "19200", "38400", "57600", "115200"};
int speedIndex(int speed) {
    for (int i = 0; i < kHamlibSpeedCount; i++)
        if (kHamlibSpeeds[i] == speed)
            return i;
    return 0;
}

// A new model or speed takes effect at once: the rig's poll starts again with it.
int hamlibEnter(Works* w, int) {
    save(w);
    if (w->ModeWorkIdx == kModeHamlib)
        StartService(w, Service::Hamlib);
    return 0;
}

// clang-format off
const MenuSpec kMenu[kMenuEntries] = {
    {.number = 1, .title = "MAX BANK", .item = " ",
     .get = [](Works* w) -> double { return w->MAXbank; },
     .set = [](Works* w, double v) { w->MAXbank = static_cast<int>(v); },
     .format = "%d", .edit = Edit::Step, .step = 1, .lo = 2, .hi = 20, .bound = Bound::Wrap,
     .lrSaves = true, .key = "MAXbank"},
    {.number = 2, .title = "FREQ", .item = "Input Sens",
     .get = [](Works* w) -> double { return w->freqSensIn ? 1 : 0; },
     .set = [](Works* w, double v) { w->freqSensIn = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kFreqInputs, .choiceCount = 2,
     .enter = Enter::FreqSens, .key = "FreqSensIn"},
    // Up to 9990: the file keeps four digits.
    {.number = 3, .title = "FREQ", .item = "Period (ms)",
     .get = [](Works* w) -> double { return w->freqPeriod; },
     .set = [](Works* w, double v) { w->freqPeriod = static_cast<int>(v); },
     .format = "%d", .edit = Edit::Step, .step = 10, .lo = 1, .hi = 9999, .bound = Bound::Keep,
     .repeats = true, .enter = Enter::FreqSens, .key = "FreqPeriodTime"},
    // The request byte becomes 1 or 0, but for a pending return to receive
    // (0x04), which the transceiver's link still sends: the radio never stays keyed.
    {.number = 4, .title = "AUTO TUNE", .item = "Enable TAV Tune",
     .get = [](Works* w) -> double { return w->tuneModeFlags.test(1) ? 1 : 0; },
     .set = [](Works* w, double v) { w->tuneModeFlags.change(static_cast<uint8_t>(~0x04u), v ? 1 : 0); },
     .format = "%s", .choices = kOffOn, .choiceCount = 2, .key = "AutoTuneMode"},
    {.number = 5, .title = "AUTO TUNE", .item = "Force Attenuator",
     .get = [](Works* w) -> double { return w->attenuatorTune & 3; },
     .set = [](Works* w, double v) { w->attenuatorTune = static_cast<uint8_t>(v); },
     .format = "%sdB", .choices = AttVectStr, .choiceCount = 4, .edit = Edit::Next,
     .key = "AttenuatorTune"},
    {.number = 6, .title = "AUTO TUNE", .item = "Target SWR (0=Off)",
     .get = [](Works* w) -> double { return w->swrEscAutoTune; },
     .set = [](Works* w, double v) { w->swrEscAutoTune = static_cast<float>(v); },
     .format = "%02.02f", .real = true, .edit = Edit::Own, .lo = 0, .hi = 10,
     .bound = Bound::Clamp, .key = "SWRescAutoTune", .scale = 100, .own = targetSwr},
    {.number = 7, .title = "AUTO TUNE", .item = "AutoTune Timeout",
     .get = [](Works* w) -> double { return w->autoTuneMaxCycles; },
     .set = [](Works* w, double v) { w->autoTuneMaxCycles = static_cast<uint8_t>(v); },
     .format = "%s", .choices = SWRTimeout, .choiceCount = 5, .edit = Edit::Choice,
     .key = "AutoTuneMaxCicli"},
    // Bit 7 set: no tuner fitted; the low bits stay.
    {.number = 8, .title = "AUTO TUNE", .item = "ATU Installed",
     .get = [](Works* w) -> double { return w->tuneEnabled >= 0 ? 1 : 0; },
     .set = [](Works* w, double v) {
         const uint8_t b = static_cast<uint8_t>(w->tuneEnabled);
         w->tuneEnabled = static_cast<int8_t>(v ? b & 0x7F : b | 0x80);
         LogOut("----------> SAVE ATU: 0x%0X\n",
                      static_cast<unsigned>(static_cast<uint8_t>(w->tuneEnabled)));
     },
     .format = "%s", .choices = kNoYes, .choiceCount = 2, .key = "TUNEenabled"},
    {.number = 9, .title = "TAV ZIM USE MODE", .item = " ",
     .get = [](Works* w) -> double { return w->remoteEnabled ? 1 : 0; },
     .set = nullptr, .format = "%s", .choices = kLocalRemote, .choiceCount = 2,
     .edit = Edit::Own, .enter = Enter::Own, .itemZeroOnly = true, .own = remoteMode},
    {.number = 10, .title = "NETWORK LAN", .item = "IP", .get = nullptr, .set = nullptr,
     .format = nullptr, .edit = Edit::Address, .enter = Enter::Lan},
    {.number = 11, .title = "NETWORK LAN", .item = "SUBNET", .get = nullptr, .set = nullptr,
     .format = nullptr, .edit = Edit::Address, .enter = Enter::Lan},
    {.number = 12, .title = "NETWORK LAN", .item = "GATEWAY", .get = nullptr, .set = nullptr,
     .format = nullptr, .edit = Edit::Address, .enter = Enter::Lan},
    {.number = 13, .title = "NETWORK LAN", .item = "DNS", .get = nullptr, .set = nullptr,
     .format = nullptr, .edit = Edit::Address, .enter = Enter::Lan},
    // The plot's values live for the process only.
    {.number = 14, .title = "PLOT", .item = "Ref Lev",
     .get = [](Works*) -> double { return RefLevel; },
     .set = [](Works*, double v) { RefLevel = static_cast<int>(v); },
     .format = "%d", .edit = Edit::Step, .step = 10, .enter = Enter::Nothing},
    {.number = 15, .title = "PLOT", .item = "Ref Pos",
     .get = [](Works*) -> double { return RefPos; },
     .set = [](Works*, double v) { RefPos = static_cast<int>(v); },
     .format = "%d", .edit = Edit::Step, .step = 1, .lo = 0, .hi = 10, .bound = Bound::Keep,
     .enter = Enter::Nothing},
    {.number = 16, .title = "PLOT", .item = "Point Div",
     .get = [](Works*) -> double { return PointDiv; },
     .set = nullptr, .format = "%d", .edit = Edit::Own, .enter = Enter::Nothing, .own = pointDiv},
    {.number = 17, .title = "PLOT", .item = "Offset",
     .get = [](Works* w) -> double { return w->plotOffset; },
     .set = [](Works* w, double v) { w->plotOffset = v; },
     .format = "%3.02f", .real = true, .edit = Edit::Step, .step = 0.1, .unit = 10,
     .repeats = true, .lrRepeats = true, .lrSaves = true, .key = "OffsetPlot", .scale = 10},
    {.number = 50, .title = "VIEW SCREEN", .item = "DateTime",
     .get = [](Works* w) -> double { return w->viewTimeStr ? 1 : 0; },
     .set = [](Works* w, double v) { w->viewTimeStr = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .key = "ViewTimeStr"},
    {.number = 51, .title = "TEMPERATURE UNITS", .item = " ",
     .get = [](Works* w) -> double { return w->tempMode == 1 ? 1 : 0; },
     .set = [](Works* w, double v) { w->tempMode = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kTempUnits, .choiceCount = 2, .key = "TempMode",
     .itemZeroOnly = true},
    {.number = 52, .title = "PEAK POWER METER", .item = " ",
     .get = [](Works* w) -> double { return w->pwrPeakEnabled ? 1 : 0; },
     .set = [](Works* w, double v) { w->pwrPeakEnabled = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .key = "EnablePwrPeak",
     .itemZeroOnly = true},
    {.number = 53, .title = "PEAK POWER METER", .item = "Release Time (ms)",
     .get = [](Works*) -> double { return TimerPeakSec; },
     .set = [](Works*, double v) { TimerPeakSec = static_cast<int>(v); },
     .format = "%i", .edit = Edit::Step, .step = 10, .lo = 0, .hi = 5000, .bound = Bound::Keep,
     .repeats = true, .lrRepeats = true, .lrSaves = true, .key = "Peak_Time"},
    {.number = 54, .title = "TEMPERATURE ALARM", .item = " SET POINT",
     .get = [](Works* w) -> double { return w->maxTemperature; },
     .set = [](Works* w, double v) { w->maxTemperature = static_cast<float>(v); },
     .format = "%02.02f", .real = true, .edit = Edit::Step, .step = 0.1, .lo = 20,
     .bound = Bound::Clamp, .hiOf = [](Works* w) -> double { return w->maxTempAllowed; },
     .unit = 10, .repeats = true, .lrRepeats = true, .key = "MaxTemperature", .scale = 10,
     .itemZeroOnly = true},
    {.number = 55, .title = "SET POWER UNITS", .item = " ",
     .get = [](Works* w) -> double { return w->powerUnits == 1 ? 1 : 0; },
     .set = [](Works* w, double v) { w->powerUnits = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kPowerUnits, .choiceCount = 2, .key = "PowerUnits",
     .itemZeroOnly = true},
    {.number = 56, .title = "SCREEN SAVER TIMEOUT", .item = " ",
     .get = [](Works* w) -> double { return w->saveScreenIdx; },
     .set = [](Works* w, double v) { w->saveScreenIdx = static_cast<uint8_t>(v); },
     .format = "%s", .choices = SaveScreenVal, .choiceCount = 5, .edit = Edit::Choice,
     .key = "SaveScreenIdx", .itemZeroOnly = true, .actsOnAnyItem = true},
    {.number = 57, .title = "FACTORY DEFAULT", .item = " ",
     .get = [](Works* w) -> double { return w->factoryArmed ? 1 : 0; },
     .set = [](Works* w, double v) { w->factoryArmed = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kDefaults, .choiceCount = 2, .enter = Enter::Own,
     .itemZeroOnly = true, .own = factoryDefault},
    {.number = 58, .title = "BUTTON TIME", .item = "Long Press Time",
     .get = [](Works*) -> double { return TIME_LONG_PRESS; },
     .set = [](Works*, double v) { TIME_LONG_PRESS = v; },
     .format = "%01.01f sec", .real = true, .edit = Edit::Step, .step = 0.1, .lo = 0.3, .hi = 5.0,
     .bound = Bound::Clamp, .unit = 10, .lrSaves = true, .key = "BTN_longpress_Time", .scale = 10,
     .itemZeroOnly = true, .actsOnAnyItem = true},
    // The code a caller must give: read on the status page of the unit called,
    // typed here on the unit that calls.
    {.number = 94, .title = "REMOTE CODE", .item = " ", .get = nullptr, .set = nullptr,
     .format = nullptr, .edit = Edit::Own, .enter = Enter::Own, .own = remoteCodeKeys,
     .positions = true, .show = remoteCodeText},
    {.number = 95, .title = "NEW REMOTE CODE", .item = " ",
     .get = [](Works* w) -> double { return w->newCodeArmed ? 1 : 0; },
     .set = [](Works* w, double v) { w->newCodeArmed = static_cast<uint8_t>(v); },
     .format = nullptr, .enter = Enter::Own, .own = newRemoteCode, .show = newRemoteCodeText},
    // Any action, ENTER too, switches the unit off.
    {.number = 96, .title = "OFF HW", .item = " ", .get = [](Works*) -> double { return 0; },
     .set = nullptr, .format = "%s", .choices = kOffHw, .choiceCount = 1, .edit = Edit::Own,
     .enter = Enter::Own, .itemZeroOnly = true, .own = offHw},
    {.number = 97, .title = "FW UPDATE", .item = " ",
     .get = [](Works* w) -> double { return w->serviceFlags.test(1) ? 1 : 0; },
     .set = [](Works* w, double v) { setBit(w->serviceFlags, 1, v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .enter = Enter::Own,
     .itemZeroOnly = true, .own = fwUpdate},
    {.number = 98, .title = "UI UPDATE", .item = " ",
     .get = [](Works* w) -> double { return w->serviceFlags.test(8) ? 1 : 0; },
     .set = [](Works* w, double v) { setBit(w->serviceFlags, 8, v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .enter = Enter::Own,
     .itemZeroOnly = true, .own = uiUpdate},
    {.number = 99, .title = "REMOTE SERVICE", .item = " ",
     .get = [](Works* w) -> double { return w->serviceFlags.test(2) ? 1 : 0; },
     .set = [](Works* w, double v) { setBit(w->serviceFlags, 2, v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .enter = Enter::Own,
     .itemZeroOnly = true, .own = remoteService},
    // The Hamlib rig of work mode 3: saved on ENTER, which also reopens the rig.
    {.number = 100, .title = "HAMLIB RIG", .item = "Model",
     .get = [](Works* w) -> double { return w->hamlibModel; },
     .set = [](Works* w, double v) { w->hamlibModel = static_cast<int>(v); },
     .format = "%d", .edit = Edit::Step, .step = 1, .lo = 1, .hi = 99999, .bound = Bound::Keep,
     .repeats = true, .enter = Enter::Own, .key = "HamlibModel", .own = hamlibEnter},
    {.number = 101, .title = "HAMLIB RIG", .item = "Speed",
     .get = [](Works* w) -> double { return speedIndex(w->hamlibSpeed); },
     .set = [](Works* w, double v) { w->hamlibSpeed = kHamlibSpeeds[static_cast<int>(v)]; },
     .format = "%s", .choices = kHamlibSpeedTexts, .choiceCount = kHamlibSpeedCount,
     .edit = Edit::Choice, .enter = Enter::Own, .key = "HamlibSpeed", .own = hamlibEnter},
    {.number = 102, .title = "HAMLIB RIG", .item = "Poll (ms)",
     .get = [](Works* w) -> double { return w->hamlibPollMs; },
     .set = [](Works* w, double v) { w->hamlibPollMs = static_cast<int>(v); },
     .format = "%d", .edit = Edit::Step, .step = 10, .lo = 20, .hi = 60000, .bound = Bound::Keep,
     .repeats = true, .key = "HamlibPoll"},
};
// clang-format on

constexpr MenuEntryDef entryDef(const MenuSpec& m) {
    MenuEntryDef e{};
    e.number = m.number;
    for (int i = 0; m.title[i] && i < 20; i++)
        e.title[i] = m.title[i];
    for (int i = 0; m.item[i] && i < 19; i++)
        e.items[0].name[i] = m.item[i];
    e.items[0].leftRight = m.edit == Edit::Address || m.positions ? 1 : 0;
    e.itemCount = 1;
    return e;
}

template <size_t... I> constexpr std::array<MenuEntryDef, kMenuEntries> entryDefs(std::index_sequence<I...>) {
    return {entryDef(kMenu[I])...};
}

double rounded(double v, double unit) {
    return unit > 0 ? static_cast<double>(std::lround(v * unit)) / unit : std::round(v);
}

// One PLUS or MINUS on a Step entry.
void step(Works* w, const MenuSpec& m, bool plus) {
    const double v = m.get(w);
    double next = rounded(v + (plus ? m.step : -m.step), m.unit);
    const double hi = m.hiOf ? m.hiOf(w) : m.hi;
    switch (m.bound) {
    case Bound::None:
        break;
    case Bound::Wrap:
        if (next > hi)
            next = m.lo;
        if (next < m.lo)
            next = hi;
        break;
    case Bound::Clamp:
        next = next < m.lo ? m.lo : next > hi ? hi : next;
        break;
    case Bound::Keep:
        if (next < m.lo || next > hi)
            next = v;
        break;
    }
    m.set(w, next);
}

// A value with clamped bounds is kept within them whatever the action, ENTER too,
// so that a value from the file outside them is never saved again.
void settle(Works* w, const MenuSpec& m) {
    if (m.bound != Bound::Clamp)
        return;
    const double v = m.get(w), hi = m.hiOf ? m.hiOf(w) : m.hi;
    if (v < m.lo || v > hi)
        m.set(w, v < m.lo ? m.lo : hi);
}

int choiceIndex(Works* w, const MenuSpec& m) {
    const int v = static_cast<int>(m.get(w));
    return v < 0 ? 0 : v >= m.choiceCount ? m.choiceCount - 1 : v;
}

void enter(Works* w, const MenuSpec& m) {
    switch (m.enter) {
    case Enter::Save:
        save(w);
        break;
    case Enter::FreqSens:
        IncPNTIn_CMDLinear(kCmdFreqSens, w);
        save(w);
        break;
    case Enter::Lan:
        // Remounts /, rewrites the file and restarts the interfaces: slow work.
        StorageJob("network", [] { SaveLanParam(); });
        break;
    case Enter::Nothing:
        break;
    case Enter::Own:
        m.own(w, kMenuEnter);
        break;
    }
}

} // namespace

const std::array<MenuEntryDef, kMenuEntries> menuPar =
    entryDefs(std::make_index_sequence<kMenuEntries>());

const char* MenuSetupKey(int entry, int* scale) {
    if (entry < 0 || entry >= kMenuEntries)
        return nullptr;
    if (scale)
        *scale = kMenu[entry].scale;
    return kMenu[entry].key;
}

bool MenuAddress(int e, MenuAddressRef* ref) {
    switch (e) {
    case 9:
        *ref = {IP_v, &CntIP};
        return true;
    case 10:
        *ref = {NetMask_v, &CntNetMask};
        return true;
    case 11:
        *ref = {Gateway_v, &CntGateway};
        return true;
    case 12:
        *ref = {DNS_v, &CntDNS};
        return true;
    default:
        return false;
    }
}

void MenuPrevious(Works* w) {
    w->menuEntry = w->menuEntry <= 0 ? kMenuEntries - 1 : w->menuEntry - 1;
    w->menuItem = 0;
}

void MenuNext(Works* w) {
    w->menuEntry = w->menuEntry >= kMenuEntries - 1 ? 0 : w->menuEntry + 1;
    w->menuItem = 0;
}

void MenuEditStarts(Works* w) { w->codeEditing = 0; }

bool MenuCodeEdit(Works* w, int e, char* code, size_t size, int* cursor) {
    if (e < 0 || e >= kMenuEntries || kMenu[e].show != remoteCodeText)
        return false;
    remoteCodeText(w, code, size);
    const int c = w->codeCursor;
    *cursor = w->codeEditing && c >= 0 && c < kRemoteCodeLength ? c : 0;
    return true;
}

bool MenuItemReadOnly(Works* w) {
    const int e = w->menuEntry;
    return e >= 0 && e < kMenuEntries && menuPar[e].items[w->menuItem].readOnly;
}

bool MenuItemLeftRight(Works* w) {
    const int e = w->menuEntry;
    return e >= 0 && e < kMenuEntries && menuPar[e].items[w->menuItem].leftRight;
}

int ModifyParameter(Works* w, int action) {
    const int e = w->menuEntry;
    if (e < 0 || e >= kMenuEntries)
        return 0;
    const MenuSpec& m = kMenu[e];
    if (m.itemZeroOnly && !m.actsOnAnyItem && w->menuItem != 0)
        return 0;
    if (action == kMenuEnter) {
        settle(w, m);
        enter(w, m);
        return 0;
    }
    const bool plus = action == kMenuPlus, minus = action == kMenuMinus;
    const bool leftRight = action == kMenuLeft || action == kMenuRight;
    switch (m.edit) {
    case Edit::Toggle:
        m.set(w, m.get(w) ? 0 : 1);
        break;
    case Edit::Step:
        if (plus || minus)
            step(w, m, plus);
        break;
    case Edit::Choice:
        if (plus || minus) {
            const int v = static_cast<int>(m.get(w)) + (plus ? 1 : -1);
            m.set(w, v >= m.choiceCount ? 0 : v < 0 ? m.choiceCount - 1 : v);
        }
        break;
    case Edit::Next:
        m.set(w, (static_cast<int>(m.get(w)) + 1) % m.choiceCount);
        break;
    case Edit::Address: {
        MenuAddressRef a{};
        if (MenuAddress(e, &a))
            *a.cursor = ModifyIP(action, *a.cursor, a.octets);
        break;
    }
    case Edit::Own: {
        const int repeat = m.own(w, action);
        settle(w, m);
        return repeat;
    }
    }
    settle(w, m);
    if (leftRight && m.lrSaves)
        save(w);
    return ((plus || minus) && m.repeats) || (leftRight && m.lrRepeats);
}

void LoadParameterMenu(Works* w, char* text, size_t size, int e, int item) {
    text[0] = '\0';
    if (e < 0 || e >= kMenuEntries)
        return;
    const MenuSpec& m = kMenu[e];
    if (item != 0 && m.itemZeroOnly)
        return;
    MenuAddressRef a{};
    if (m.show) {
        m.show(w, text, size);
    } else if (m.edit == Edit::Address && MenuAddress(e, &a)) {
        SplitAddrInv(text, static_cast<int>(size), a.octets);
    } else if (m.choices) {
        std::snprintf(text, size, m.format, m.choices[choiceIndex(w, m)]);
    } else if (m.real) {
        std::snprintf(text, size, m.format, m.get(w));
    } else {
        std::snprintf(text, size, m.format, static_cast<int>(m.get(w)));
    }
}
