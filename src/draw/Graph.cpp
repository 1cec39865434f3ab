// Lines, arcs and rectangles written straight into picture bytes.
#include "draw/Graph.h"

#include "core/Works.h"
#include "draw/Damage.h"
#include "draw/Fb.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct Packed {
    uint8_t b[4];
};

Packed pack(const FrameBuffer* fb, uint8_t R, uint8_t G, uint8_t B) {
    Packed p{};
    if (fb->pixelSize == 4) {
        p.b[0] = B;
        p.b[1] = G;
        p.b[2] = R;
        p.b[3] = 0;
    } else if (fb->pixelSize == 2) {
        p.b[0] = static_cast<uint8_t>(((G & 0x1C) << 3) | (B >> 3));
        p.b[1] = static_cast<uint8_t>((R & 0xF8) | (G >> 5));
    }
    return p;
}

inline void putPixel(uint8_t* dst, const Packed& p, int pixelSize) {
    if (pixelSize == 4) {
        dst[0] = p.b[0];
        dst[1] = p.b[1];
        dst[2] = p.b[2];
        dst[3] = p.b[3];
    } else if (pixelSize == 2) {
        dst[0] = p.b[0];
        dst[1] = p.b[1];
    }
}

inline uint8_t* target(FrameBuffer* fb, int toBack) { return toBack ? fb->back : fb->work; }

} // namespace

namespace {

// The byte span of a horizontal line, cut to the picture; false when empty.
bool hlineSpan(const FrameBuffer* fb, int32_t x0, int32_t y, int32_t x1, int64_t* first, int64_t* last) {
    if (x1 <= x0 || (fb->pixelSize != 4 && fb->pixelSize != 2))
        return false;
    // Callers keep the span on screen; a span that strays is cut to the picture
    // rather than written past it.
    const int64_t ps = fb->pixelSize;
    *first = static_cast<int64_t>(y) * fb->lineSize + static_cast<int64_t>(x0) * ps;
    *last = static_cast<int64_t>(y) * fb->lineSize + (static_cast<int64_t>(x1) - 1) * ps;
    if (*first < 0)
        *first = 0;
    if (*last > fb->memSize - ps)
        *last = fb->memSize - ps;
    return *first <= *last;
}

void fillSpan(uint8_t* buf, int64_t first, int64_t last, const Packed& p, int ps) {
    if (ps == 4) {
        const uint32_t v = static_cast<uint32_t>(p.b[0]) | static_cast<uint32_t>(p.b[1]) << 8 |
                           static_cast<uint32_t>(p.b[2]) << 16;
        for (int64_t o = first; o <= last; o += 4)
            std::memcpy(buf + o, &v, 4);
    } else {
        for (int64_t o = first; o <= last; o += 2) {
            buf[o] = p.b[0];
            buf[o + 1] = p.b[1];
        }
    }
}

// Calls plot(x, y) for every point of the line, end points included.
template <typename Plot> void walkLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Plot plot) {
    const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t dy = std::llabs(static_cast<int64_t>(y1) - y0);
    const int32_t sx = (static_cast<int64_t>(x1) - x0 >= 1) ? 1 : -1;
    const int32_t sy = (static_cast<int64_t>(y1) - y0 >= 1) ? 1 : -1;
    int32_t x = x0;
    int32_t y = y0;
    if (dy > dx) {
        int64_t err = 2 * dx - dy;
        for (int64_t i = 0; i <= dy; i++) {
            plot(x, y);
            while (err >= 0) {
                x += sx;
                err -= 2 * dy;
            }
            y += sy;
            err += 2 * dx;
        }
    } else {
        int64_t err = 2 * dy - dx;
        for (int64_t i = 0; i <= dx; i++) {
            plot(x, y);
            while (err >= 0) {
                y += sy;
                err -= 2 * dx;
            }
            x += sx;
            err += 2 * dy;
        }
    }
}

DrawEntry entry(DrawOp op, uint8_t R, uint8_t G, uint8_t B, int32_t a0, int32_t a1, int32_t a2,
                int32_t a3) {
    DrawEntry e{};
    e.op = op;
    e.r = R;
    e.g = G;
    e.b = B;
    e.a0 = a0;
    e.a1 = a1;
    e.a2 = a2;
    e.a3 = a3;
    return e;
}

// The tick's record draws a recorded line again through these.
void replayHLine(FrameBuffer* fb, const DrawEntry& e, const char*, const PixelRect* clip) {
    RasterHLine(fb, fb->work, e.a0, e.a1, e.a2, e.r, e.g, e.b, clip);
}
void replayLine(FrameBuffer* fb, const DrawEntry& e, const char*, const PixelRect* clip) {
    RasterLine(fb, fb->work, e.a0, e.a1, e.a2, e.a3, e.r, e.g, e.b, clip);
}

} // namespace

