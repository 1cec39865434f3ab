// Following the operating frequency, and tune on transmit.
//
// Each refresh tick takes the frequency from the bank's source (the
// amplifier's counter, the transceiver's link, the FT-817, a Hamlib rig), and on a change
// queues the frequency, the filter and the thresholds and applies the bank's
// row. With the maker's transceiver it also follows its transmit state and
// supervises tune on transmit: a search starts when the transceiver keys up
// (not again on the same place while it stays tuned, tuner/Retune.h), and one
// the transceiver interrupts is aborted. The searches themselves are
// the link thread's (tuner/TunerRequests.h).
#include "tuner/Follow.h"

#include "core/CmdRing.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "trx/Serial.h"
#include "tuner/Bands.h"
#include "tuner/Banks.h"
#include "tuner/Retune.h"
#include "tuner/Sources.h"
#include "tuner/TuneMem.h"
#include "tuner/TunerRequests.h"

namespace {

void tuneSupervision(Works* w, bool tx) {
    const uint8_t f = w->tuneModeFlags.load();
    if (!(f & 1))
        return;
    // Timed every tick, so that the SWR's hold is measured while transmitting.
    const bool allowed = RetuneAllowed(w, tx, plat_mono_ms());
    if (tx && !(f & 2) && !(f & 16)) {
        if (w->txButtonFlags.load() == 0 && w->rxHoldTicks == 0) {
            if (!allowed)
                return;
            TunerRequest(w, TunerAsk::StartAuto);
            w->tuneModeFlags.set(2);
            w->meters.tuneTickFirst = 0;
            w->meters.tuneTickNow = 0;
        } else if (w->rxHoldTicks > 0) {
            w->rxHoldTicks--;
        }
    } else if (f & 8) {
        if (w->meters.tuneTickNow <= w->meters.tuneTickFirst + 10) {
            if (w->meters.tuneTickFirst == 0)
                w->meters.tuneTickFirst = w->meters.tuneTickNow.load();
            w->meters.tuneTickNow++;
        } else {
            w->tuneModeFlags.clear(2u | 16u | 8u);
            if (!tx) {
                w->meters.tuneTickFirst = 0;
                w->meters.tuneTickNow = 0;
            }
        }
    } else if (f & 16) {
        if (!tx && !(f & 64)) {
            // The carrier once the search's preparation has gone out (its drain
            // is over). Not "the queue is empty": during a search the link takes
            // nothing more from the queue, so a command queued meanwhile (a key,
            // a bank change, the fan) would hold the carrier back for good.
            if (w->cmdQueueDrain == 0) {
                w->tuneModeFlags.set(32);
                w->meters.tuneTickFirst = 0;
                w->meters.tuneTickNow = 0;
            }
        } else if (!tx && (f & 64)) {
            if (++w->meters.tuneTickNow >= 31) {
                TunerRequest(w, TunerAsk::AbortAuto);
                w->tuneModeFlags.clear(16u | 64u);
                w->meters.tuneTickFirst = 0;
                w->meters.tuneTickNow = 0;
            }
        } else if (tx && !(f & 64)) {
            w->meters.tuneTickFirst = 0;
            w->meters.tuneTickNow = 0;
        }
    }
}

} // namespace

void FollowFrequency(Works* w) {
    const FreqSource* src = CurrentSource(w);
    TrxParameters p{};
    if (src && src->followsTransceiver) {
        getParameters(&p, w);
        w->freqHz = p.activeFreq;
    } else if (src) {
        w->freqHz = w->source[src->mode].freqHz.load();
    }
    if (src && !src->followsTransceiver) {
        OperatingPointLock op(OperatingPointMutex());
        if (w->anState > 0) {
            w->anState = 0;
            IncPNTIn_CMDLinear(kCmdAn, w);
        }
    }
    {
        // A bank change asks for its row to be applied (kNoAntennaRow) under the
        // same lock: the request is never lost between the look and the row.
        BankLock bank(BankMutex());
        if (w->freqHz != w->lastFreqHz || w->antennaRowIdx == kNoAntennaRow) {
            if (!src || !src->amplifierCounts)
                IncPNTIn_CMDLinear(kCmdFreq, w);
            SetFilterFromfreq(w);
            SearchCambioSoglie_TS(w);
            GestioneAntennaAutomatica(w);
            w->lastFreqHz = w->freqHz.load();
        }
    }
    if (!src || !src->followsTransceiver)
        return;
    w->trxTransmitting = p.flag9b6 == 1 ? 1 : 0;
    {
        OperatingPointLock op(OperatingPointMutex());
        if (p.flag11b5 != w->anState && w->tuneState == 0 && w->trxTransmitting == 0 &&
            !w->txButtonFlags.test(0x30)) {
            w->anState = p.flag11b5;
            IncPNTIn_CMDLinear(kCmdAn, w);
        }
    }
    tuneSupervision(w, p.flag9b6 == 1);
}
