// The key actions of every key page.
//
// They run on the keys' thread: they change pages and settings, queue amplifier
// commands and draw nothing themselves (the refresh thread shows the result),
// except that a page change loads its skin into the background at once.
#include "ui/KeyActions.h"

#include "amp/Alarms.h"
#include "core/AmpRequests.h"
#include "core/CmdRing.h"
#include "amp/Linear.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "remote/StationRecord.h"
#include "tuner/AutoTune.h"
#include "tuner/Banks.h"
#include "tuner/Sources.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"
#include "tuner/TunerRequests.h"
#include "draw/Fb.h"
#include "ui/Keys.h"
#include "ui/Menu.h"
#include "draw/Png.h"

#include <cstdio>

namespace {

bool isLong(int longBits) { return longBits != 0; }

// "Unless closing": a key that closes the status page does nothing else.
bool closing(Works* w) { return EscFromStatus(w) == 1; }

void saveToBank(Works* w) { SaveToBank(w, w->NumBanco, w->antennaIdx); }

// The attenuator key: the next step, or standby after the last one; neither
// standby nor the step after it while transmitting. The bank row keeps the choice.
void nextAttenuator(Works* w) {
    {
        OperatingPointLock op(OperatingPointMutex());
        int shown = static_cast<uint8_t>(w->attenuatorShown + 1);
        const bool standby = w->ampBypass == 1;
        if (StandbyVerdict(!standby, standby, AmpReadingsNow(w).transmitting()) != AmpVerdict::Ok) {
            if (standby)
                AddErrore(w, kAlarmCmdRefused);
            else if (shown > 3) // standby is not offered
                shown = 0;
        } else if (shown > 4) {
            shown = 0;
        }
        w->attenuatorShown = static_cast<uint8_t>(shown);
        if (shown <= 3) {
            w->attenuator = static_cast<uint8_t>(shown);
            IncPNTIn_CMDLinear(kCmdAtt, w);
            if (w->ampBypass == 1)
                IncPNTIn_CMDLinear(kCmdBypassOff, w);
        } else if (w->ampBypass == 0) {
            IncPNTIn_CMDLinear(kCmdBypassOn, w);
        }
    }
    saveToBank(w); // the bank file is written without the lock
}

// Standby as the attenuator key reaches it after its last step, or operate as
// the key leaves standby (at its first step), under the key's rule.
AmpVerdict setStandby(Works* w, bool wanted) {
    {
        OperatingPointLock op(OperatingPointMutex());
        const bool standby = w->ampBypass == 1;
        const AmpVerdict v = StandbyVerdict(wanted, standby, AmpReadingsNow(w).transmitting());
        if (v != AmpVerdict::Ok || wanted == standby)
            return v;
        if (wanted) {
            w->attenuatorShown = 4;
            IncPNTIn_CMDLinear(kCmdBypassOn, w);
        } else {
            w->attenuatorShown = 0;
            w->attenuator = 0;
            IncPNTIn_CMDLinear(kCmdAtt, w);
            IncPNTIn_CMDLinear(kCmdBypassOff, w);
        }
    }
    saveToBank(w);
    return AmpVerdict::Ok;
}

// The antenna key: the next of the three outputs (`index` -1), or the one
// asked for (0..2); the bank row keeps it.
void antennaTo(Works* w, int index) {
    {
        OperatingPointLock op(OperatingPointMutex());
        if (index == w->antennaIdx)
            return;
        w->antennaIdx = index >= 0 ? index : w->antennaIdx >= 2 ? 0 : w->antennaIdx + 1;
        IncPNTIn_CMDLinear(kCmdAntenna, w);
    }
    saveToBank(w);
}

void nextAntenna(Works* w) { antennaTo(w, -1); }

void page0(Works* w, int key, bool lng) {
    switch (key) {
    case 1:
        if (closing(w))
            return;
        if (w->pages.viewFlags.test(2)) {
            w->pages.viewFlags.clear(2);
            SetWorkImg(w);
        } else if (!lng) {
            ChangeBanco(w);
        } else {
            w->pages.viewFlags.set(2);
            PictureLock lock(PictureMutex());
            LoadSkin(w, "statusB", 1);
            fbSetBack(w->fb);
            w->pages.keyPage = kPageMemTable;
            SetModeWorkLabel(w);
        }
        break;
    case 2:
        if (!lng && !closing(w))
            nextAttenuator(w);
        break;
    case 3:
        if (!closing(w))
            nextAntenna(w);
        break;
    case 4:
        if (!closing(w))
            w->pages.keyPage = kPageTuner;
        break;
    case 5:
        if (!closing(w)) {
            MenuEditStarts(w);
            w->pages.keyPage = kPageMenuChoose;
        }
        break;
    case 6:
        if (lng) {
            w->pages.viewFlags.set(1);
            PictureLock lock(PictureMutex());
            LoadSkin(w, "status", 1);
            fbSetBack(w->fb);
            return;
        }
        if (closing(w))
            return;
        w->pages.screenPage = w->pages.screenPage >= 5 ? 1 : w->pages.screenPage + 1;
        w->pages.viewFlags.replace(0);
        {
            // The peak needle is the refresh tick's, which holds this lock.
            PictureLock lock(PictureMutex());
            w->meters.peakAngle[1] = 0.0f;
            SetWorkImg(w);
        }
        LogInfo("type to %d\n", w->pages.screenPage.load());
        break;
    default:
        break;
    }
}

int page2(Works* w, int key) {
    switch (key) {
    case 2:
        return ModifyParameter(w, kMenuLeft);
    case 3:
        return ModifyParameter(w, kMenuRight);
    case 4:
        return ModifyParameter(w, kMenuMinus);
    case 5:
        return ModifyParameter(w, kMenuPlus);
    case 6:
        ModifyParameter(w, kMenuEnter);
        w->pages.keyPage = w->pages.viewFlags.test(2) ? kPageMemTable : kPageMenuChoose;
        return 0;
    default:
        return 0;
    }
}

void page3(Works* w, int key, bool lng) {
    w->pages.keyNotice.clear(2);
    switch (key) {
    case 1:
        if (w->tuneState == 0)
            w->pages.keyPage = kPageMain;
        break;
    case 4:
        TunerRequest(w, TunerAsk::GoTune);
        break;
    case 5: {
        // The link thread sets the tuner's bypass byte; the bank row records
        // what the key chose.
        const bool bypass = !w->tunerBypass;
        if (!bypass) {
            TunerRequest(w, TunerAsk::BypassOff);
            GestioneLoadTuneVal(w, 1);
        } else {
            IncPNTIn_CMDLinear(kCmdTunerBypass, w);
        }
        SaveToBankWithBypass(w, w->NumBanco, w->antennaIdx, bypass ? 1 : 0);
        break;
    }
    case 6:
        if (lng) {
            // The whole amplifier state again, after the amplifier was replaced or reset.
            IncPNTIn_CMDLinear(kCmdProtOff, w);
            IncPNTIn_CMDLinear(kCmdClearProt, w);
            const FreqSource* src = CurrentSource(w);
            if (!src || !src->amplifierCounts)
                IncPNTIn_CMDLinear(kCmdFreq, w);
            for (int cmd : {kCmdThresholds, kCmdBypassOff, kCmdAn, kCmdAntenna, kCmdAtt})
                IncPNTIn_CMDLinear(cmd, w);
        } else if (!w->pages.manualTune) {
            w->pages.manualTune = 1;
            IncPNTIn_CMDLinear(kCmdTuneQuery, w);
            w->pages.keyPage = kPageManualTune;
            ImpostaLblManuale(w);
        } else {
            w->pages.manualTune = 0;
        }
        break;
    default:
        break;
    }
}

// One step of L or C, done by the link thread before it sends the word this
// queues; repeats while the key is held.
int stepLC(Works* w, bool inductor, int delta) {
    TunerRequest(w, inductor ? TunerAsk::StepL : TunerAsk::StepC, delta);
    IncPNTIn_CMDLinear(kCmdTuneWord, w);
    return 1;
}

int page4(Works* w, int key, bool lng) {
    switch (key) {
    case 1:
        if (!lng) {
            w->txButtonFlags.change(2, 1); // a receive request
            w->pages.targetBank = w->NumBanco.load();
            w->pages.targetAntenna = w->antennaIdx.load();
            w->pages.keyPage = kPageSaveTune;
        } else if (w->tuneState == 0) {
            TunerRequest(w, TunerAsk::NextMode);
            IncPNTIn_CMDLinear(kCmdTuneWord, w);
        }
        return 0;
    case 2:
        return stepLC(w, true, -1);
    case 3:
        return stepLC(w, true, +1);
    case 4:
        return stepLC(w, false, -1);
    case 5:
        return stepLC(w, false, +1);
    case 6:
        if (w->txButtonFlags.test(2)) {
            w->txButtonFlags.change(2 | 16 | 32, 1); // a receive request
            KeyLabels[4].line1[5].set("StartTX");
        } else {
            if (AmpReadingsNow(w).coaxRxTx()) {
                OperatingPointLock op(OperatingPointMutex());
                w->anState = 0;
                IncPNTIn_CMDLinear(kCmdAn, w);
                w->txButtonFlags.set(16);
            }
            w->txButtonFlags.set(3);
            KeyLabels[4].line1[5].set("StopTX");
        }
        return 0;
    default:
        return 0;
    }
}

void page5(Works* w, int key) {
    const int code = w->deviceErrorCode;
    if (key != 5 && key != 6)
        return;
    // The code goes to -1 before the thread is started again, so that a retry
    // that fails at once shows its own page instead of being cleared.
    if (!DeviceErrorStep(w, code, kDevErrRetry))
        return;
    const FreqSource* src = SourceOfErrorPage(w, code);
    if (key == 5) {
        if (code == kDevErrLinear)
            StartService(w, Service::Linear);
        else if (code == kDevErrUsb)
            StartService(w, Service::UsbRx);
        else if (src)
            StartService(w, src->service);
        return;
    }
    if (code == kDevErrLinear) {
        StartService(w, Service::Linear);
    } else if (code == kDevErrUsb) {
        w->setup->EnableFFT = '0';
    } else if (src && src->escOff) {
        BankLock bank(BankMutex());
        src->escOff(*w->setup) = '0';
    }
}

void page6(Works* w, int key) {
    const int rows = w->antennaRowCount;
    switch (key) {
    case 1:
        w->pages.viewFlags.clear(2);
        SetWorkImg(w);
        w->pages.keyPage = kPageMain;
        break;
    case 2:
        ChangeInterfaceBanco(w);
        break;
    case 3:
        w->pages.editRow = w->pages.editRow <= 0 ? (rows > 0 ? rows - 1 : 0) : w->pages.editRow - 1;
        break;
    case 4:
        w->pages.editRow = w->pages.editRow >= rows - 1 ? 0 : w->pages.editRow + 1;
        break;
    case 5:
        w->pages.keyPage = kPageBankUtil;
        break;
    case 6:
        w->pages.editColumn = 0;
        w->pages.keyPage = kPageMemEdit;
        break;
    default:
        break;
    }
}

void page7(Works* w, int key) {
    switch (key) {
    case 1:
        LoadTabConfig(w, w->NumBanco);
        w->pages.editColumn = -1;
        w->pages.keyPage = kPageMemTable;
        SetModeWorkLabel(w); // writes only on its own page: after the change
        break;
    case 2:
        w->pages.editColumn = w->pages.editColumn <= 0 ? 4 : w->pages.editColumn - 1;
        break;
    case 3:
        w->pages.editColumn = w->pages.editColumn >= 4 ? 0 : w->pages.editColumn + 1;
        break;
    case 4:
        ModifytabAntenna(w, 0);
        break;
    case 5:
        ModifytabAntenna(w, 1);
        break;
    case 6:
        SaveTabConfig(w, w->NumBanco);
        break;
    default:
        break;
    }
}

void page8(Works* w, int key) {
    switch (key) {
    case 1:
        w->pages.keyPage = kPageMain;
        break;
    case 2:
        w->pages.targetBank = w->pages.targetBank + 1 >= w->MAXbank ? 0 : w->pages.targetBank + 1;
        break;
    case 3:
        w->pages.targetAntenna = w->pages.targetAntenna >= 2 ? 0 : w->pages.targetAntenna + 1;
        break;
    case 6:
        if (DecodeModoFromTuneval(w->tunerWord) != kTuneBypass) {
            LoadTabAtu(w, w->pages.targetBank, w->pages.targetAntenna);
            InsertTuneToMem(w, w->pages.targetBank, w->pages.targetAntenna);
            LoadAllBankTable(w, w->NumBanco);
        } else {
            w->pages.keyNotice.set(2); // "ATU ByPass not saved!"
        }
        w->pages.keyPage = kPageTuner;
        break;
    default:
        break;
    }
}

void page9to11(Works* w, int page, int key) {
    const int banks = w->MAXbank;
    if (page == kPageBankUtil) {
        if (key == 1) {
            w->pages.keyPage = kPageMemTable;
            SetModeWorkLabel(w);
        } else if (key == 2) {
            w->pages.copyOrigin = w->NumBanco.load();
            w->pages.keyPage = kPageBankCopy;
        } else if (key == 3) {
            w->pages.resetTarget = w->NumBanco.load();
            w->pages.keyPage = kPageBankReset;
        }
    } else if (page == kPageBankCopy) {
        if (key == 1) {
            w->pages.keyPage = kPageMemTable;
        } else if (key == 2) {
            w->pages.copyOrigin = w->pages.copyOrigin + 1 >= banks ? 0 : w->pages.copyOrigin + 1;
        } else if (key == 3) {
            w->pages.copyDest = w->pages.copyDest + 1 >= banks ? 0 : w->pages.copyDest + 1;
        } else if (key == 6) {
            CopyBank(w, w->pages.copyOrigin, w->pages.copyDest);
            w->pages.keyPage = kPageMemTable;
        }
    } else {
        if (key == 1) {
            w->pages.keyPage = kPageMemTable;
        } else if (key == 2) {
            // The value after the last bank stands for all banks.
            w->pages.resetTarget = w->pages.resetTarget >= banks ? 0 : w->pages.resetTarget + 1;
        } else if (key == 6) {
            ResetBank(w, w->pages.resetTarget);
            w->pages.keyPage = kPageMemTable;
        }
    }
}

} // namespace

