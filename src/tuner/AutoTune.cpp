// The automatic tuning search.
//
// Each step runs in the amplifier link thread after a status reply: it judges
// the SWR measured with the tune word sent last and picks the next word, in
// hill-climbing runs along L and C with coarse and fine steps, first in CL,
// then in LC, then a final L run from the best point of the whole search.
#include "tuner/AutoTune.h"

#include "core/AlarmList.h"
#include "core/CmdRing.h"
#include "tuner/Bands.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Clock.h"
#include "tuner/Retune.h"
#include "tuner/Sources.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"
#include "core/KeyLabels.h"

#include <cmath>
#include <cstdio>
#include <mutex>

TuneSearch search;
const int SWRTimeoutCICLI[5] = {600, 400, 300, 200, 100};

namespace {

// The samples are the link thread's; the keys and the refresh tick only read the
// latest SWR when they end a search. One small lock keeps those reads whole.
std::mutex g_sampleMut;

bool worse() {
    return static_cast<double>(search.vTuneParam[1].swrVal) + 0.1 < static_cast<double>(search.vTuneParam[0].swrVal);
}

void applyL(Works* w, int l) {
    w->tuner.tuneL = static_cast<uint32_t>(l);
    SetI(w, static_cast<uint32_t>(l));
}

void applyC(Works* w, int c) {
    w->tuner.tuneC = static_cast<uint32_t>(c);
    SetC(w, static_cast<uint32_t>(c));
}

void modeTo(Works* w, uint32_t bit) { w->tunerWord = (w->tunerWord & ~kModeMask) | bit; }

// A coarse run: on by `step` while the SWR does not worsen and the bank has room;
// then the fine run `next` starts one below.
void coarseRun(Works* w, int v, int step, void (*apply)(Works*, int), int next) {
    if (!worse() && v + step < 511) {
        apply(w, v + step);
        return;
    }
    w->tuner.tuneStep = next;
    search.cnttunefine = 0;
    if (v - 1 > 0)
        apply(w, v - 1);
}

} // namespace

void Clr_vTuneParam(Works* w) {
    std::lock_guard<std::mutex> lock(g_sampleMut);
    w->tuner.bestSwr = 0.0f;
    search.tuneParam = TuneSample{999.0f, 0.0f, 0, 0, 0};
    search.miglioretuneParam = search.tuneParam;
    for (TuneSample& s : search.vTuneParam)
        s = search.tuneParam;
}

void CtrlNuovoTune() {
    if (search.tuneParam.swrVal < search.miglioretuneParam.swrVal)
        search.miglioretuneParam = search.tuneParam;
    for (int i = kTuneHistory - 1; i > 0; i--)
        search.vTuneParam[i] = search.vTuneParam[i - 1];
    search.vTuneParam[0] = search.tuneParam;
}

void TuneEnd(Works* w) {
    std::lock_guard<std::mutex> lock(g_sampleMut);
    search.tuneParam = search.miglioretuneParam;
    // The meters show the best point found until the next status reply.
    AmpReadings r = AmpReadingsNow(w);
    r.swr = search.tuneParam.swrVal;
    r.pwrFwd = search.tuneParam.fwd;
    PublishAmpReadings(w, r);
    w->tuner.tuneL = search.tuneParam.l;
    w->tuner.tuneC = search.tuneParam.c;
    w->tunerWord = search.tuneParam.word;
    w->tuner.bestSwr = search.tuneParam.swrVal;
}

void EscAutoTune(Works* w, int store) {
    float last;
    {
        std::lock_guard<std::mutex> lock(g_sampleMut);
        last = search.tuneParam.swrVal;
    }
    const bool stored = store && last <= 6.0f;
    if (!(last <= 6.0f)) {
        AddErrore(w, kAlarmTuneMaxSwr);
        LogOut("------- ERRORE MAX TUNE (%f)\n", last);
    } else if (store) {
        InsertTuneToMem(w, w->NumBanco, w->antennaIdx);
    }
    RetuneNoteEnd(w, stored, last, plat_mono_ms());
    IncPNTIn_CMDLinear(kCmdAtt, w);
    search.cnttune = 0;
    if (w->tuneModeFlags.test(0x01))
        w->tuneModeFlags.set(0x04);
    ThresholdsAfterTune(w);
    w->tuneState = 0;
}

int TuneStep(Works* w) {
    AmpReadings r = AmpReadingsNow(w);
    if (r.highSwrTripped()) {
        // A tripped protection counts as the worst match.
        r.swr = 100.0f;
        PublishAmpReadings(w, r);
        w->tuneState = 2;
    }
    {
        std::lock_guard<std::mutex> lock(g_sampleMut);
        search.tuneParam = TuneSample{r.swr, r.pwrFwd, w->tuner.tuneL, w->tuner.tuneC, w->tunerWord};
        search.cnttune++;
        CtrlNuovoTune();
    }
    const float s = search.tuneParam.swrVal;
    if (s < w->settings.swrEscAutoTune && s > 0.01f) {
        TuneEnd(w);
        EscAutoTune(w, 1);
        return 1;
    }
    return 0;
}

void StartAutotune(Works* w) {
    if (w->tunerBypass != 0)
        return; // a bypassed tuner is never tuned
    w->tuner.tuneStep = 0;
    IncPNTIn_CMDLinear(kCmdProtOn, w);
    IncPNTIn_CMDLinear(kCmdAttTune, w);
    ThresholdsForTune(w);
    w->tunerBypass = 0;
    IncPNTIn_CMDLinear(kCmdClearProt, w);
    IncPNTIn_CMDLinear(kCmdProtOff, w);
    CmdQueueStartDrain(w, false);
    w->tuneState = 1;
    if (AmpReadingsNow(w).coaxRxTx()) {
        OperatingPointLock op(OperatingPointMutex());
        w->anState = 0;
        IncPNTIn_CMDLinear(kCmdAn, w);
    }
    LogOut("--------- START AUTO TUNE (%x) %i\n", w->tuneModeFlags.load(),
                 w->tuner.tuneStep.load());
}

