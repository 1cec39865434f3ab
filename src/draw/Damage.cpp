// The tick's record of drawing calls, its comparison with the last one, and the
// copies of what differs.
#include "draw/Damage.h"

#include "core/Changes.h"
#include "draw/Fb.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace {

// More rectangles than this are merged: past a handful, the bookkeeping costs
// more than the few rows it saves.
constexpr size_t kMaxRects = 12;

bool sameEntry(const DrawRecord& ra, const DrawEntry& a, const DrawRecord& rb, const DrawEntry& b) {
    if (a.op != b.op || a.r != b.r || a.g != b.g || a.b != b.b || a.a0 != b.a0 || a.a1 != b.a1 ||
        a.a2 != b.a2 || a.a3 != b.a3 || a.font != b.font || a.textLen != b.textLen)
        return false;
    return a.op != DrawOp::Text ||
           std::memcmp(ra.text.data() + a.textAt, rb.text.data() + b.textAt, a.textLen) == 0;
}


void replay(FrameBuffer* fb, const DrawRecord& rec, const PixelRect* clip, int64_t* count) {
    for (const DrawEntry& e : rec.entries) {
        if (clip && !fbOverlaps(e.box, *clip))
            continue;
        (*count)++;
        e.replay(fb, e, e.op == DrawOp::Text ? rec.text.c_str() + e.textAt : nullptr, clip);
    }
}

// Copies rectangle `r` of one picture into another of the same geometry.
void copyRect(const FrameBuffer* fb, uint8_t* to, const uint8_t* from, const PixelRect& r) {
    const size_t bytes = static_cast<size_t>(r.x1 - r.x0) * fb->pixelSize;
    for (int32_t y = r.y0; y < r.y1; y++) {
        const size_t o = static_cast<size_t>(y) * fb->lineSize + static_cast<size_t>(r.x0) * fb->pixelSize;
        std::memcpy(to + o, from + o, bytes);
    }
}

} // namespace

namespace {
std::atomic<bool> g_trackByDefault{true};
} // namespace

void fbTrackDamageByDefault(bool on) { g_trackByDefault = on; }
bool fbDamageTrackedByDefault() { return g_trackByDefault; }

bool fbRecording(const FrameBuffer* fb) { return fb->damage && fb->damage->recording; }

namespace {

bool setBackHook(FrameBuffer* fb) {
    if (fbRecording(fb)) {
        // Whatever the tick drew so far is covered by the background.
        fb->damage->record[fb->damage->current].clear();
        return true;
    }
    fbTouched(fb);
    return false;
}

void releaseHook(FrameDamage* d) { delete d; }

const FbRecorderHooks kHooks{fbTouched, setBackHook, releaseHook};

// The record of `fb`, made at its first use; null only when memory ran out,
// and then every tick is a whole redraw.
FrameDamage* attach(FrameBuffer* fb) {
    if (!fb->damage) {
        fb->damage = new (std::nothrow) FrameDamage;
        if (!fb->damage)
            return nullptr;
        fb->damage->tracking = g_trackByDefault;
        fb->recorder = &kHooks;
    }
    return fb->damage;
}

} // namespace

void fbRecord(FrameBuffer* fb, const DrawEntry& e, const char* text) {
    DrawRecord& rec = fb->damage->record[fb->damage->current];
    rec.entries.push_back(e);
    if (text) {
        DrawEntry& added = rec.entries.back();
        added.textAt = static_cast<uint32_t>(rec.text.size());
        added.textLen = static_cast<uint32_t>(std::strlen(text));
        rec.text.append(text, added.textLen);
        rec.text.push_back('\0');
    }
}

void fbTouched(FrameBuffer* fb) {
    FrameDamage* d = fb->damage;
    if (!d)
        return;
    if (d->recording) {
        // Draw what was recorded so far; the rest of the tick draws at once.
        std::memcpy(fb->work, fb->back, fb->memSize);
        replay(fb, d->record[d->current], nullptr, &d->redrawnEntries);
        d->composed = fb->memSize;
        d->recording = false;
    }
    d->stale = true;
    ChangesNote(); // a still page's tick waits for this
}