void RasterHLine(FrameBuffer* fb, uint8_t* buf, int32_t x0, int32_t y, int32_t x1, uint8_t R,
                 uint8_t G, uint8_t B, const PixelRect* clip) {
    int64_t first, last;
    if (!hlineSpan(fb, x0, y, x1, &first, &last))
        return;
    const Packed p = pack(fb, R, G, B);
    const int ps = fb->pixelSize;
    if (!clip) {
        fillSpan(buf, first, last, p, ps);
        return;
    }
    // Row by row, the part of the span inside the clip.
    const int64_t ls = fb->lineSize;
    for (int64_t row = std::max<int64_t>(first / ls, clip->y0);
         row <= last / ls && row < clip->y1; row++) {
        const int64_t a = std::max(first, row * ls + static_cast<int64_t>(clip->x0) * ps);
        const int64_t b = std::min(last, row * ls + (static_cast<int64_t>(clip->x1) - 1) * ps);
        if (a <= b)
            fillSpan(buf, a, b, p, ps);
    }
}

void RasterLine(FrameBuffer* fb, uint8_t* buf, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                uint8_t R, uint8_t G, uint8_t B, const PixelRect* clip) {
    if (x0 == x1 && y0 == y1)
        return;
    const Packed p = pack(fb, R, G, B);
    const int64_t limit = static_cast<int64_t>(fb->memSize) - fb->pixelSize;
    const int32_t ls = fb->lineSize, ps = fb->pixelSize;
    walkLine(x0, y0, x1, y1, [&](int32_t x, int32_t y) {
        const int64_t o = static_cast<int64_t>(y) * ls + static_cast<int64_t>(x) * ps;
        if (o >= 0 && o < limit && fbInClip(fb, clip, o, ls, ps))
            putPixel(buf + o, p, ps);
    });
}

void DrawHorizontalLine(int32_t x0, int32_t y, int32_t x1, uint8_t R, uint8_t G, uint8_t B,
                        FrameBuffer* fb, int toBack) {
    if (!toBack && fbRecording(fb)) {
        int64_t first, last;
        if (!hlineSpan(fb, x0, y, x1, &first, &last))
            return;
        DrawEntry e = entry(DrawOp::HLine, R, G, B, x0, y, x1, 0);
        e.replay = replayHLine;
        e.box = fbBoxOfSpan(fb, first, last, x0, static_cast<int64_t>(x1) - 1);
        fbRecord(fb, e, nullptr);
        return;
    }
    fbTouched(fb);
    RasterHLine(fb, target(fb, toBack), x0, y, x1, R, G, B, nullptr);
}

void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t R, uint8_t G, uint8_t B,
              FrameBuffer* fb, int toBack) {
    if (x0 == x1 && y0 == y1)
        return;
    if (!toBack && fbRecording(fb)) {
        const int64_t xMin = std::min(x0, x1), xMax = std::max(x0, x1);
        const int64_t yMin = std::min(y0, y1), yMax = std::max(y0, y1);
        const int64_t ls = fb->lineSize, ps = fb->pixelSize;
        const int64_t limit = static_cast<int64_t>(fb->memSize) - ps;
        // The points lie between these offsets; those off the picture are dropped.
        const int64_t first = std::max<int64_t>(0, yMin * ls + xMin * ps);
        const int64_t last = std::min<int64_t>(limit - 1, yMax * ls + xMax * ps);
        if (first > last)
            return;
        DrawEntry e = entry(DrawOp::Line, R, G, B, x0, y0, x1, y1);
        e.replay = replayLine;
        e.box = fbBoxOfSpan(fb, first, last, xMin, xMax);
        fbRecord(fb, e, nullptr);
        return;
    }
    fbTouched(fb);
    RasterLine(fb, target(fb, toBack), x0, y0, x1, y1, R, G, B, nullptr);
}

void DrawArc(int32_t cx, int32_t cy, int32_t radius, int32_t startDeg, int32_t endDeg, uint8_t R,
             uint8_t G, uint8_t B, FrameBuffer* fb, int toBack) {
    const float r = static_cast<float>(radius);
    int32_t px = 0;
    int32_t py = 0;
    for (int32_t a = startDeg; a <= endDeg; a++) {
        double th = a * M_PI / 180.0;
        int32_t x = static_cast<int32_t>(cx + 0.5 + r * std::cos(th));
        int32_t y = static_cast<int32_t>(cy + 0.5 - r * std::sin(th));
        if (a != startDeg)
            DrawLine(px, py, x, y, R, G, B, fb, toBack);
        px = x;
        py = y;
    }
}

void DrawRect(Works* works, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t R, uint8_t G,
              uint8_t B) {
    FrameBuffer* fb = works->fb;
    DrawLine(x0, y0, x0, y1, R, G, B, fb, 0);
    DrawLine(x1, y0, x1, y1, R, G, B, fb, 0);
    DrawHorizontalLine(x0, y0, x1, R, G, B, fb, 0);
    DrawHorizontalLine(x0, y1, x1, R, G, B, fb, 0);
}