namespace {

// Tuning on transmit is on (AutoTuneMode) and its last search is not just over.
bool searchArmed(uint8_t tuneModeFlags) { return (tuneModeFlags & 0x01) && !(tuneModeFlags & 0x08); }

} // namespace

AmpVerdict TuneKeyVerdict(const Works* w) {
    if (w->settings.tuneEnabled < 0)
        return AmpVerdict::NotHere;
    if (w->tuneState != 0 || !searchArmed(w->tuneModeFlags.load()) || w->tunerBypass != 0)
        return AmpVerdict::NotNow;
    return AmpVerdict::Ok;
}

void GoTune(Works* w) {
    if (w->settings.tuneEnabled < 0)
        return; // no tuner fitted
    if (w->tuneState != 0) {
        LogOut("esc tune TUNEMENU\n");
        EscAutoTune(w, 0);
        return;
    }
    LogOut("c-START TUNE (%x)!!\n", w->tuneModeFlags.load());
    const uint8_t flags = w->tuneModeFlags.load();
    if (searchArmed(flags)) {
        StartAutotune(w);
        LogOut("b-START TUNE!!\n");
        // No carrier for a search that did not start (tuner bypassed): nothing
        // would end it and the transceiver would stay keyed.
        const FreqSource* src = CurrentSource(w);
        if (src && src->followsTransceiver && w->tuneState != 0) {
            w->tuneModeFlags.change(0x40, 0x10);
            LogOut("a-START TUNE!!\n");
        }
    }
}

void TuneTask(Works* w) {
    if (w->cmdQueueDrain == 1)
        return;
    const int limitIdx = w->settings.autoTuneMaxCycles <= 4 ? w->settings.autoTuneMaxCycles.load() : 4;
    if (search.cnttune > SWRTimeoutCICLI[limitIdx]) {
        TuneEnd(w);
        EscAutoTune(w, 0);
        AddErrore(w, w->settings.swrEscAutoTune == 0.0f ? kAlarmTuneTimeout : kAlarmTuneSwr);
        AttivaDisattivaProtezione(w, 1);
        return;
    }
    int l = static_cast<int>(w->tuner.tuneL), c = static_cast<int>(w->tuner.tuneC);
    switch (w->tuner.tuneStep) {
    case 0:
        w->tuner.tuneStep = 1;
        break;
    case 1:
        Clr_vTuneParam(w);
        modeTo(w, kModeCL);
        KeyLabels[0].line2[3].set("Off");
        applyC(w, 0);
        applyL(w, 0);
        search.cnttune = 0;
        w->tuner.tuneStep = 2;
        break;
    case 2:
        if (w->trxTransmitting == 1) {
            plat_sleep_ms(3);
            w->tuner.tuneStep = 3;
        }
        break;
    case 3:
        if (TuneStep(w))
            break;
        coarseRun(w, l, 4, applyL, 4);
        break;
    case 4:
        if (TuneStep(w))
            break;
        if (worse()) {
            w->tuner.tuneStep = 5;
            search.cnttunefine = 0;
            applyC(w, c + 8);
        } else if (l >= 1 && search.cnttunefine < 8) {
            search.cnttunefine++;
            applyL(w, l - 1);
        } else {
            w->tuner.tuneStep = 5;
            applyC(w, c + 8);
            search.cnttunefine = 0;
        }
        break;
    case 5:
    case 8:
        if (TuneStep(w))
            break;
        coarseRun(w, c, 8, applyC, w->tuner.tuneStep == 5 ? 6 : 9);
        break;
    case 6:
        if (TuneStep(w))
            break;
        if (!worse() && c >= 1 && search.cnttunefine < 16) {
            search.cnttunefine++;
            applyC(w, c - 1);
        } else {
            w->tuner.tuneStep = 7;
            search.cnttunefine = 0;
            modeTo(w, kModeLC);
            applyC(w, 0);
        }
        break;
    case 7:
        if (TuneStep(w))
            break;
        if (c + 8 <= 510)
            applyC(w, c + 8);
        w->tuner.tuneStep = 8;
        break;
    case 9:
        if (TuneStep(w))
            break;
        if (worse()) {
            w->tuner.tuneStep = 10;
            search.cnttunefine = 0;
            TuneEnd(w);
        } else if (c >= 1 && search.cnttunefine < 16) {
            search.cnttunefine++;
            applyC(w, c - 1);
        } else {
            w->tuner.tuneStep = 10;
            search.cnttunefine = 0;
            TuneEnd(w);
            l = static_cast<int>(w->tuner.tuneL);
            if (!(l + 2 > 510))
                applyL(w, l + 2);
        }
        break;
    case 10:
        if (TuneStep(w))
            break;
        coarseRun(w, l, 2, applyL, 11);
        break;
    case 11:
        if (TuneStep(w))
            break;
        if (worse()) {
            w->tuner.tuneStep = 12;
            TuneEnd(w);
        } else if (l >= 1 && search.cnttunefine < 6) {
            search.cnttunefine++;
            applyL(w, l - 1);
        } else {
            w->tuner.tuneStep = 12;
            TuneEnd(w);
        }
        break;
    case 12:
        if (!TuneStep(w))
            EscAutoTune(w, 1);
        break;
    default:
        break;
    }
}
