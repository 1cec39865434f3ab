// Framebuffer set-up and the drawing primitives: pixel packing and clipping.
#include "RootDir.h"

#include "core/Works.h"
#include "draw/Fb.h"
#include "draw/Graph.h"

#include <fcntl.h>
#include <set>
#include <unistd.h>
#include <algorithm>

namespace {

using Points = std::set<std::pair<int, int>>;

// A small picture, so that edges are easy to reach.
struct SmallFb {
    FrameBuffer* fb;
    uint8_t* work;
    SmallFb(int w, int h, int bpp) : fb(fbInitMemory(w, h, bpp)), work(fb->work) {}
    ~SmallFb() { fbRelease(fb, true); }
    // Pixels of `buf` that are not zero, as (x, y).
    Points drawn(const uint8_t* buf) const {
        Points p;
        for (int o = 0; o < fb->memSize; o += fb->pixelSize)
            if (std::any_of(buf + o, buf + o + fb->pixelSize, [](uint8_t b) { return b != 0; }))
                p.insert({(o % fb->lineSize) / fb->pixelSize, o / fb->lineSize});
        return p;
    }
};

// The pixels a line from (x0, y0) to (x1, y1) sets in a fresh w x h picture.
Points line(int w, int h, int x0, int y0, int x1, int y1) {
    SmallFb f(w, h, 32);
    DrawLine(x0, y0, x1, y1, 1, 1, 1, f.fb, 0);
    return f.drawn(f.work);
}

// (The panel's pictures reaching the device memory, the root's dev/fb0, whole:
// Screens.CountDownThenStatusPictureThenClosingMessage.)
class Framebuffer : public RootDir {};

TEST_F(Framebuffer, FbInitOnTheVirtualPanelOfARootOrSaysThereIsNoneAndAnUnknownDepthRefused) {
    EXPECT_EQ(fbInit(), nullptr);
    EXPECT_TRUE(Contains(syslog(), "3 Unable to read framebuffer device: /dev/fb0"));
    ASSERT_TRUE(WriteFile(dir.path + "/dev/fb0", ""));
    FrameBuffer* fb = fbInit();
    ASSERT_NE(fb, nullptr);
    // The log line prints the picture's fields.
    EXPECT_TRUE(Contains(syslog(), "6 Screen Size x: 800, y: 480, Pixel Size 4 Line size: 3200, "
                                   "Mem size: 1536000"));
    // The cursor-hiding command ran with its redirection kept inside the root.
    EXPECT_TRUE(
        Contains(ReadFile(dir.path + "/commands.log"), "/bin/echo -e -n '\\e[?25l' >/dev/tty0"));
    EXPECT_TRUE(FileExists(dir.path + "/dev/tty0"));
    fbRelease(fb, false);
    // A depth of neither 16 nor 32 bits is refused.
    const int fd = open((dir.path + "/dev/fb0").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fbInitFromInfo(fd, 800, 480, 12), nullptr);
    EXPECT_TRUE(Contains(syslog(), "3 Unknown pixel format"));
    close(fd);
}

// (Four bytes a pixel, B, G, R, 0: the ReferenceScreens pictures.)
TEST(DrawLine, PackingOfTwoBytePixelsAndNoneOfThree) {
    using Bytes = std::vector<uint8_t>;
    SmallFb f2(4, 4, 16);
    DrawLine(0, 0, 1, 0, 255, 255, 255, f2.fb, 0);
    EXPECT_EQ(Bytes(f2.work, f2.work + 2), (Bytes{0xFF, 0xFF}));
    DrawLine(0, 1, 1, 1, 255, 0, 0, f2.fb, 0);
    EXPECT_EQ(Bytes(f2.work + 8, f2.work + 10), (Bytes{0x00, 0xF8})); // the next row

    // Three bytes a pixel: nothing is drawn.
    SmallFb f3(4, 4, 24);
    DrawLine(0, 0, 3, 3, 255, 255, 255, f3.fb, 0);
    DrawHorizontalLine(0, 1, 3, 255, 255, 255, f3.fb, 0);
    EXPECT_TRUE(f3.drawn(f3.work).empty());
}

TEST(DrawLine, ClippingByByteOffsetOnly) {
    // Past the right edge the line continues on the next row.
    EXPECT_EQ(line(10, 5, 8, 1, 12, 1), (Points{{8, 1}, {9, 1}, {0, 2}, {1, 2}, {2, 2}}));
    // The last pixel of the buffer is never written; points above the top are dropped.
    EXPECT_EQ(line(10, 5, 9, 4, 9, -3), (Points{{9, 0}, {9, 1}, {9, 2}, {9, 3}}));
    // Negative offsets are dropped, and far below the picture nothing is written.
    EXPECT_EQ(line(10, 5, -5, 0, 3, 0), (Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
    EXPECT_TRUE(line(10, 5, 0, 100, 9, 100).empty());
}

TEST(DrawHorizontalLine, HalfOpenSpan) {
    SmallFb f(20, 5, 32);
    DrawHorizontalLine(10, 2, 10, 255, 255, 255, f.fb, 0);
    EXPECT_TRUE(f.drawn(f.work).empty());
    DrawHorizontalLine(10, 2, 12, 255, 255, 255, f.fb, 0);
    EXPECT_EQ(f.drawn(f.work), (Points{{10, 2}, {11, 2}}));
    DrawHorizontalLine(12, 3, 10, 255, 255, 255, f.fb, 0);
    EXPECT_EQ(f.drawn(f.work).size(), 2u);
}

// (Its edges and their extent: the frames of the information rows in the
// ReferenceScreens pictures.) None of it reaches the back picture, the skin.
TEST(DrawRect, OnTheWorkPictureOnly) {
    SmallFb f(20, 20, 32);
    auto w = std::make_unique<Works>();
    w->fb = f.fb;
    DrawRect(w.get(), 2, 3, 6, 8, 255, 255, 255);
    EXPECT_FALSE(f.drawn(f.work).empty());
    EXPECT_TRUE(f.drawn(f.fb->back).empty());
}

} // namespace
