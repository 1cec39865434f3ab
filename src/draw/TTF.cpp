// FreeType faces, the glyph cache and text blending.
//
// putString places each glyph with its pen at the baseline and stacks the
// coverage bitmap upward from the glyph's bottom (height - bearing below the
// baseline), blending each colour byte as (a & colour) + (255 - a) * old / 255
// and setting the fourth byte to 0; a pixel of coverage 0 is left as it is.
// The FreeType faces are shared by every drawing thread, so all of this runs
// under one lock; with the cache a line of text costs a few lookups.
#include "draw/TTF.h"

#include "platform/Log.h"
#include "platform/Root.h"
#include "draw/Damage.h"
#include "draw/Fb.h"
#include "draw/UTF8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A rendered glyph, as putString needs it.
struct Glyph {
    bool loaded = false; // false: the glyph failed to load and is skipped
    int rows = 0;
    int pitch = 0;
    FT_Pos height = 0;   // metrics.height, 26.6
    FT_Pos bearingY = 0; // metrics.horiBearingY, 26.6
    FT_Pos advanceX = 0; // advance.x, 26.6
    std::vector<uint8_t> bitmap;
    // Per bitmap row, the columns [first, end) that have any coverage: only those
    // pixels change, so the rest of the row is not visited.
    std::vector<uint16_t> inkFirst, inkEnd;
    // The inked part as a whole: bitmap rows [inkTop, inkBottom], columns
    // [inkLeft, inkRight); inkTop > inkBottom when nothing is inked.
    int inkTop = 1, inkBottom = 0, inkLeft = 0, inkRight = 0;
};

// Fonts never change after start-up; a handful of glyphs per slot is all a panel
// draws, but remote text could ask for many, so the cache is bounded.
constexpr size_t kMaxCachedGlyphs = 4096;

std::mutex g_textMut;
FT_Library g_library = nullptr;
FT_Face face[kFontSlots];
FT_GlyphSlot slot[kFontSlots];
int fontSize[kFontSlots];
std::unordered_map<uint64_t, Glyph> g_cache;
bool g_cacheEnabled = true;

// Loads and renders one character with the pen at (penX, penY) in 26.6; only the
// pen's fraction of a pixel changes the bitmap, so it is part of the cache key.
void render(int font, uint32_t cp, FT_Vector pen, Glyph* g) {
    g->loaded = false;
    FT_Face f = face[font];
    if (!f)
        return;
    FT_Matrix identity{0x10000, 0, 0, 0x10000};
    FT_Set_Transform(f, &identity, &pen);
    if (FT_Load_Char(f, cp, FT_LOAD_RENDER) != 0)
        return;
    FT_GlyphSlot s = slot[font];
    g->loaded = true;
    g->rows = static_cast<int>(s->bitmap.rows);
    g->pitch = s->bitmap.pitch;
    g->height = s->metrics.height;
    g->bearingY = s->metrics.horiBearingY;
    g->advanceX = s->advance.x;
    size_t n = static_cast<size_t>(g->rows) * static_cast<size_t>(g->pitch < 0 ? -g->pitch : g->pitch);
    g->bitmap.assign(s->bitmap.buffer, s->bitmap.buffer + (s->bitmap.buffer ? n : 0));
    if (g->pitch < 0)
        g->pitch = -g->pitch; // bottom-up storage never happens for rendered glyphs
    g->inkFirst.assign(static_cast<size_t>(g->rows), 0);
    g->inkEnd.assign(static_cast<size_t>(g->rows), 0);
    for (int r = 0; r < g->rows && !g->bitmap.empty(); r++) {
        const uint8_t* row = &g->bitmap[static_cast<size_t>(r) * g->pitch];
        int first = 0, end = g->pitch;
        while (first < end && row[first] == 0)
            first++;
        while (end > first && row[end - 1] == 0)
            end--;
        g->inkFirst[r] = static_cast<uint16_t>(first);
        g->inkEnd[r] = static_cast<uint16_t>(end);
        if (first < end) {
            if (g->inkTop > g->inkBottom) {
                g->inkTop = r;
                g->inkLeft = first;
                g->inkRight = end;
            }
            g->inkBottom = r;
            g->inkLeft = std::min(g->inkLeft, first);
            g->inkRight = std::max(g->inkRight, end);
        }
    }
}

