// Drawing primitives on the off-screen pictures.
//
// Colours are three 8-bit components. A 4-byte pixel is stored B, G, R, 0; a
// 2-byte pixel as RGB565, low byte first; 1- and 3-byte pixels are not drawn.
// The last argument selects the picture: 0 work, non-zero back.
#pragma once

#include <cstdint>

struct FrameBuffer;
struct PixelRect;
struct Works;

// Pixels x0 <= x < x1 of row y; no clipping (callers stay inside the screen).
void DrawHorizontalLine(int32_t x0, int32_t y, int32_t x1, uint8_t R, uint8_t G, uint8_t B,
                        FrameBuffer* fb, int toBack);
// Bresenham line with both end points; points whose byte offset falls outside the
// picture are dropped (a point past the right edge lands on the next row).
void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t R, uint8_t G, uint8_t B,
              FrameBuffer* fb, int toBack);
// Arc as one-degree chords, angles counter-clockwise from the right.
void DrawArc(int32_t cx, int32_t cy, int32_t radius, int32_t startDeg, int32_t endDeg, uint8_t R,
             uint8_t G, uint8_t B, FrameBuffer* fb, int toBack);
// Rectangle outline into the work picture of the shared record's framebuffer.
void DrawRect(Works* works, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t R, uint8_t G,
              uint8_t B);

// The rasterisers behind the two line primitives, into `buf` (a picture of
// `fb`), drawing only the pixels inside `clip` (null: all). The tick's record
// replays its entries through these.
void RasterHLine(FrameBuffer* fb, uint8_t* buf, int32_t x0, int32_t y, int32_t x1, uint8_t R,
                 uint8_t G, uint8_t B, const PixelRect* clip);
void RasterLine(FrameBuffer* fb, uint8_t* buf, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                uint8_t R, uint8_t G, uint8_t B, const PixelRect* clip);
