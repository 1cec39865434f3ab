// The settings menu entries and their edit rules.
#include "ui/Menu.h"

#include "amp/Alarms.h"
#include "amp/CmdQueue.h"
#include "amp/Temperature.h"
#include "app/Threads.h"
#include "core/Keyb.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Command.h"
#include "tuner/Banks.h"
#include "tuner/CAT.h"
#include "ui/Network.h"
#include "ui/Nuova.h"
#include "ui/Time.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr MenuEntryDef entry(int number, const char* title, const char* item, bool leftRight = false) {
    MenuEntryDef e{};
    e.number = number;
    for (int i = 0; title[i] && i < 20; i++)
        e.title[i] = title[i];
    for (int i = 0; item[i] && i < 19; i++)
        e.items[0].name[i] = item[i];
    e.items[0].leftRight = leftRight ? 1 : 0;
    e.itemCount = 1;
    return e;
}

// Hundredths and tenths kept exact while stepping.
float stepRound(float v, float step, float unit) {
    return static_cast<float>(std::lround((v + step) * unit) / static_cast<double>(unit));
}

void save(Works* w) { writeSetup(w); }

// A choice of 0..4 that wraps round at both ends.
int cycle0to4(int v, bool plus, bool minus) {
    if (plus)
        v = v >= 4 ? 0 : v + 1;
    if (minus)
        v = v <= 0 ? 4 : v - 1;
    return v;
}

// An on/off entry: the arrows switch it, the enter key stores it.
template <class Flag> int toggleOrSave(Works* w, bool enter, Flag& flag) {
    if (enter)
        save(w);
    else
        flag = flag ? 0 : 1;
    return 0;
}

// Switching between local and remote operation (leaving local checks that the
// transceiver, its CAT port, its audio and the serial link are there).
void remoteChoice(Works* w) {
    if (w->remoteEnabled) {
        w->remoteEnabled = 0;
        return;
    }
    if (w->setup->EnableFFT != '0') {
        w->remoteEnabled = 1;
        return;
    }
    const int i = Find_Remote_Settings(w);
    const int j = Get_AudioTAV(w);
    const char ser = w->setup->serialLinkEnabled;
    std::fprintf(stderr, "j=%d i=%d enaser=%c\n", j, i, ser);
    if (i == 0 && j > 0 && ser == '1') {
        w->remoteEnabled = 1;
        w->remoteRestart = 0;
        std::fprintf(stderr, "Remote GO!\n");
        return;
    }
    w->remoteRestart = 1;
    if (i == 1)
        AddErrore(w, 5);
    else if (i == 2)
        AddErrore(w, 20);
    else if (i == 3)
        AddErrore(w, 9);
    if (j == 0)
        AddErrore(w, 6);
    if (ser != '1')
        AddErrore(w, 7);
    w->keyNotice.set(4); // "Set to Local Mode: Remote not started. Verify connections"
    std::fprintf(stderr, "Remote ERROR!\n");
}

void remoteApply(Works* w) {
    if (w->remoteEnabled) {
        if (w->setup->WebSocket == '0') {
            w->setup->WebSocket = '1';
            StartThreadSoket(w);
        }
        StartThreadCommRemote(w);
    } else {
        ExitThreadRemote(w);
    }
}

void factoryDefault(Works* w) {
    DeleteAllBanks(w);
    initSetup(w);
    writeSetup(w);
    readSetup(w);
}

} // namespace