// The glyph for (font, cp) at `pen`, from the cache when possible.
const Glyph& glyphAt(int font, uint32_t cp, FT_Vector pen, Glyph* scratch) {
    if (!g_cacheEnabled) {
        render(font, cp, pen, scratch);
        return *scratch;
    }
    uint64_t key = (static_cast<uint64_t>(font) << 48) | (static_cast<uint64_t>(cp) << 12) |
                   (static_cast<uint64_t>(pen.x & 63) << 6) | static_cast<uint64_t>(pen.y & 63);
    auto it = g_cache.find(key);
    if (it != g_cache.end())
        return it->second;
    render(font, cp, pen, scratch);
    if (g_cache.size() >= kMaxCachedGlyphs)
        return *scratch;
    return g_cache.emplace(key, *scratch).first->second;
}

bool validFont(int font) { return font >= 0 && font < kFontSlots && face[font] != nullptr; }

} // namespace

void TTFLoad(const char* path, int pixelSize, int slotIndex) {
    if (slotIndex < 0 || slotIndex >= kFontSlots)
        return;
    std::lock_guard<std::mutex> lock(g_textMut);
    LogInfo("Iinitializing FreeType");
    if (!g_library && FT_Init_FreeType(&g_library) != 0) {
        g_library = nullptr;
        LogErr("Error initializing FreeType");
    }
    LogInfo("Loading face: filename=%s", path);
    // Whatever the slot held is replaced, by nothing when the load fails.
    if (face[slotIndex])
        FT_Done_Face(face[slotIndex]);
    face[slotIndex] = nullptr;
    slot[slotIndex] = nullptr;
    for (auto it = g_cache.begin(); it != g_cache.end();)
        it = (it->first >> 48) == static_cast<uint64_t>(slotIndex) ? g_cache.erase(it) : ++it;

    FT_Face f = nullptr;
    FT_Error err = g_library ? FT_New_Face(g_library, plat_path(path).c_str(), 0, &f)
                             : FT_Err_Invalid_Library_Handle;
    if (err == FT_Err_Unknown_File_Format) {
        LogErr("FreeType: file format not supported");
        return;
    }
    if (err != 0) {
        LogErr("FreeType: file error");
        return;
    }
    LogInfo("Face loaded");
    if (FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(pixelSize)) != 0)
        LogErr("Error Setting Pixel Size");
    LogInfo("Pixel size sat");
    face[slotIndex] = f;
    slot[slotIndex] = f->glyph;
    fontSize[slotIndex] = pixelSize;
}

bool TTFSlotLoaded(int slotIndex) {
    std::lock_guard<std::mutex> lock(g_textMut);
    return slotIndex >= 0 && slotIndex < kFontSlots && face[slotIndex] != nullptr;
}

