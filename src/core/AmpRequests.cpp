// The queue of the amplifier's changes asked by loggers and the operator's unit.
#include "core/AmpRequests.h"

#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <cstdio>

AmpVerdict StandbyVerdict(bool wantStandby, bool standby, bool transmitting) {
    return wantStandby != standby && transmitting ? AmpVerdict::NotNow : AmpVerdict::Ok;
}

const char* AmpAskName(AmpAsk what) {
    switch (what) {
    case AmpAsk::Standby: return "standby";
    case AmpAsk::Operate: return "operate";
    case AmpAsk::FaultReset: return "fault reset";
    case AmpAsk::Antenna: return "antenna";
    case AmpAsk::Tune: return "tune";
    }
    return "?";
}

bool AskAmplifier(Works* w, AmpAsk what, int value, const char* from) {
    AmpRequestQueue& q = w->ampRequests;
    {
        std::lock_guard<std::mutex> lock(q.mu);
        if (q.count < kAmpRequestsMax) {
            AmpRequest& r = q.items[(q.first + q.count) % kAmpRequestsMax];
            r.what = what;
            r.value = value;
            r.askedMs = plat_mono_ms();
            std::snprintf(r.from, sizeof r.from, "%s", from);
            q.count++;
            return true;
        }
    }
    LogErr("amplifier: %s asked by %s dropped: %d requests wait already", AmpAskName(what), from,
           kAmpRequestsMax);
    return false;
}

bool TakeAmpRequest(Works* w, AmpRequest* out) {
    AmpRequestQueue& q = w->ampRequests;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(q.mu);
            if (q.count == 0)
                return false;
            *out = q.items[q.first];
            q.first = (q.first + 1) % kAmpRequestsMax;
            q.count--;
        }
        const int64_t age = plat_mono_ms() - out->askedMs;
        if (age <= kAmpRequestMaxAgeMs)
            return true;
        LogErr("amplifier: %s asked by %s dropped: not taken within %lld ms", AmpAskName(out->what), out->from,
               static_cast<long long>(age));
    }
}