void fbSetDamageTracking(FrameBuffer* fb, bool on) {
    if (attach(fb)) {
        fb->damage->tracking = on;
        fb->damage->stale = true;
    }
}

void fbTickBegin(FrameBuffer* fb) {
    FrameDamage* d = attach(fb);
    if (!d || !d->tracking) {
        fbSetBack(fb);
        if (d)
            d->composed = fb->memSize;
        return;
    }
    d->composed = d->shown = d->redrawnEntries = 0;
    d->record[d->current].clear();
    d->recording = true;
}

void fbTickEnd(FrameBuffer* fb) {
    FrameDamage* d = fb->damage;
    if (!d || !d->recording) {
        // Tracking off, or a writer outside the record took over this tick.
        fbRealize(fb);
        if (d) {
            d->shown = fb->memSize;
            d->stale = true;
        }
        return;
    }
    fbTickPlan(fb);
    fbTickCompose(fb);
    fbTickRedraw(fb);
    fbTickShow(fb);
}

void fbTickPlan(FrameBuffer* fb) {
    FrameDamage* d = fb->damage;
    d->recording = false;
    d->rects.clear();
    d->whole = d->stale;
    d->stale = false;
    if (d->whole)
        return;
    const DrawRecord& now = d->record[d->current];
    const DrawRecord& before = d->record[1 - d->current];
    const size_t n = std::max(now.entries.size(), before.entries.size());
    for (size_t i = 0; i < n; i++) {
        const bool inNow = i < now.entries.size(), inBefore = i < before.entries.size();
        if (inNow && inBefore && sameEntry(now, now.entries[i], before, before.entries[i]))
            continue;
        if (inNow && !now.entries[i].box.empty())
            d->rects.push_back(now.entries[i].box);
        if (inBefore && !before.entries[i].box.empty())
            d->rects.push_back(before.entries[i].box);
    }
    // Disjoint from here on: each pixel is composed, drawn and shown once.
    fbMergeRects(&d->rects, kMaxRects);
}

void fbTickCompose(FrameBuffer* fb) {
    FrameDamage* d = fb->damage;
    if (d->whole) {
        std::memcpy(fb->work, fb->back, fb->memSize);
        d->composed = fb->memSize;
        return;
    }
    for (const PixelRect& r : d->rects) {
        copyRect(fb, fb->work, fb->back, r);
        d->composed += fbArea(r) * fb->pixelSize;
    }
}

void fbTickRedraw(FrameBuffer* fb) {
    FrameDamage* d = fb->damage;
    const DrawRecord& now = d->record[d->current];
    if (d->whole) {
        replay(fb, now, nullptr, &d->redrawnEntries);
        return;
    }
    for (const PixelRect& r : d->rects)
        replay(fb, now, &r, &d->redrawnEntries);
}

void fbTickShow(FrameBuffer* fb) {
    FrameDamage* d = fb->damage;
    if (d->whole) {
        std::memcpy(fb->screen, fb->work, fb->memSize);
        d->shown = fb->memSize;
        fbShown(fb, nullptr);
    } else {
        for (const PixelRect& r : d->rects) {
            copyRect(fb, fb->screen, fb->work, r);
            d->shown += fbArea(r) * fb->pixelSize;
            fbShown(fb, &r);
        }
    }
    d->current = 1 - d->current;
}

bool fbTickStill(const FrameBuffer* fb) {
    const FrameDamage* d = fb ? fb->damage : nullptr;
    return d && d->tracking && !d->recording && !d->stale && !d->whole && d->rects.empty();
}

PixelRect fbBoxOfSpan(const FrameBuffer* fb, int64_t first, int64_t last, int64_t xMin, int64_t xMax) {
    const int64_t ls = fb->lineSize;
    const int32_t rowFirst = static_cast<int32_t>(first / ls);
    const int32_t rowLast = static_cast<int32_t>(last / ls);
    if (xMin >= 0 && xMax < fb->width)
        return PixelRect{static_cast<int32_t>(xMin), rowFirst, static_cast<int32_t>(xMax + 1), rowLast + 1};
    return PixelRect{0, rowFirst, fb->width, rowLast + 1};
}
