// skingen OUTDIR: draws the nine panel skins (800 x 480 RGBA PNG) into OUTDIR.
//
// The running program copies a skin as the page background and draws its live
// texts, boxes and needles over it, so every skin leaves those zones plain and
// gives them the contrast they need: light meter faces and frequency window under
// black text, dark panel under the white, cyan and orange texts.
//
// Shapes are anti-aliased by 4 x 4 supersampling of inside tests; text is
// FreeType's anti-aliased coverage. Nothing depends on time or memory layout,
// so the same build writes the same bytes.

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "draw/Meter.h"

namespace {

constexpr int kW = 800;
constexpr int kH = 480;

// ---------------------------------------------------------------- colour

struct Color {
    float r, g, b;
};

Color Rgb(int r, int g, int b) { return {float(r), float(g), float(b)}; }

Color Mix(Color a, Color b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A flat colour or a vertical gradient between y0 and y1.
struct Paint {
    Color top, bottom;
    float y0 = 0, y1 = 1;
    Color At(float y) const {
        if (y1 <= y0)
            return top;
        return Mix(top, bottom, std::clamp((y - y0) / (y1 - y0), 0.0f, 1.0f));
    }
};

Paint Flat(Color c) { return {c, c, 0, 0}; }
Paint VGrad(Color top, Color bottom, float y0, float y1) { return {top, bottom, y0, y1}; }

// The panel's palette.
const Color kOrange = Rgb(250, 150, 0);
const Color kPanelTop = Rgb(30, 33, 40);
const Color kPanelBottom = Rgb(18, 20, 24);
const Color kHeader = Rgb(12, 13, 16);
const Color kDeep = Rgb(10, 11, 13);  // under the program's rows, message and alarms
const Color kInk = Rgb(22, 20, 18);   // scale marks and numerals on the faces
const Color kRedZone = Rgb(205, 38, 30);

// ---------------------------------------------------------------- image

struct Image {
    std::vector<Color> px = std::vector<Color>(kW * kH, Color{0, 0, 0});

    void Blend(int x, int y, Color c, float a) {
        if (x < 0 || y < 0 || x >= kW || y >= kH || a <= 0)
            return;
        Color& p = px[y * kW + x];
        p = Mix(p, c, std::min(a, 1.0f));
    }
};

struct Box {
    int x0, y0, x1, y1;  // x1, y1 exclusive
};

// Covers each pixel of the box by the share of its 16 subsamples for which
// inside(x, y) holds. The box only bounds the work; it must enclose the shape.
template <class Inside>
void FillShape(Image& img, Box b, const Paint& paint, Inside inside, float opacity = 1) {
    b.x0 = std::max(b.x0, 0);
    b.y0 = std::max(b.y0, 0);
    b.x1 = std::min(b.x1, kW);
    b.y1 = std::min(b.y1, kH);
    for (int y = b.y0; y < b.y1; y++) {
        for (int x = b.x0; x < b.x1; x++) {
            int hits = 0;
            for (int j = 0; j < 4; j++)
                for (int i = 0; i < 4; i++)
                    if (inside(x + (i + 0.5f) / 4, y + (j + 0.5f) / 4))
                        hits++;
            if (hits)
                img.Blend(x, y, paint.At(y + 0.5f), opacity * hits / 16.0f);
        }
    }
}

// Paints whole pixels, x0..x1-1 by y0..y1-1.
void FillBox(Image& img, Box b, const Paint& paint) {
    for (int y = std::max(b.y0, 0); y < std::min(b.y1, kH); y++)
        for (int x = std::max(b.x0, 0); x < std::min(b.x1, kW); x++)
            img.Blend(x, y, paint.At(y + 0.5f), 1);
}

// ---------------------------------------------------------------- shapes

struct Pt {
    float x, y;
};

// A rectangle with rounded corners; edges at pixel boundaries (x1, y1 exclusive).
struct RRect {
    float x0, y0, x1, y1, r;

    RRect Grown(float g) const { return {x0 - g, y0 - g, x1 + g, y1 + g, std::max(r + g, 0.0f)}; }
    bool Contains(float x, float y) const {
        if (x < x0 || x >= x1 || y < y0 || y >= y1)
            return false;
        float cx = std::clamp(x, x0 + r, x1 - r);
        float cy = std::clamp(y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
    Box Bounds() const {
        return {int(std::floor(x0)), int(std::floor(y0)), int(std::ceil(x1)), int(std::ceil(y1))};
    }
};

void FillRRect(Image& img, RRect rc, const Paint& paint, float opacity = 1) {
    FillShape(img, rc.Bounds(), paint, [&](float x, float y) { return rc.Contains(x, y); }, opacity);
}

// A frame of the given width just inside the rectangle.
void StrokeRRect(Image& img, RRect rc, float width, const Paint& paint) {
    RRect inner = rc.Grown(-width);
    FillShape(img, rc.Bounds(), paint,
              [&](float x, float y) { return rc.Contains(x, y) && !inner.Contains(x, y); });
}

void FillCircle(Image& img, Pt c, float r, const Paint& paint) {
    Box b{int(c.x - r) - 1, int(c.y - r) - 1, int(c.x + r) + 2, int(c.y + r) + 2};
    FillShape(img, b, paint, [&](float x, float y) {
        return (x - c.x) * (x - c.x) + (y - c.y) * (y - c.y) <= r * r;
    });
}

// A straight stroke from a to b, cut square at both ends.
struct Segment {
    Pt a, b;
    float halfWidth;

    bool Contains(float x, float y) const {
        float dx = b.x - a.x, dy = b.y - a.y;
        float len = std::sqrt(dx * dx + dy * dy);
        float ux = dx / len, uy = dy / len;
        float t = (x - a.x) * ux + (y - a.y) * uy;
        float n = -(x - a.x) * uy + (y - a.y) * ux;
        return t >= 0 && t <= len && std::fabs(n) <= halfWidth;
    }
    Box Bounds() const {
        float m = halfWidth + 1;
        return {int(std::min(a.x, b.x) - m), int(std::min(a.y, b.y) - m),
                int(std::max(a.x, b.x) + m) + 1, int(std::max(a.y, b.y) + m) + 1};
    }
};

void StrokeSegment(Image& img, Segment s, const Paint& paint) {
    FillShape(img, s.Bounds(), paint, [&](float x, float y) { return s.Contains(x, y); });
}

// ---------------------------------------------------------------- text

char32_t NextCodePoint(std::string_view s, size_t& i) {
    unsigned char c = s[i++];
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    char32_t cp = extra ? c & (0x3F >> extra) : c;
    for (int k = 0; k < extra && i < s.size(); k++)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

struct Fonts {
    FT_Library lib = nullptr;
    FT_Face sans = nullptr;      // DejaVuSans
    FT_Face sansBold = nullptr;  // DejaVuSans-Bold
    FT_Face ptBold = nullptr;    // PT Sans Bold

    bool Load() {
        if (FT_Init_FreeType(&lib))
            return false;
        const char* dv = "/usr/share/fonts/truetype/dejavu/";
        const char* pa = "/usr/share/fonts/truetype/paratype/";
        return Open(std::string(dv) + "DejaVuSans.ttf", &sans) &&
               Open(std::string(dv) + "DejaVuSans-Bold.ttf", &sansBold) &&
               Open(std::string(pa) + "PTS75F.ttf", &ptBold);
    }
    bool Open(const std::string& path, FT_Face* face) {
        if (FT_New_Face(lib, path.c_str(), 0, face) == 0)
            return true;
        std::fprintf(stderr, "skingen: cannot load font %s\n", path.c_str());
        return false;
    }
    ~Fonts() {
        for (FT_Face f : {sans, sansBold, ptBold})
            if (f)
                FT_Done_Face(f);
        if (lib)
            FT_Done_FreeType(lib);
    }
};

struct Font {
    FT_Face face;
    int size;  // pixel height
};

// Calls fn(glyph slot, pen x) for each glyph of the line, pen starting at 0.
// `tracking` adds space between letters.
template <class Fn>
int ForEachGlyph(Font font, std::string_view text, int tracking, Fn fn) {
    FT_Set_Pixel_Sizes(font.face, 0, font.size);
    int pen = 0;
    FT_UInt prev = 0;
    for (size_t i = 0; i < text.size();) {
        FT_UInt gi = FT_Get_Char_Index(font.face, NextCodePoint(text, i));
        if (prev && gi && FT_HAS_KERNING(font.face)) {
            FT_Vector k;
            if (FT_Get_Kerning(font.face, prev, gi, FT_KERNING_DEFAULT, &k) == 0)
                pen += static_cast<int>(k.x >> 6);
        }
        if (FT_Load_Glyph(font.face, gi, FT_LOAD_RENDER) != 0)
            continue;
        fn(font.face->glyph, pen);
        pen += static_cast<int>(font.face->glyph->advance.x >> 6) + tracking;
        prev = gi;
    }
    return pen - tracking;
}

// Ink box of a line drawn with its pen at (0, baseline 0).
struct Ink {
    int x0 = 1 << 20, y0 = 1 << 20, x1 = -(1 << 20), y1 = -(1 << 20);
    int advance = 0;
    float Cx() const { return (x0 + x1) / 2.0f; }
    float Cy() const { return (y0 + y1) / 2.0f; }
};

Ink MeasureText(Font font, std::string_view text, int tracking = 0) {
    Ink ink;
    ink.advance = ForEachGlyph(font, text, tracking, [&](FT_GlyphSlot g, int pen) {
        if (g->bitmap.width == 0 || g->bitmap.rows == 0)
            return;
        ink.x0 = std::min(ink.x0, pen + g->bitmap_left);
        ink.x1 = std::max(ink.x1, pen + g->bitmap_left + int(g->bitmap.width));
        ink.y0 = std::min(ink.y0, -g->bitmap_top);
        ink.y1 = std::max(ink.y1, -g->bitmap_top + int(g->bitmap.rows));
    });
    return ink;
}

// Draws a line with its pen at x and its baseline at y.
void DrawText(Image& img, Font font, int x, int y, std::string_view text, const Paint& paint,
              int tracking = 0, float opacity = 1) {
    ForEachGlyph(font, text, tracking, [&](FT_GlyphSlot g, int pen) {
        const FT_Bitmap& bm = g->bitmap;
        int left = x + pen + g->bitmap_left, top = y - g->bitmap_top;
        for (unsigned r = 0; r < bm.rows; r++)
            for (unsigned c = 0; c < bm.width; c++) {
                float a = bm.buffer[r * bm.pitch + c] / 255.0f;
                int px = left + int(c), py = top + int(r);
                img.Blend(px, py, paint.At(py + 0.5f), a * opacity);
            }
    });
}

// Pen position that centres the line's ink on (cx, cy).
Pt CenteredPen(Font font, std::string_view text, float cx, float cy, int tracking = 0) {
    Ink ink = MeasureText(font, text, tracking);
    return {std::round(cx - ink.Cx()), std::round(cy - ink.Cy())};
}

void DrawTextCentered(Image& img, Font font, float cx, float cy, std::string_view text,
                      const Paint& paint, int tracking = 0) {
    Pt pen = CenteredPen(font, text, cx, cy, tracking);
    DrawText(img, font, int(pen.x), int(pen.y), text, paint, tracking);
}

// Centred horizontally on cx, baseline y.
void DrawTextHCentered(Image& img, Font font, float cx, int y, std::string_view text,
                       const Paint& paint, int tracking = 0) {
    Ink ink = MeasureText(font, text, tracking);
    DrawText(img, font, int(std::round(cx - ink.Cx())), y, text, paint, tracking);
}

// ---------------------------------------------------------------- meters
//
// A point of a meter at value v and factor f lies on the line from the pivot
// through the needle's exact tip for v, f times as far as the tip. Marks,
// numerals and the scale arc are all placed this way, so the needle always
// points straight at its mark.

struct Meter {
    Pt pivot;
    float fullScale;

    Pt At(float v, float f) const {
        double tx, ty;
        NeedleEndExact(int(pivot.x), int(pivot.y), kNeedleLength, kNeedleLength,
                       NeedleAngle(v, fullScale), &tx, &ty);
        return {pivot.x + f * float(tx - pivot.x), pivot.y + f * float(ty - pivot.y)};
    }
};

// Radial factors, in pivot-to-tip distances: marks start on the scale line just
// beyond the tip; the red zone runs under the marks.
constexpr float kArcF = 1.02f;
constexpr float kMinorEndF = 1.045f;
constexpr float kMajorEndF = 1.065f;
constexpr float kRedInF = 1.022f;
constexpr float kRedOutF = 1.042f;

// The tip of a needle traces an ellipse around the pivot; a band of that ellipse
// scaled between f0 and f1, from value v0 to v1, its ends cut along the lines
// from the pivot through v0 and v1.
class ScaleBand {
  public:
    ScaleBand(const Meter& m, float v0, float v1, float f0, float f1)
        : p_(m.pivot), f0_(f0), f1_(f1), end0_(Dir(m, v0)), end1_(Dir(m, v1)),
          mid_(Dir(m, (v0 + v1) / 2)) {
        // At angle a the tip is (-ax sin a, -ay cos a) from the pivot.
        float a0 = NeedleAngle(0, m.fullScale);
        ax_ = (p_.x - m.At(0, 1).x) / std::sin(a0);
        ay_ = p_.y - m.At(m.fullScale / 2, 1).y;
    }
    bool Contains(float x, float y) const {
        float dx = x - p_.x, dy = y - p_.y;
        float k = std::sqrt((dx / ax_) * (dx / ax_) + (dy / ay_) * (dy / ay_));
        if (k < f0_ || k > f1_)
            return false;
        // Ahead of the pivot and between the two end lines.
        return mid_.x * dx + mid_.y * dy > 0 && Cross(end0_, dx, dy) * Cross(end1_, dx, dy) <= 0;
    }
    Box Bounds() const {
        return {int(p_.x - ax_ * f1_) - 2, int(p_.y - ay_ * f1_) - 2, int(p_.x + ax_ * f1_) + 3,
                int(p_.y) + 1};
    }

  private:
    static Pt Dir(const Meter& m, float v) {
        Pt t = m.At(v, 1);
        return {t.x - m.pivot.x, t.y - m.pivot.y};
    }
    static float Cross(Pt d, float dx, float dy) { return d.x * dy - d.y * dx; }

    Pt p_;
    float f0_, f1_;
    Pt end0_, end1_, mid_;
    float ax_ = 1, ay_ = 1;
};

void FillBand(Image& img, const ScaleBand& band, const Paint& paint) {
    FillShape(img, band.Bounds(), paint, [&](float x, float y) { return band.Contains(x, y); });
}

struct Tick {
    float units;  // meter units, 0..fullScale
    bool major;
    std::string label;  // numeral, empty for none
};

struct Scale {
    float fullScale;
    std::vector<Tick> ticks;
    float redFrom, redTo;  // in meter units
    std::string unit;      // small legend near the pivot
};

Scale WattScale(int full, float redFrom) {
    Scale s{float(full), {}, redFrom, float(full), "WATTS"};
    int minor = full / 30, major = full / 6;  // 2 and 10 W, or 4 and 20 W
    for (int w = 0; w <= full; w += minor) {
        bool isMajor = w % major == 0;
        s.ticks.push_back({float(w), isMajor, isMajor ? std::to_string(w) : ""});
    }
    return s;
}

Scale SwrScale() {
    Scale s{60, {}, CalcolaSWR(3), 60, "SWR"};
    struct Mark {
        float swr;
        const char* label;
    };
    const Mark numbered[] = {{1, "1"}, {1.5f, "1.5"}, {2, "2"}, {3, "3"},  {4, "4"},
                             {5, "5"}, {7, "7"},      {10, "10"}, {100, "\u221E"}};
    for (const Mark& mk : numbered)
        s.ticks.push_back({CalcolaSWR(mk.swr), true, mk.label});
    for (float swr : {1.2f, 1.3f, 1.7f, 2.5f, 6.0f, 8.0f, 9.0f})
        s.ticks.push_back({CalcolaSWR(swr), false, ""});
    return s;
}

// The outline of a meter face: the union of three rounded rectangles (a tall
// part reaching up for the top numerals, a wide part reaching out for the end
// numerals, the body down to the pivot) with the inner corners filleted. It steps
// back at the top for the frequency window and lower down for the TX lamp. The
// left face is a little wider: its scale ends in "120", the right one starts
// with a single digit.
struct Fillet {
    float cx, cy;  // the concave corner
    float sx, sy;  // direction of its empty quadrant
    float r;
};

struct FaceShape {
    RRect parts[3];
    Fillet fillets[2];

    // Inside the face grown by g pixels (g < 0 shrinks).
    bool Contains(float x, float y, float g) const {
        for (const RRect& p : parts)
            if (p.Grown(g).Contains(x, y))
                return true;
        for (const Fillet& f : fillets)
            if (InFillet(f, x, y, g))
                return true;
        return false;
    }
    static bool InFillet(const Fillet& f, float x, float y, float g) {
        float u = f.sx * (x - f.cx), v = f.sy * (y - f.cy);
        if (u < g || u > f.r || v < g || v > f.r)
            return false;
        float du = u - f.r, dv = v - f.r;
        return du * du + dv * dv >= (f.r - g) * (f.r - g);
    }
    Box Bounds(float g) const {
        Box b = parts[0].Grown(g).Bounds();
        for (const RRect& p : parts) {
            Box q = p.Grown(g).Bounds();
            b = {std::min(b.x0, q.x0), std::min(b.y0, q.y0), std::max(b.x1, q.x1), std::max(b.y1, q.y1)};
        }
        return {b.x0 - 1, b.y0 - 1, b.x1 + 1, b.y1 + 1};
    }
};

const FaceShape kLeftFace{{{8, 36, 326, 268, 10}, {8, 63, 401, 142, 10}, {8, 63, 364, 268, 10}},
                          {{326, 63, 1, -1, 6}, {364, 142, 1, 1, 12}}};
const FaceShape kRightFace{{{474, 36, 792, 268, 10}, {409, 63, 792, 142, 10}, {440, 63, 792, 268, 10}},
                           {{474, 63, -1, -1, 6}, {440, 142, -1, 1, 12}}};

void DrawFace(Image& img, const FaceShape& face) {
    // Drop shadow, metal bezel, a dark inner line, then the cream face.
    FillShape(img, face.Bounds(5), Flat(Rgb(0, 0, 0)),
              [&](float x, float y) { return face.Contains(x - 1, y - 2, 4); }, 0.55f);
    FillShape(img, face.Bounds(4), VGrad(Rgb(92, 96, 104), Rgb(44, 47, 53), 30, 272),
              [&](float x, float y) { return face.Contains(x, y, 3); });
    FillShape(img, face.Bounds(2), Flat(Rgb(14, 14, 16)),
              [&](float x, float y) { return face.Contains(x, y, 1); });
    FillShape(img, face.Bounds(1), VGrad(Rgb(243, 238, 222), Rgb(229, 222, 201), 36, 268),
              [&](float x, float y) { return face.Contains(x, y, 0); });
}

// A numeral centred on its needle line, moved out along it until its ink box
// is kNumeralGap from the end of its mark. The box, not its centre, sets the
// distance: a wide numeral on a slanted line needs less room than its width.
constexpr float kNumeralGap = 4;

void DrawNumeral(Image& img, const FaceShape& face, const Meter& m, const Tick& t, Fonts& fonts) {
    // The infinity sign is missing from PT Sans.
    Font f = t.label == "\u221E" ? Font{fonts.sansBold, 24} : Font{fonts.ptBold, 20};
    Ink ink = MeasureText(f, t.label);
    Pt end = m.At(t.units, kMajorEndF);
    float ux = end.x - m.pivot.x, uy = end.y - m.pivot.y;
    float len = std::sqrt(ux * ux + uy * uy);
    ux /= len;
    uy /= len;
    float hw = (ink.x1 - ink.x0) / 2.0f, hh = (ink.y1 - ink.y0) / 2.0f;
    float s = 0;
    for (int i = 0; i < 400; i++, s += 0.1f) {
        float dx = std::max(0.0f, std::fabs(ux) * s - hw), dy = std::max(0.0f, std::fabs(uy) * s - hh);
        if (dx * dx + dy * dy >= kNumeralGap * kNumeralGap)
            break;
    }
    Pt pen = CenteredPen(f, t.label, end.x + ux * s, end.y + uy * s);
    DrawText(img, f, int(pen.x), int(pen.y), t.label, Flat(kInk));

    // Guard the layout: the numeral's ink must stay well inside the face.
    const float margin = 4;
    float x0 = pen.x + ink.x0, x1 = pen.x + ink.x1, y0 = pen.y + ink.y0, y1 = pen.y + ink.y1;
    for (float x : {x0, (x0 + x1) / 2, x1})
        for (float y : {y0, (y0 + y1) / 2, y1})
            if (!face.Contains(x, y, -margin))
                std::fprintf(stderr, "skingen: numeral %s closer than %g px to the face edge\n",
                             t.label.c_str(), margin);
}

void DrawScale(Image& img, const FaceShape& face, const Meter& m, const Scale& s, Fonts& fonts) {
    ScaleBand red{m, s.redFrom, s.redTo, kRedInF, kRedOutF};
    FillBand(img, red, Flat(kRedZone));
    // The scale line, 1.6 px across at the top of the scale.
    float halfK = 0.8f / (m.pivot.y - m.At(s.fullScale / 2, 1).y);
    FillBand(img, ScaleBand{m, 0, s.fullScale, kArcF - halfK, kArcF + halfK}, Flat(kInk));
    for (const Tick& t : s.ticks) {
        Pt a = m.At(t.units, kArcF - halfK);
        Pt b = m.At(t.units, t.major ? kMajorEndF : kMinorEndF);
        StrokeSegment(img, {a, b, t.major ? 1.5f : 0.8f}, Flat(kInk));
    }
    for (const Tick& t : s.ticks) {
        if (!t.label.empty())
            DrawNumeral(img, face, m, t, fonts);
    }
    // Unit legend above the hub, below the program's value text.
    DrawTextHCentered(img, Font{fonts.sans, 11}, m.pivot.x, 236, s.unit, Flat(Rgb(96, 90, 78)), 2);
    // Hub: a dark cap over the needle pivot, cut by the face's bottom edge.
    FillShape(img, {int(m.pivot.x) - 24, int(m.pivot.y) - 20, int(m.pivot.x) + 25, 270},
              VGrad(Rgb(70, 72, 78), Rgb(24, 25, 28), m.pivot.y - 16, m.pivot.y + 8),
              [&](float x, float y) {
                  float dx = x - m.pivot.x, dy = y - (m.pivot.y + 8);
                  return dx * dx + dy * dy <= 22 * 22 && face.Contains(x, y, 0);
              });
    FillCircle(img, m.pivot, 3.5f, Flat(Rgb(150, 152, 158)));
}

// ---------------------------------------------------------------- page parts

// Header strip with the product name, panel between, deep black below.
void DrawPanel(Image& img, Fonts& fonts, bool gradient, bool name = true) {
    FillBox(img, {0, 0, kW, kH}, Flat(kDeep));
    FillBox(img, {0, 0, kW, 23}, Flat(kHeader));
    Paint panel = gradient ? VGrad(kPanelTop, kPanelBottom, 24, 272) : Flat(Rgb(18, 20, 24));
    FillBox(img, {0, 24, kW, 272}, panel);
    FillBox(img, {0, 23, kW, 24}, Flat(Rgb(46, 50, 58)));
    FillBox(img, {0, 272, kW, 273}, Flat(Rgb(34, 37, 43)));
    // The key strip is covered by the program's keys.
    FillBox(img, {0, 420, kW, kH}, Flat(Rgb(0, 0, 0)));

    if (!name)
        return;
    Font nf{fonts.ptBold, 17};
    DrawText(img, nf, 10, 17, "TAV ZIM", Flat(kOrange), 1);
    int after = 10 + MeasureText(nf, "TAV ZIM", 1).advance + 12;
    DrawText(img, Font{fonts.sans, 10}, after, 16, "HF LINEAR AMPLIFIER \u00B7 ATU",
             Flat(Rgb(140, 145, 154)), 1);
}

// Pale amber window for the black frequency text (pen 339, baseline 52).
void DrawFreqWindow(Image& img) {
    RRect outer{331, 27, 469, 59, 5};
    FillRRect(img, outer, VGrad(Rgb(92, 96, 104), Rgb(44, 47, 53), 27, 59));
    FillRRect(img, outer.Grown(-1), Flat(Rgb(8, 8, 10)));
    FillRRect(img, outer.Grown(-2), VGrad(Rgb(250, 228, 170), Rgb(232, 200, 128), 29, 57));
    // A faint reflection along the top of the glass.
    FillRRect(img, {335, 30, 465, 32, 1}, Flat(Rgb(255, 255, 255)), 0.3f);
}

// Unlit housing of the TX lamp; the program fills x 375..429, y 175..209.
void DrawTxHousing(Image& img) {
    RRect ring{371, 171, 434, 214, 5};
    FillRRect(img, ring, Flat(Rgb(64, 68, 76)));
    FillRRect(img, ring.Grown(-2), Flat(Rgb(8, 8, 10)));
}

// ---------------------------------------------------------------- pages

Image OperatingPage(Fonts& fonts, const Scale& left, const Scale& right, const char* model) {
    Image img;
    DrawPanel(img, fonts, true);
    const FaceShape& lf = kLeftFace;
    const FaceShape& rf = kRightFace;
    DrawFace(img, lf);
    DrawFace(img, rf);
    DrawScale(img, lf, {{float(kFwdPivotX), float(kFwdPivotY)}, left.fullScale}, left, fonts);
    DrawScale(img, rf, {{float(kRightPivotX), float(kRightPivotY)}, right.fullScale}, right, fonts);
    if (model)
        DrawText(img, Font{fonts.ptBold, 13}, 22, 262, model, Flat(Rgb(150, 120, 70)));
    DrawFreqWindow(img);
    DrawTxHousing(img);
    return img;
}

Image ScopePage(Fonts& fonts) {
    Image img;
    DrawPanel(img, fonts, false);
    // Frame just outside the plot (x 70..758, y 60..230), plot a shade bluer.
    FillBox(img, {69, 59, 760, 232}, Flat(Rgb(62, 68, 80)));
    FillBox(img, {70, 60, 759, 231}, Flat(Rgb(7, 11, 20)));
    return img;
}

Image StatusPage(Fonts& fonts) {
    Image img;
    DrawPanel(img, fonts, false, false);  // the title bar carries the name
    FillBox(img, {0, 24, kW, 84}, VGrad(Rgb(36, 40, 48), Rgb(22, 24, 29), 24, 84));
    DrawText(img, Font{fonts.ptBold, 32}, 20, 68, "STATUS", Flat(Rgb(236, 238, 242)), 2);
    Font nf{fonts.ptBold, 22};
    int nx = 780 - MeasureText(nf, "TAV ZIM", 2).advance;
    DrawText(img, nf, nx, 50, "TAV ZIM", Flat(kOrange), 2);
    Font sf{fonts.sans, 10};
    DrawText(img, sf, 780 - MeasureText(sf, "HF LINEAR AMPLIFIER \u00B7 ATU", 1).advance, 68,
             "HF LINEAR AMPLIFIER \u00B7 ATU", Flat(Rgb(140, 145, 154)), 1);
    FillBox(img, {0, 82, kW, 84}, Flat(kOrange));
    FillBox(img, {0, 84, kW, 420}, Flat(Rgb(14, 15, 18)));
    return img;
}

Image StatusBPage(Fonts& fonts) {
    Image img;
    DrawPanel(img, fonts, false);
    FillBox(img, {0, 24, kW, 420}, Flat(Rgb(14, 15, 18)));
    StrokeRRect(img, {14, 26, 786, 366, 8}, 1, Flat(Rgb(52, 56, 64)));
    FillBox(img, {40, 108, 760, 109}, Flat(Rgb(84, 70, 48)));
    return img;
}

Image StartPage(Fonts& fonts, const char* badge) {
    Image img;
    FillBox(img, {0, 0, kW, kH}, VGrad(Rgb(30, 33, 40), Rgb(12, 13, 16), 0, 262));

    Font big{fonts.ptBold, 100};
    const char* name = "TAV ZIM";
    Ink ink = MeasureText(big, name, 4);
    int x = int(std::round(400 - ink.Cx())), base = 150;
    DrawText(img, big, x + 3, base + 4, name, Flat(Rgb(0, 0, 0)), 4, 0.6f);
    DrawText(img, big, x, base, name,
             VGrad(Rgb(255, 255, 255), Rgb(168, 174, 186), float(base + ink.y0), float(base)), 4);

    // Orange rule, fading out at both ends.
    for (int px = 130; px < 670; px++) {
        float t = std::min({1.0f, (px - 130) / 120.0f, (670 - 1 - px) / 120.0f});
        for (int py = 170; py < 173; py++)
            img.Blend(px, py, kOrange, t * (py == 171 ? 1.0f : 0.45f));
    }
    DrawTextHCentered(img, Font{fonts.sans, 21}, 400, 208, "HF SOLID-STATE LINEAR AMPLIFIER",
                      Flat(Rgb(226, 229, 234)), 2);
    DrawTextHCentered(img, Font{fonts.sans, 16}, 400, 238, "AUTOMATIC ANTENNA TUNER",
                      Flat(Rgb(150, 156, 166)), 3);

    if (badge) {
        Font bf{fonts.ptBold, 24};
        Ink bi = MeasureText(bf, badge);
        float w = float(bi.x1 - bi.x0) + 28;
        RRect rc{700 - w / 2, 26, 700 + w / 2, 60, 7};
        FillRRect(img, rc, Flat(kOrange));
        DrawTextCentered(img, bf, 700, 43, badge, Flat(Rgb(18, 16, 12)));
    }
    return img;
}

// ---------------------------------------------------------------- output

// The libpng part, kept apart so that its longjmp crosses no C++ object.
bool EncodePng(FILE* f, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool WritePng(const Image& img, const std::string& path) {
    std::vector<png_byte> rgba(size_t(kW) * kH * 4);
    for (size_t i = 0; i < img.px.size(); i++) {
        const Color& c = img.px[i];
        rgba[i * 4 + 0] = png_byte(std::lround(std::clamp(c.r, 0.0f, 255.0f)));
        rgba[i * 4 + 1] = png_byte(std::lround(std::clamp(c.g, 0.0f, 255.0f)));
        rgba[i * 4 + 2] = png_byte(std::lround(std::clamp(c.b, 0.0f, 255.0f)));
        rgba[i * 4 + 3] = 255;
    }
    std::vector<png_bytep> rows(kH);
    for (int y = 0; y < kH; y++)
        rows[y] = &rgba[size_t(y) * kW * 4];

    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && EncodePng(f, rows.data());
    if (f && std::fclose(f) != 0)
        ok = false;
    if (!ok)
        std::fprintf(stderr, "skingen: cannot write %s\n", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: skingen OUTDIR\n");
        return 2;
    }
    Fonts fonts;
    if (!fonts.Load())
        return 1;
    const std::string dir = argv[1];

    // The reflected/drive meter turns red above 10 W, the forward one in its last sixth.
    const Scale fwd60 = WattScale(60, 50), fwd120 = WattScale(120, 100);
    const Scale refl = WattScale(60, 10), swr = SwrScale();

    struct Out {
        const char* file;
        Image img;
    };
    const Out pages[] = {
        // No badge: "start" is also the closing and saver picture of the 120 W model.
        {"start.png", StartPage(fonts, nullptr)},
        {"start120.png", StartPage(fonts, "120 W")},
        {"statusB.png", StatusBPage(fonts)},
        {"status.png", StatusPage(fonts)},
        {"img1.png", OperatingPage(fonts, fwd60, refl, nullptr)},
        {"img1b.png", OperatingPage(fonts, fwd120, refl, "120 W")},
        {"img3.png", OperatingPage(fonts, fwd60, swr, nullptr)},
        {"img3b.png", OperatingPage(fonts, fwd120, swr, "120 W")},
        {"m5a.png", ScopePage(fonts)},
    };
    bool ok = true;
    for (const Out& p : pages)
        ok = WritePng(p.img, dir + "/" + p.file) && ok;
    return ok ? 0 : 1;
}
