// Reads a number the panel drew in a saved picture: each candidate text is drawn
// with the panel's own font over the skin, and the candidate whose pixels in the
// box differ least from the picture's is the reading. A needle crossing the box
// costs every candidate the same pixels, so the right one still stands out.
#pragma once

#include "RootedWorks.h"

#include "devsim/PngFile.h"
#include "draw/Fb.h"
#include "draw/TTF.h"

#include <cstdio>
#include <cstdlib>

struct TextBox {
    int x0, y0, x1, y1; // [x0, x1) x [y0, y1)
};

struct DrawnNumber {
    double value = -1;
    int differing = -1; // pixels of the best candidate that differ
    int runnerUp = -1;  // the same for the second best
};

// Candidates lo, lo + step .. hi, printed with `format` (one floating field)
// at (x, y) in `font` and colour r, g, b over `skin` (an RGBA picture).
inline DrawnNumber ReadDrawnNumber(const SimPng& shot, const SimPng& skin, int font, int x, int y,
                                   const uint8_t (&rgb)[3], const char* format, double lo,
                                   double hi, double step, TextBox box) {
    LoadSimFonts();
    FrameBuffer* fb = fbInitMemory(800, 480, 32);
    DrawnNumber best;
    const int steps = static_cast<int>((hi - lo) / step + 0.5);
    for (int i = 0; i <= steps; i++) {
        const double v = lo + i * step;
        for (int py = box.y0; py < box.y1; py++) // the skin's R, G, B as B, G, R
            for (int px = box.x0; px < box.x1; px++) {
                const size_t o = (static_cast<size_t>(py) * 800 + px) * 4;
                for (size_t c = 0; c < 3; c++)
                    fb->work[o + c] = skin.data[o + 2 - c];
            }
        char text[64];
        std::snprintf(text, sizeof text, format, v);
        putString(font, x, y, text, rgb[0], rgb[1], rgb[2], fb);
        int differing = 0;
        for (int py = box.y0; py < box.y1; py++)
            for (int px = box.x0; px < box.x1; px++) {
                const size_t o = (static_cast<size_t>(py) * 800 + px) * 4;
                bool off = false;
                for (size_t c = 0; c < 3; c++)
                    off |= std::abs(shot.data[o + c] - fb->work[o + 2 - c]) > 24;
                differing += off;
            }
        if (best.differing < 0 || differing < best.differing) {
            best.runnerUp = best.differing;
            best.differing = differing;
            best.value = v;
        } else if (best.runnerUp < 0 || differing < best.runnerUp) {
            best.runnerUp = differing;
        }
    }
    fbRelease(fb, true);
    return best;
}
