// TrueType fonts in twenty slots, and anti-aliased UTF-8 text over a picture.
#pragma once

#include <cstdint>

struct FrameBuffer;
struct PixelRect;

constexpr int kFontSlots = 20;

// Loads face 0 of `path` (resolved under the root folder) at `pixelSize` into
// `slotIndex`; failures are logged and leave the slot as it was.
void TTFLoad(const char* path, int pixelSize, int slotIndex);
// The twelve loads of start-up, in their order; a slot whose file does not
// load takes a face that did, at the slot's size (logged).
void LoadFonts();
// Whether the slot holds a face.
bool TTFSlotLoaded(int slotIndex);

// Draws `text` into the work picture with its first pen position at (x, y),
// y being the baseline. Text in an empty slot is not drawn.
void putString(int font, int32_t x, int32_t y, const char* text, uint8_t R, uint8_t G, uint8_t B,
               FrameBuffer* fb);
// Width of `text` in whole pixels (sum of the advances of the glyphs that load).
int32_t getStringSpace(int font, const char* text);

// Glyphs are rasterised once per slot and code point and drawn from a cache.
// Turning it off renders every glyph on the fly again (for tests and benchmarks;
// the pictures are the same).
void TTFSetCacheEnabled(bool enabled);

// The rasteriser behind putString, drawing only the pixels inside `clip` (null:
// all); the tick's record replays its texts through it.
void RasterText(FrameBuffer* fb, int font, int32_t x, int32_t y, const char* text, uint8_t R,
                uint8_t G, uint8_t B, const PixelRect* clip);