void LoadFonts() {
    struct Load {
        const char* path;
        int pixelSize;
        int slot;
    };
    static const Load kLoads[] = {
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24, 0},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 22, 1},
        {"/opt/fonts/PTS55F_W.ttf", 22, 2},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24, 0},
        {"/opt/fonts/PTS75F_W.ttf", 24, 4},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 8, 5},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 14, 6},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf", 24, 7},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 20, 8},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 30, 9},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 18, 10},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 21, 11},
    };
    constexpr size_t kCount = sizeof(kLoads) / sizeof(kLoads[0]);
    bool loaded[kCount] = {};
    for (size_t i = 0; i < kCount; i++) {
        TTFLoad(kLoads[i].path, kLoads[i].pixelSize, kLoads[i].slot);
        loaded[i] = TTFSlotLoaded(kLoads[i].slot);
    }
    // A font file missing on the unit would leave every text of its slot
    // undrawn (menus without their current line): such a slot takes a face that
    // did load, at its own size, the regular face first as the closest in shape.
    static const char* const kFallbackOrder[] = {
        "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
        "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
        "/opt/fonts/PTS55F_W.ttf",
        "/opt/fonts/PTS75F_W.ttf",
    };
    bool handled[kFontSlots] = {};
    for (size_t i = 0; i < kCount; i++) {
        if (loaded[i] || handled[kLoads[i].slot] || TTFSlotLoaded(kLoads[i].slot))
            continue;
        handled[kLoads[i].slot] = true;
        const char* fallback = nullptr;
        for (const char* candidate : kFallbackOrder)
            for (size_t j = 0; j < kCount && !fallback; j++)
                if (loaded[j] && std::strcmp(kLoads[j].path, candidate) == 0)
                    fallback = candidate;
        if (!fallback) {
            LogErr("font slot %d: %s did not load and no other face did: its text is not drawn",
                   kLoads[i].slot, kLoads[i].path);
            continue;
        }
        LogErr("font slot %d: %s did not load, drawn with %s", kLoads[i].slot, kLoads[i].path, fallback);
        TTFLoad(fallback, kLoads[i].pixelSize, kLoads[i].slot);
    }
}

namespace {

// Calls fn(glyph, baseX, bottomY) for each glyph of `text` that loads, with the
// pen moving as putString moves it. Under g_textMut.
template <typename Fn> void eachGlyph(int font, int32_t x, int32_t y, const char* text, Fn fn) {
    const int32_t len = static_cast<int32_t>(std::strlen(text));
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    FT_Vector pen{static_cast<FT_Pos>(x) * 64, static_cast<FT_Pos>(y) * 64};
    Glyph scratch;
    int32_t pos = 0;
    int valid;
    uint32_t cp;
    while (utf8_get_next_char(bytes, len, &pos, &valid, &cp) != -1) {
        const Glyph& g = glyphAt(font, cp, pen, &scratch);
        if (!g.loaded)
            continue;
        fn(g, static_cast<int64_t>(pen.x / 64), static_cast<int64_t>((pen.y + g.height - g.bearingY) / 64));
        pen.x += g.advanceX;
    }
}

void rasterText(FrameBuffer* fb, int font, int32_t x, int32_t y, const char* text, uint8_t R,
                uint8_t G, uint8_t B, const PixelRect* clip) {
    const int64_t mem = fb->memSize;
    const int64_t ps = fb->pixelSize;
    const int32_t ls = fb->lineSize;
    eachGlyph(font, x, y, text, [&](const Glyph& g, int64_t baseX, int64_t bottomY) {
        for (int r = 0; r < g.rows; r++) {
            const int br = g.rows - 1 - r; // bitmap row, counted from the top
            const uint8_t* src = &g.bitmap[static_cast<size_t>(g.pitch) * br];
            const int first = g.inkFirst[br], end = g.inkEnd[br];
            const int64_t row = (bottomY - r) * fb->lineSize + baseX * ps;
            // Rows wholly inside the picture take the quick path; the others are
            // checked pixel by pixel (a pen off the edge wraps onto the next row).
            const bool inside = row + first * ps >= 0 && row + (end - 1) * ps + 3 < mem;
            // Likewise a row wholly inside the clip, or wholly outside it.
            bool check = clip != nullptr;
            if (check && inside && first < end && baseX + first >= 0 && baseX + end <= fb->width) {
                const int64_t pictureRow = bottomY - r;
                if (pictureRow < clip->y0 || pictureRow >= clip->y1 || baseX + end <= clip->x0 ||
                    baseX + first >= clip->x1)
                    continue;
                check = baseX + first < clip->x0 || baseX + end > clip->x1;
            }
            for (int c = first; c < end; c++) {
                const unsigned a = src[c];
                if (a == 0)
                    continue; // coverage 0: the pixel stays as it is
                const int64_t o = row + c * ps;
                if (!inside && (o < 0 || o + 3 >= mem))
                    continue;
                if (check && !fbInClip(fb, clip, o, ls, static_cast<int32_t>(ps)))
                    continue;
                uint8_t* d = fb->work + o;
                d[3] = 0;
                if (a == 255) {
                    d[0] = B;
                    d[1] = G;
                    d[2] = R;
                    continue;
                }
                d[0] = static_cast<uint8_t>((a & B) + (255 - a) * d[0] / 255);
                d[1] = static_cast<uint8_t>((a & G) + (255 - a) * d[1] / 255);
                d[2] = static_cast<uint8_t>((a & R) + (255 - a) * d[2] / 255);
            }
        }
    });
}

// Every pixel the text may change; empty when it changes none.
PixelRect textBox(const FrameBuffer* fb, int font, int32_t x, int32_t y, const char* text) {
    const int64_t ps = fb->pixelSize, ls = fb->lineSize, mem = fb->memSize;
    int64_t first = INT64_MAX, last = INT64_MIN, xMin = INT64_MAX, xMax = INT64_MIN;
    eachGlyph(font, x, y, text, [&](const Glyph& g, int64_t baseX, int64_t bottomY) {
        if (g.inkTop > g.inkBottom)
            return;
        // Bitmap row br lies on picture row bottomY - (rows - 1 - br).
        const int64_t top = bottomY - (g.rows - 1 - g.inkTop), bottom = bottomY - (g.rows - 1 - g.inkBottom);
        first = std::min(first, top * ls + (baseX + g.inkLeft) * ps);
        last = std::max(last, bottom * ls + (baseX + g.inkRight - 1) * ps);
        xMin = std::min(xMin, baseX + g.inkLeft);
        xMax = std::max(xMax, baseX + g.inkRight - 1);
    });
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, mem - 4);
    if (first > last)
        return PixelRect{};
    return fbBoxOfSpan(fb, first, last, xMin, xMax);
}

} // namespace

