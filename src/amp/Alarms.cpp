// The operator's alarm reset: the reset key clears the protection of the
// amplifier, removes the warnings and restarts the remote services that failed.
#include "amp/Alarms.h"

#include "amp/LinearPort.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"

#include <cstdio>
#include <mutex>

namespace {

// Removes every active alarm whose flags match `mask` (all of them for mask 0).
void removeMatching(Works* w, uint8_t mask) {
    int codes[kMaxActiveErrors];
    int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    for (int i = 0; i < n; i++) {
        if (mask && !(w->errorTable[codes[i]].flags & mask))
            continue;
        LogOut("Del temp err: %i (%i , %i)\n", codes[i], i, n);
        DeleteErrore(w, codes[i]);
    }
}

} // namespace

int GPIO_Errori(Works* w) {
    if (w->errorFlags.load() != 0) {
        LogOut("----------> 1- ERRORI!!\n");
        GestErrore(w);
        return 1;
    }
    if (ExistAnError(w) < 0)
        return 0;
    LogOut("----------> 2- ERRORI!!\n");
    GestErroreRemote(w);
    if (ExistAnError(w) == 2)
        return 0; // the over-temperature is still there
    VerificaEsistonoErrori(w);
    return 1;
}

void GestErrore(Works* w) {
    LogOut(">>> ERRORI: GestErrore\n");
    if (w->errorFlags.test(1)) {
        LogOut(">>> ERRORI: ResetBiasCmd\n");
        ResetBiasCmd(w);
        CmdQueueStartDrain(w, true);
    } else if (w->errorFlags.test(4)) {
        VerifyWarningTemporanei(w);
        w->errorFlags.clear(4);
    } else if (ExistAnError(w) >= 0) {
        LogOut(">>> ERRORI2: VerificaEsistonoErrori\n");
        VerificaEsistonoErrori(w);
    }
    GestErroreRemote(w);
}

void ResetBiasCmd(Works* w) {
    const AmpReadings r = AmpReadingsNow(w);
    if (r.ampFault != 0 || r.highSwrTripped()) {
        IncPNTIn_CMDLinear(kCmdClearProt, w);
        LogOut(">>> ERRORI: RESET Protezione AMPL!\n");
    }
    if (r.ampFault & 0x80)
        InitMicroCmd(w);
    IncPNTIn_CMDLinear(kCmdProtOff, w);
    IncPNTIn_CMDLinear(w->ampBypass ? kCmdBypassOn : kCmdBypassOff, w);
    IncPNTIn_CMDLinear(kCmdAtt, w);
}

void ClearDisplayError(Works* w) {
    w->errorFlags.set(2);
    for (int code : {12, 13, 14})
        DeleteErrore(w, code);
    LogOut(" -->reset protezione %c\n", static_cast<char>(AmpReadingsNow(w).ampStatus2));
}

void VerifyWarningTemporanei(Works* w) { removeMatching(w, 4); }

void VerifyWarningTemporaneiDopoResetBias(Works* w) { removeMatching(w, 0); }

void VerificaEsistonoErrori(Works* w) {
    int oldest = ExistAnError(w);
    if (oldest < 0)
        return;
    LogOut("FOUND ERR: %d \n", oldest);
    ResetBiasCmd(w);
    removeMatching(w, 0);
}

void GestErroreSerial(Works* w) {
    ClearDisplayError(w);
    if (w->errorFlags.test(1))
        VerifyWarningTemporaneiDopoResetBias(w);
    if (w->errorFlags.test(4)) {
        VerifyWarningTemporanei(w);
        w->errorFlags.clear(4);
    }
    if (ExistAnError(w) >= 0)
        VerificaEsistonoErrori(w);
}

void GestErroreRemote(Works* w) {
    SetupRecord* s = w->setup;
    LogOut(">>> RESTART REMOTE: %i %i audio %x %x\n", w->remoteEnabled.load(),
           w->remoteRestart.load(), static_cast<unsigned>(s->EnableWrite.load()),
           static_cast<unsigned>(s->EnableRead.load()));
    // Whether a restart was asked for is decided under the switch's lock.
    SwitchRemoteServices(w, RemoteSwitch::Restart);
}