const MenuEntryDef menuPar[kMenuEntries] = {
    entry(1, "MAX BANK", " "),
    entry(2, "FREQ", "Input Sens"),
    entry(3, "FREQ", "Period (ms)"),
    entry(4, "AUTO TUNE", "Enable TAV Tune"),
    entry(5, "AUTO TUNE", "Force Attenuator"),
    entry(6, "AUTO TUNE", "Target SWR (0=Off)"),
    entry(7, "AUTO TUNE", "AutoTune Timeout"),
    entry(8, "AUTO TUNE", "ATU Installed"),
    entry(9, "TAV ZIM USE MODE", " "),
    entry(10, "NETWORK LAN", "IP", true),
    entry(11, "NETWORK LAN", "SUBNET", true),
    entry(12, "NETWORK LAN", "GATEWAY", true),
    entry(13, "NETWORK LAN", "DNS", true),
    entry(14, "PLOT", "Ref Lev"),
    entry(15, "PLOT", "Ref Pos"),
    entry(16, "PLOT", "Point Div"),
    entry(17, "PLOT", "Offset"),
    entry(50, "VIEW SCREEN", "DateTime"),
    entry(51, "TEMPERATURE UNITS", " "),
    entry(52, "PEAK POWER METER", " "),
    entry(53, "PEAK POWER METER", "Release Time (ms)"),
    entry(54, "TEMPERATURE ALARM", " SET POINT"),
    entry(55, "SET POWER UNITS", " "),
    entry(56, "SCREEN SAVER TIMEOUT", " "),
    entry(57, "FACTORY DEFAULT", " "),
    entry(58, "BUTTON TIME", "Long Press Time"),
    entry(96, "OFF HW", " "),
    entry(97, "FW UPDATE", " "),
    entry(98, "UI UPDATE", " "),
    entry(99, "REMOTE SERVICE", " "),
};

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
    const bool enter = action == kMenuEnter;
    const bool plus = action == kMenuPlus, minus = action == kMenuMinus;
    const bool leftRight = action == kMenuLeft || action == kMenuRight;
    switch (e) {
    case 0: {
        int v = w->MAXbank;
        if (plus)
            v = v + 1 > 20 ? 2 : v + 1;
        if (minus)
            v = v - 1 < 2 ? 20 : v - 1;
        w->MAXbank = v;
        if (enter || leftRight)
            save(w);
        return 0;
    }
    case 1:
        if (enter) {
            IncPNTIn_CMDLinear(kCmdFreqSens, w);
            save(w);
        } else {
            w->freqSensIn = w->freqSensIn ? 0 : 1;
        }
        return 0;
    case 2:
        if (plus && w->freqPeriod <= 9999)
            w->freqPeriod += 10;
        if (minus && w->freqPeriod > 10)
            w->freqPeriod -= 10;
        if (enter) {
            IncPNTIn_CMDLinear(kCmdFreqSens, w);
            save(w);
        }
        return plus || minus;
    case 3:
        if (enter)
            save(w);
        else
            w->tuneModeFlags.replace(w->tuneModeFlags.test(1) ? 0 : 1);
        return 0;
    case 4:
        if (enter)
            save(w);
        else
            w->attenuatorTune = static_cast<uint8_t>((w->attenuatorTune + 1) & 3);
        return 0;
    case 5: {
        float v = w->swrEscAutoTune;
        if (plus) {
            v = stepRound(v, 0.01f, 100);
            if (v < 1.0f)
                v = 1.0f;
        }
        if (minus) {
            v = stepRound(v, -0.01f, 100);
            if (v < 1.0f)
                v = 0.0f;
        }
        w->swrEscAutoTune = v < 0 ? 0.0f : v > 10 ? 10.0f : v;
        if (enter)
            save(w);
        return plus || minus || leftRight;
    }
    case 6: {
        w->autoTuneMaxCycles = static_cast<uint8_t>(cycle0to4(w->autoTuneMaxCycles, plus, minus));
        if (enter)
            save(w);
        return 0;
    }
    case 7:
        if (enter) {
            save(w);
        } else {
            w->tuneEnabled = static_cast<int8_t>(static_cast<uint8_t>(w->tuneEnabled) ^ 0x80);
            std::fprintf(stderr, "----------> SAVE ATU: 0x%0X\n",
                         static_cast<unsigned>(static_cast<uint8_t>(w->tuneEnabled)));
        }
        return 0;
    case 8:
        if (enter)
            remoteApply(w);
        else
            remoteChoice(w);
        return 0;
    case 9:
    case 10:
    case 11:
    case 12: {
        MenuAddressRef a;
        MenuAddress(e, &a);
        if (enter)
            SaveLanParam();
        else
            *a.cursor = ModifyIP(action, *a.cursor, a.octets);
        return 0;
    }
    case 13:
        if (plus)
            RefLevel += 10;
        if (minus)
            RefLevel -= 10;
        return 0;
    case 14:
        if (plus && RefPos < 10)
            RefPos++;
        if (minus && RefPos > 0)
            RefPos--;
        return 0;
    case 15: {
        int v = PointDiv;
        if (plus && v < 20) {
            v *= 2;
            if (v == 4)
                v = 5;
        }
        if (minus && v >= 2)
            v /= 2;
        PointDiv = v;
        return 0;
    }
    case 16:
        if (plus)
            w->plotOffset = std::lround((w->plotOffset + 0.1) * 10) / 10.0;
        if (minus)
            w->plotOffset = std::lround((w->plotOffset - 0.1) * 10) / 10.0;
        if (enter || leftRight)
            save(w);
        return plus || minus || leftRight;
    case 17:
        return toggleOrSave(w, enter, w->viewTimeStr);
    case 18:
        return toggleOrSave(w, enter, w->tempMode);
    case 19:
        return toggleOrSave(w, enter, w->pwrPeakEnabled);
    case 20: {
        int v = TimerPeakSec;
        if (plus && v + 10 <= 5000)
            v += 10;
        if (minus && v - 10 >= 0)
            v -= 10;
        TimerPeakSec = v;
        if (enter || leftRight)
            save(w);
        return plus || minus || leftRight;
    }
    case 21: {
        float v = w->maxTemperature;
        if (plus)
            v = stepRound(v, 0.1f, 10);
        if (minus)
            v = stepRound(v, -0.1f, 10);
        const float hi = static_cast<float>(w->maxTempAllowed.load());
        w->maxTemperature = v < 20.0f ? 20.0f : v > hi ? hi : v;
        if (enter)
            save(w);
        return plus || minus || leftRight;
    }
    case 22:
        return toggleOrSave(w, enter, w->powerUnits);
    case 23: {
        w->saveScreenIdx = static_cast<uint8_t>(cycle0to4(w->saveScreenIdx, plus, minus));
        if (enter)
            save(w);
        return 0;
    }
    case 24:
        if (!enter) {
            w->factoryArmed = w->factoryArmed ? 0 : 1;
        } else if (w->factoryArmed) {
            factoryDefault(w);
            w->factoryArmed = 0;
        }
        return 0;
    case 25: {
        double v = TIME_LONG_PRESS;
        if (plus)
            v = std::lround((v + 0.1) * 10) / 10.0;
        if (minus)
            v = std::lround((v - 0.1) * 10) / 10.0;
        TIME_LONG_PRESS = v < 0.3 ? 0.3 : v > 5.0 ? 5.0 : v;
        if (enter || leftRight)
            save(w);
        return 0;
    }
    case 26:
        w->panelCmd = 0x85; // ask the converter to switch the unit off
        return 0;
    case 27:
        if (!enter) {
            w->serviceFlags.toggle(1);
        } else if (w->serviceFlags.test(1)) {
            IncPNTIn_CMDLinear(kCmdFwUpdate, w);
            std::fprintf(stderr, "Start AGGFW\n");
        }
        return 0;
    case 28:
        if (!enter) {
            w->serviceFlags.toggle(8);
        } else if (w->serviceFlags.test(8)) {
            std::fprintf(stderr, "Start AGG UI...\n");
            plat_system("/opt/TavZim/getpack.sh");
        }
        return 0;
    case 29:
        if (!enter) {
            w->serviceFlags.toggle(2);
        } else if (w->serviceFlags.test(2)) {
            RemoteConnection();
            std::fprintf(stderr, "Start REMOTE SRV\n");
        }
        return 0;
    default:
        return 0;
    }
}