AmpVerdict ApplyAmpRequest(Works* w, const AmpRequest& r) {
    AmpVerdict v = AmpVerdict::Ok;
    switch (r.what) {
    case AmpAsk::Standby:
    case AmpAsk::Operate:
        v = setStandby(w, r.what == AmpAsk::Standby);
        break;
    case AmpAsk::FaultReset:
        GPIO_Errori(w);
        break;
    case AmpAsk::Antenna:
        if (r.value < 1 || r.value > 3)
            v = AmpVerdict::NotHere;
        else
            antennaTo(w, r.value - 1);
        break;
    case AmpAsk::Tune:
        // The link thread looks again before it starts the search.
        v = TuneKeyVerdict(w);
        if (v == AmpVerdict::Ok && !TunerRequest(w, TunerAsk::StartTune))
            v = AmpVerdict::NotNow;
        break;
    }
    char what[24];
    if (r.what == AmpAsk::Antenna)
        std::snprintf(what, sizeof what, "antenna %d", r.value);
    else
        std::snprintf(what, sizeof what, "%s", AmpAskName(r.what));
    if (v == AmpVerdict::Ok)
        LogInfo("amplifier: %s asked by %s", what, r.from);
    else if (v == AmpVerdict::NotHere)
        LogErr("amplifier: %s asked by %s refused: this amplifier has none", what, r.from);
    else
        LogErr("amplifier: %s asked by %s refused: %s", what, r.from,
               r.what == AmpAsk::Tune ? "the tune key would start no search now" : "the amplifier transmits");
    return v;
}

