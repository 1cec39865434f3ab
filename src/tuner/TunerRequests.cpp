// The requests other threads make of the tuner's owner, the link thread.
#include "tuner/TunerRequests.h"

#include "core/AlarmList.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "tuner/AutoTune.h"
#include "tuner/TuneWord.h"

#include <mutex>

namespace {

// Producers (keys, refresh, session) take turns; the link thread takes the
// requests out under the same lock, so it never sees half a request.
std::mutex g_requestMut;

uint16_t pack(TunerAsk what, int delta) {
    return static_cast<uint16_t>(static_cast<unsigned>(what) | (static_cast<uint8_t>(delta) << 8));
}

void step(Works* w, bool inductor, int delta) {
    const uint32_t now = inductor ? w->tuner.tuneL.load() : w->tuner.tuneC.load();
    if (!((delta < 0 && now > 0) || (delta > 0 && now < kTunerMaxLC)))
        return;
    const uint32_t next = now + static_cast<uint32_t>(delta);
    if (inductor) {
        w->tuner.tuneL = next;
        SetI(w, next);
    } else {
        w->tuner.tuneC = next;
        SetC(w, next);
    }
}

void serve(Works* w, TunerAsk what, int delta) {
    switch (what) {
    case TunerAsk::StepL:
        step(w, true, delta);
        break;
    case TunerAsk::StepC:
        step(w, false, delta);
        break;
    case TunerAsk::NextMode:
        if (w->tuneState == 0) {
            const int mode = w->tuner.tuneMode;
            SetMode(w, mode >= 1 && mode < 3 ? mode + 1 : 1);
        }
        break;
    case TunerAsk::BypassOff:
        w->tunerBypass = 0;
        break;
    case TunerAsk::GoTune:
        GoTune(w);
        break;
    case TunerAsk::StartAuto:
        StartAutotune(w);
        break;
    case TunerAsk::AbortAuto:
        EscAutoTune(w, 0);
        AddErrore(w, kAlarmTuneAbort);
        break;
    case TunerAsk::StartTune:
        // Looked at again here: a search that started since it was asked is not ended.
        if (TuneKeyVerdict(w) == AmpVerdict::Ok)
            GoTune(w);
        break;
    }
}

} // namespace

bool TunerRequest(Works* w, TunerAsk what, int delta) {
    std::lock_guard<std::mutex> lock(g_requestMut);
    const int wr = w->tuner.tunerReqWrite;
    const int next = (wr + 1) % kTunerRequests;
    if (next == w->tuner.tunerReqRead) {
        LogErr("tuner: request %d dropped, %d wait already", static_cast<int>(what), kTunerRequests - 1);
        return false;
    }
    w->tuner.tunerReq[wr] = pack(what, delta);
    w->tuner.tunerReqWrite = next;
    return true;
}

void TunerServeRequests(Works* w) {
    for (;;) {
        uint16_t req;
        {
            std::lock_guard<std::mutex> lock(g_requestMut);
            const int rd = w->tuner.tunerReqRead;
            if (rd == w->tuner.tunerReqWrite)
                return;
            req = w->tuner.tunerReq[rd];
            w->tuner.tunerReqRead = (rd + 1) % kTunerRequests;
        }
        serve(w, static_cast<TunerAsk>(req & 0xFF), static_cast<int8_t>(req >> 8));
    }
}

void TunerDropRequests(Works* w) {
    std::lock_guard<std::mutex> lock(g_requestMut);
    const int waiting = (w->tuner.tunerReqWrite - w->tuner.tunerReqRead + kTunerRequests) % kTunerRequests;
    if (waiting > 0)
        LogInfo("tuner: %d requests from before the link ran dropped", waiting);
    w->tuner.tunerReqRead = w->tuner.tunerReqWrite.load();
}

TunerView TunerSnapshot(const Works* w) {
    TunerView v;
    v.word = w->tunerWord;
    v.l = DecodeInduttanzaFromTuneval(v.word);
    v.c = DecodeCapacitaFromTuneval(v.word);
    v.mode = DecodeModoFromTuneval(v.word);
    v.bypass = w->tunerBypass != 0;
    v.state = w->tuneState;
    return v;
}
