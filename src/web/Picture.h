// The panel's picture for the browser consoles: what reached the screen is
// copied out under the picture lock, and goes to each console as PNG pieces.
//
// An update message (binary, little-endian): "PIC1", a 16-bit count, then per
// piece its x, y, width and height (16 bits each) and its PNG's length (32
// bits), then the PNGs in that order. The page draws them in order.
#pragma once

#include "draw/Fb.h"

#include <cstdint>
#include <vector>

struct WebPicture {
    int width = 0;
    int height = 0;
    bool taken = false;       // false: the next take copies the whole screen
    std::vector<uint8_t> rgb; // R, G, B a pixel, as last taken
};

constexpr size_t kWebPieceHeader = 12;

// Copies into `pic` what reached the screen since the last take and appends
// those rectangles to `changed` (the whole picture at the first take). While
// `pic` is taken, the framebuffer keeps the list of what reaches the screen.
void WebPictureTake(FrameBuffer* fb, WebPicture* pic, std::vector<PixelRect>* changed);
// Stops the framebuffer's list; the next take copies the whole screen again.
void WebPictureDrop(FrameBuffer* fb, WebPicture* pic);
// Appends one update message for `rects` (each inside the picture) to `out`;
// false when a piece could not be encoded (`out` is then as it was).
bool WebPictureMessage(const WebPicture& pic, const std::vector<PixelRect>& rects, std::vector<uint8_t>* out);