void putString(int font, int32_t x, int32_t y, const char* text, uint8_t R, uint8_t G, uint8_t B,
               FrameBuffer* fb) {
    if (!text)
        return;
    std::lock_guard<std::mutex> lock(g_textMut);
    if (!validFont(font))
        return;
    if (fbRecording(fb)) {
        DrawEntry e{};
        e.op = DrawOp::Text;
        e.replay = [](FrameBuffer* f, const DrawEntry& d, const char* s, const PixelRect* clip) {
            RasterText(f, d.font, d.a0, d.a1, s, d.r, d.g, d.b, clip);
        };
        e.r = R;
        e.g = G;
        e.b = B;
        e.font = font;
        e.a0 = x;
        e.a1 = y;
        e.box = textBox(fb, font, x, y, text);
        if (!e.box.empty())
            fbRecord(fb, e, text);
        return;
    }
    fbTouched(fb);
    rasterText(fb, font, x, y, text, R, G, B, nullptr);
}

void RasterText(FrameBuffer* fb, int font, int32_t x, int32_t y, const char* text, uint8_t R,
                uint8_t G, uint8_t B, const PixelRect* clip) {
    std::lock_guard<std::mutex> lock(g_textMut);
    if (validFont(font))
        rasterText(fb, font, x, y, text, R, G, B, clip);
}

int32_t getStringSpace(int font, const char* text) {
    if (!text)
        return 0;
    std::lock_guard<std::mutex> lock(g_textMut);
    if (!validFont(font))
        return 0;
    const int32_t len = static_cast<int32_t>(std::strlen(text));
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    FT_Vector pen{0, 0};
    FT_Pos width = 0;
    Glyph scratch;
    int32_t pos = 0;
    int valid;
    uint32_t cp;
    while (utf8_get_next_char(bytes, len, &pos, &valid, &cp) != -1) {
        const Glyph& g = glyphAt(font, cp, pen, &scratch);
        if (g.loaded)
            width += g.advanceX;
    }
    return static_cast<int32_t>(width / 64);
}

void TTFSetCacheEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(g_textMut);
    g_cacheEnabled = enabled;
}
