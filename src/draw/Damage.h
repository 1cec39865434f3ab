// What a refresh tick changes, so that only that reaches the screen.
//
// During a tick the drawing primitives do not touch the work picture: each call
// is recorded (operation, arguments, and the pixels it may touch). At the end of
// the tick the record is compared with the previous tick's, entry by entry. Where
// they differ, the background is copied into the work picture, the tick's
// entries are drawn again clipped to those rectangles in their order, and those
// rectangles are copied to the device. A tick that draws what the last one drew
// copies nothing. The pixels are those of a whole redraw: each primitive draws
// the same bytes clipped or not, and every changed pixel lies inside a copied
// rectangle, redrawn with everything over it.
//
// Anything else that writes a picture (a page change from the keys, a skin, a
// remote screen) marks the record stale, and the next tick copies the whole
// picture, as a full redraw does.
#pragma once

#include "draw/Fb.h"

#include <cstdint>
#include <string>
#include <vector>

enum class DrawOp : uint8_t { HLine, Line, Text };

struct DrawEntry;
// How a primitive draws its recorded call again into the work picture, only
// the pixels inside `clip` (null: all); `text` is the entry's text, if any.
using DrawReplay = void (*)(FrameBuffer* fb, const DrawEntry& e, const char* text, const PixelRect* clip);

struct DrawEntry {
    DrawOp op;
    DrawReplay replay; // set by the primitive that recorded it
    uint8_t r, g, b;
    int32_t font;
    int32_t a0, a1, a2, a3; // HLine x0, y, x1; Line x0, y0, x1, y1; Text x, y
    uint32_t textAt, textLen; // Text: in the record's text pool
    PixelRect box;            // every pixel the call may change
};

struct DrawRecord {
    std::vector<DrawEntry> entries;
    std::string text;
    void clear() {
        entries.clear();
        text.clear();
    }
};

struct FrameDamage {
    bool tracking = true;   // off: every tick is a whole redraw and a whole copy
    bool recording = false; // inside a tick
    bool stale = true;      // the pictures changed outside the record
    DrawRecord record[2];   // this tick's and the one before (shown)
    int current = 0;
    bool whole = false;           // this tick redraws and copies the whole picture
    std::vector<PixelRect> rects; // else these, disjoint
    // Figures for the benchmark: bytes copied by the last tick's three steps.
    int64_t composed = 0, shown = 0, redrawnEntries = 0;
};

// The tick's bracket: between the two, the primitives record into `fb` (or draw
// at once when tracking is off: the tick then begins with the whole background
// and ends with the whole picture shown, as without tracking).
void fbTickBegin(FrameBuffer* fb);
void fbTickEnd(FrameBuffer* fb);
// fbTickEnd's steps when recording, in their order (apart for the benchmark):
// what differs from the last tick, the background under it, the tick's entries
// over that, and that to the device.
void fbTickPlan(FrameBuffer* fb);
void fbTickCompose(FrameBuffer* fb);
void fbTickRedraw(FrameBuffer* fb);
void fbTickShow(FrameBuffer* fb);
// True when the last tick copied nothing to the screen and nothing outside the
// record has written the pictures since.
bool fbTickStill(const FrameBuffer* fb);
// Turns tracking off or on (the benchmark compares the two; tests too).
void fbSetDamageTracking(FrameBuffer* fb, bool on);
// Whether framebuffers made from now on track (on unless told otherwise).
void fbTrackDamageByDefault(bool on);
bool fbDamageTrackedByDefault();

// For the primitives above this layer (lines, text): true while calls are to
// be recorded into `fb`; each entry carries the primitive's own replay.
bool fbRecording(const FrameBuffer* fb);
void fbRecord(FrameBuffer* fb, const DrawEntry& e, const char* text);
// A writer outside the record (into either picture or the device): the record no
// longer describes them. Inside a tick what was recorded so far is drawn first,
// so that the writer finds the picture as it would without the record.
void fbTouched(FrameBuffer* fb);

// The rectangle of a span of byte offsets [first, last] of the picture that the
// pixels (x from xMin to xMax) come from: the exact rectangle when the columns
// stay on the picture, else whole rows (a column past an edge lands on the
// neighbouring row).
PixelRect fbBoxOfSpan(const FrameBuffer* fb, int64_t first, int64_t last, int64_t xMin,
                      int64_t xMax);
// Whether the pixel at byte offset `o` lies in `clip` (null: no clip).
inline bool fbInClip(const FrameBuffer* fb, const PixelRect* clip, int64_t o, int32_t lineSize,
                     int32_t pixelSize) {
    (void)fb;
    if (!clip)
        return true;
    const int64_t row = o / lineSize;
    const int64_t col = (o - row * lineSize) / pixelSize;
    return row >= clip->y0 && row < clip->y1 && col >= clip->x0 && col < clip->x1;
}
