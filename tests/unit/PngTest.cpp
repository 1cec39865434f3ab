// Loading skins: accepted format, refusals that leave the pictures untouched.
#include "TestRoot.h"

#include "core/Works.h"
#include "devsim/PngFile.h"
#include "platform/Root.h"
#include "ui/Fb.h"
#include "ui/Png.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace {

SimPng makePng(int w, int h, int depth, int colorType) {
    SimPng p;
    p.width = w;
    p.height = h;
    p.bitDepth = depth;
    p.colorType = colorType;
    int channels = colorType == 6 ? 4 : colorType == 2 ? 3 : 1;
    size_t rowBytes = static_cast<size_t>(w) * channels * (depth / 8);
    p.data.resize(rowBytes * h);
    for (size_t i = 0; i < p.data.size(); i++)
        p.data[i] = static_cast<uint8_t>(i * 7 + 3);
    return p;
}

class Skins : public ::testing::Test {
  protected:
    void SetUp() override {
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir.path);
        plat_set_root(dir.path.c_str());
        fb = fbInitMemory(800, 480, 32);
        ASSERT_NE(fb, nullptr);
        std::memset(fb->work, 0x11, fb->memSize);
        std::memset(fb->back, 0x22, fb->memSize);
        w = std::make_unique<Works>();
        w->fb = fb;
    }
    void TearDown() override {
        fbRelease(fb, true);
        plat_set_root(nullptr);
        std::filesystem::current_path(old);
    }
    bool untouched() const {
        for (int i = 0; i < fb->memSize; i++)
            if (fb->work[i] != 0x11 || fb->back[i] != 0x22 || fb->screen[i] != 0)
                return false;
        return true;
    }
    std::string log() const { return ReadFile(dir.path + "/syslog.log"); }

    TempDir dir;
    std::filesystem::path old;
    FrameBuffer* fb = nullptr;
    std::unique_ptr<Works> w;
};

TEST_F(Skins, RgbaImageIsStoredAsBgrZero) {
    SimPng p = makePng(800, 480, 8, 6);
    ASSERT_TRUE(SimPngWrite(p, dir.path + "/img1.png"));
    LoadSkin(w.get(), "img1", 1);
    // Pixel (799, 479) of the image: R, G, B, A -> B, G, R, 0.
    size_t src = (479 * 800 + 799) * 4;
    const uint8_t* d = fb->back + 479 * fb->lineSize + 799 * 4;
    EXPECT_EQ(d[0], p.data[src + 2]);
    EXPECT_EQ(d[1], p.data[src + 1]);
    EXPECT_EQ(d[2], p.data[src + 0]);
    EXPECT_EQ(d[3], 0);
    EXPECT_EQ(fb->work[0], 0x11); // loading into back shows nothing yet
    EXPECT_EQ(fb->screen[0], 0);

    LoadSkin(w.get(), "img1", 0); // into work: shown at once
    EXPECT_EQ(std::memcmp(fb->work, fb->back, fb->memSize), 0);
    EXPECT_EQ(std::memcmp(fb->screen, fb->work, fb->memSize), 0);
}

TEST_F(Skins, SmallerImageGoesToTheImageOrigin) {
    ASSERT_TRUE(SimPngWrite(makePng(10, 5, 8, 6), dir.path + "/m.png"));
    w->imageX = 795;
    w->imageY = 477;
    LoadSkin(w.get(), "m", 1);
    // Rows past the bottom are dropped; columns past the edge wrap, as offsets do.
    EXPECT_NE(fb->back[477 * fb->lineSize + 795 * 4 + 3], 0x22);
    EXPECT_EQ(fb->back[476 * fb->lineSize + 795 * 4], 0x22);
}

TEST_F(Skins, RefusedFormatsLeaveEveryPictureAlone) {
    struct Case {
        SimPng png;
        const char* message;
    } cases[] = {
        {makePng(800, 480, 16, 6), "x.png image has 16 pixels not 4 or color_type is 6 not 6"},
        {makePng(800, 480, 8, 2), "x.png image has 8 pixels not 4 or color_type is 2 not 6"},
        {makePng(801, 480, 8, 6), "x.png image has 801 cols not 800"},
        {makePng(800, 481, 8, 6), "x.png image has 481 rows not 800"},
    };
    cases[3].message = "x.png image has 481 rows not 480";
    for (auto& c : cases) {
        ASSERT_TRUE(SimPngWrite(c.png, dir.path + "/x.png"));
        LoadSkin(w.get(), "x", 1);
        LoadSkin(w.get(), "x", 0);
        EXPECT_TRUE(Contains(log(), std::string("3 ") + c.message)) << c.message;
        EXPECT_TRUE(untouched()) << c.message;
    }
}

TEST_F(Skins, MissingBrokenAndTruncatedFiles) {
    LoadSkin(w.get(), "nothere", 0);
    EXPECT_TRUE(Contains(log(), "3 nothere.png image could not be opened"));
    ASSERT_TRUE(WriteFile(dir.path + "/text.png", "this is not a picture"));
    LoadSkin(w.get(), "text", 0);
    EXPECT_TRUE(Contains(log(), "3 text.png image is not a PNG file"));

    // A valid header followed by cut image data: refused while decoding.
    ASSERT_TRUE(SimPngWrite(makePng(800, 480, 8, 6), dir.path + "/cut.png"));
    std::string whole = ReadFile(dir.path + "/cut.png");
    ASSERT_TRUE(WriteFile(dir.path + "/cut.png", whole.substr(0, whole.size() / 2)));
    LoadSkin(w.get(), "cut", 0);
    EXPECT_TRUE(Contains(log(), "3 cut.png error during reading image"));
    EXPECT_TRUE(untouched());
}

} // namespace