int DecodeTasto(Works* w, int key, int longBits) {
    w->lastKeyTime = static_cast<int64_t>(plat_mono_s());
    if (w->meters.saverOn) {
        // The refresh tick turns the saver on under the picture lock; it is
        // turned off under it too.
        PictureLock lock(PictureMutex());
        if (w->meters.saverOn) {
            SetWorkImg(w);
            w->meters.saverOn = 0;
            LogOut("----------> DISATTIVO SAVE SCREEN\n");
            return 0;
        }
    }
    if (key == 1) {
        // On the operator's unit the reset goes to the station as well.
        const bool station = AskStationReset(w);
        if (GPIO_Errori(w) || station)
            return 0;
    }

    const bool lng = isLong(longBits);
    int repeat = 0;
    const int page = w->pages.keyPage;
    switch (page) {
    case kPageMain:
        page0(w, key, lng);
        break;
    case kPageMenuChoose:
        if (key == 1)
            w->pages.keyPage = kPageMain;
        else if (key == 3)
            MenuPrevious(w);
        else if (key == 4)
            MenuNext(w);
        else if (key == 6 && !MenuItemReadOnly(w)) {
            MenuEditStarts(w);
            w->pages.keyPage = kPageMenuEdit;
        }
        break;
    case kPageMenuEdit:
        repeat = page2(w, key);
        break;
    case kPageTuner:
        page3(w, key, lng);
        break;
    case kPageManualTune:
        repeat = page4(w, key, lng);
        break;
    case kPageDeviceError:
        page5(w, key);
        break;
    case kPageMemTable:
        page6(w, key);
        break;
    case kPageMemEdit:
        page7(w, key);
        break;
    case kPageSaveTune:
        page8(w, key);
        break;
    case kPageBankUtil:
    case kPageBankCopy:
    case kPageBankReset:
        page9to11(w, page, key);
        break;
    default:
        break;
    }
    w->pages.keyNotice.clear(1);
    return repeat;
}
