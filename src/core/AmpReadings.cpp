#include "core/AmpReadings.h"

#include "core/Changes.h"
#include "core/Works.h"

bool AmpReadings::sameValues(const AmpReadings& o) const {
    AmpReadings a = *this;
    a.readMs = o.readMs;
    return a == o;
}

AmpReadings AmpReadingsNow(Works* w) {
    std::lock_guard<std::mutex> lock(w->ampReadings.mu);
    return w->ampReadings.r;
}

void PublishAmpReadings(Works* w, const AmpReadings& r) {
    bool changed;
    {
        std::lock_guard<std::mutex> lock(w->ampReadings.mu);
        changed = !w->ampReadings.r.sameValues(r);
        w->ampReadings.r = r;
    }
    // Only new values: the idle link reads the same ones every few ms, and a
    // still page sleeps until something it draws changes.
    if (changed)
        ChangesNote();
}