void LoadParameterMenu(Works* w, char* text, size_t size, int e, int item) {
    text[0] = '\0';
    if (item != 0 && (e == 8 || e == 18 || e == 19 || e >= 21))
        return;
    auto onOff = [](bool on, const char* a, const char* b) { return on ? a : b; };
    switch (e) {
    case 0:
        std::snprintf(text, size, "%d", w->MAXbank.load());
        break;
    case 1:
        std::snprintf(text, size, "%s", w->freqSensIn ? "FQ2" : "FQ1");
        break;
    case 2:
        std::snprintf(text, size, "%d", w->freqPeriod.load());
        break;
    case 3:
        std::snprintf(text, size, "%s", onOff(w->tuneModeFlags.test(1), "On", "Off"));
        break;
    case 4:
        std::snprintf(text, size, "%sdB", AttVectStr[w->attenuatorTune & 3]);
        break;
    case 5:
        std::snprintf(text, size, "%02.02f", w->swrEscAutoTune.load());
        break;
    case 6:
        std::snprintf(text, size, "%s", SWRTimeout[w->autoTuneMaxCycles <= 4 ? w->autoTuneMaxCycles.load() : 4]);
        break;
    case 7:
        std::snprintf(text, size, "%s", onOff(w->tuneEnabled >= 0, "Yes", "No"));
        break;
    case 8:
        std::snprintf(text, size, "%s", onOff(w->remoteEnabled, "Remote", "Local"));
        break;
    case 9:
    case 10:
    case 11:
    case 12: {
        MenuAddressRef a;
        MenuAddress(e, &a);
        SplitAddrInv(text, static_cast<int>(size), a.octets);
        break;
    }
    case 13:
        std::snprintf(text, size, "%d", RefLevel.load());
        break;
    case 14:
        std::snprintf(text, size, "%d", RefPos.load());
        break;
    case 15:
        std::snprintf(text, size, "%d", PointDiv.load());
        break;
    case 16:
        std::snprintf(text, size, "%3.02f", w->plotOffset.load());
        break;
    case 17:
        std::snprintf(text, size, "%s", onOff(w->viewTimeStr, "ON", "OFF"));
        break;
    case 18:
        std::snprintf(text, size, "%s", onOff(w->tempMode == 1, "Fahrenheit", "Celsius"));
        break;
    case 19:
        std::snprintf(text, size, "%s", onOff(w->pwrPeakEnabled, "ON", "OFF"));
        break;
    case 20:
        std::snprintf(text, size, "%i", TimerPeakSec.load());
        break;
    case 21:
        std::snprintf(text, size, "%02.02f", w->maxTemperature.load());
        break;
    case 22:
        std::snprintf(text, size, "%s", onOff(w->powerUnits == 1, "dBm", "Watt"));
        break;
    case 23:
        std::snprintf(text, size, "%s", SaveScreenVal[w->saveScreenIdx <= 4 ? w->saveScreenIdx.load() : 4]);
        break;
    case 24:
        std::snprintf(text, size, "%s", onOff(w->factoryArmed, "Set Default", "No Default"));
        break;
    case 25:
        std::snprintf(text, size, "%01.01f sec", TIME_LONG_PRESS.load());
        break;
    case 26:
        std::snprintf(text, size, "OFF");
        break;
    case 27:
        std::snprintf(text, size, "%s", onOff(w->serviceFlags.test(1), "ON", "OFF"));
        break;
    case 28:
        std::snprintf(text, size, "%s", onOff(w->serviceFlags.test(8), "ON", "OFF"));
        break;
    case 29:
        std::snprintf(text, size, "%s", onOff(w->serviceFlags.test(2), "ON", "OFF"));
        break;
    default:
        break;
    }
}
