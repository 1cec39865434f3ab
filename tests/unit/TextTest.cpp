// Text drawing: the font slots, placement on the baseline and the blending rule
// (the glyph cache draws the reference screens' text).
#include "RootedWorks.h"

#include "devsim/SimRoot.h"
#include "platform/Root.h"
#include "draw/Fb.h"
#include "draw/TTF.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Fills the font slots from the simulator root `root` (made here unless `made`); its log.
std::string loadFontsFrom(const std::string& root, bool made = false) {
    std::string err;
    EXPECT_TRUE(made || SimRootCreate(root, SimRootOptions{}, &err)) << err;
    plat_set_root(root.c_str());
    LoadFonts();
    plat_set_root(nullptr);
    return ReadFile(root + "/syslog.log");
}

class Text : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { LoadSimFonts(); }
    void SetUp() override {
        fb = fbInitMemory(800, 480, 32);
        ASSERT_NE(fb, nullptr);
    }
    void TearDown() override { fbRelease(fb, true); }
    const uint8_t* px(int x, int y) const { return fb->work + y * fb->lineSize + x * 4; }
    // Rows and columns of the picture where any colour byte is not zero.
    struct Ink {
        int minX = 100000, maxX = -1, minY = 100000, maxY = -1;
    };
    Ink ink() const {
        Ink b;
        for (int y = 0; y < fb->height; y++)
            for (int x = 0; x < fb->width; x++)
                if (px(x, y)[0] || px(x, y)[1] || px(x, y)[2]) {
                    b = {std::min(b.minX, x), std::max(b.maxX, x), std::min(b.minY, y),
                         std::max(b.maxY, y)};
                }
        return b;
    }

    FrameBuffer* fb = nullptr;
};

// (Every face found and loaded, each slot's face and size:
// ReferenceScreens.EverySkinWithSampleText.)
TEST_F(Text, TwelveLoadsFillTheirSlots) {
    for (int slot = 0; slot <= 12; slot++) // start-up leaves slots 3 and 12 empty
        EXPECT_EQ(getStringSpace(slot, "Hello") > 0, slot != 3 && slot != 12) << slot;
    EXPECT_EQ(getStringSpace(8, ""), 0);
}

// A unit whose font package lacks a face: the slots of that file take a face
// that loaded, at their own size, so their text is still drawn.
class TextWithoutSomeFaces : public Text {
  protected:
    // Loads the start-up fonts from a root whose DejaVu folder lacks `missing`
    // (and, if `noPtSans`, without the PT Sans faces).
    std::string loadWithout(const std::vector<std::string>& missing, bool noPtSans = false) {
        std::string err;
        EXPECT_TRUE(SimRootCreate(root.path, SimRootOptions{}, &err)) << err;
        const std::string dejavu = "/usr/share/fonts/truetype/dejavu";
        const std::string mine = root.path + dejavu;
        EXPECT_EQ(unlink(mine.c_str()), 0);
        EXPECT_EQ(mkdir(mine.c_str(), 0755), 0);
        for (const char* file :
             {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf"}) {
            if (std::find(missing.begin(), missing.end(), file) == missing.end()) {
                EXPECT_EQ(symlink((dejavu + "/" + file).c_str(), (mine + "/" + file).c_str()), 0);
            }
        }
        for (const char* f : {"/opt/fonts/PTS55F_W.ttf", "/opt/fonts/PTS75F_W.ttf"})
            EXPECT_TRUE(!noPtSans || unlink((root.path + f).c_str()) == 0) << f;
        return loadFontsFrom(root.path, true);
    }
    // The other tests of this program find the slots as start-up fills them.
    void TearDown() override {
        TempDir whole;
        loadFontsFrom(whole.path);
        Text::TearDown();
    }
    // Width of `text` in `path` at `size`, through a slot start-up never uses.
    int32_t widthIn(const char* path, int size, const char* text) {
        TTFLoad(path, size, 19);
        return getStringSpace(19, text);
    }
    TempDir root;
};

TEST_F(TextWithoutSomeFaces, AMissingObliqueFaceIsReplacedByTheRegularOne) {
    const std::string log = loadWithout({"DejaVuSans-Oblique.ttf"});
    EXPECT_TRUE(
        Contains(log, "3 font slot 7: /usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf "
                      "did not load, drawn with /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"))
        << log;
    putString(7, 100, 100, "Remote", 255, 0, 0, fb);
    const Ink b = ink();
    EXPECT_GE(b.minX, 100);
    EXPECT_GT(b.maxX - b.minX, 40); // a word, not a dot
    EXPECT_LE(b.maxY, 100 + 6);
    // The regular face at the slot's own size of 24 pixels.
    EXPECT_EQ(getStringSpace(7, "Remote"),
              widthIn("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 24, "Remote"));
    // Only that slot needed help.
    EXPECT_EQ(log.find("font slot", log.find("font slot 7") + 1), std::string::npos) << log;
}

TEST_F(TextWithoutSomeFaces, WithoutDejaVuEverySlotIsDrawnInPtSans) {
    const std::string log =
        loadWithout({"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf"});
    for (int slot : {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11}) {
        EXPECT_TRUE(TTFSlotLoaded(slot)) << slot;
        EXPECT_GT(getStringSpace(slot, "Hello"), 0) << slot;
    }
    EXPECT_TRUE(Contains(log, "did not load, drawn with /opt/fonts/PTS55F_W.ttf")) << log;
    EXPECT_EQ(getStringSpace(9, "Loading"), widthIn("/opt/fonts/PTS55F_W.ttf", 30, "Loading"));
    EXPECT_FALSE(TTFSlotLoaded(3)); // never loaded, never drawn with
}

TEST_F(TextWithoutSomeFaces, NoFaceAtAllIsSaidOncePerSlotAndDrawsNothing) {
    const std::string log =
        loadWithout({"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf"}, true);
    EXPECT_TRUE(Contains(log,
                         "3 font slot 7: /usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf "
                         "did not load and no other face did: its text is not drawn"));
    EXPECT_EQ(CountOf(log, "no other face did"), 11u); // slot 0 is loaded twice but said once
    EXPECT_TRUE(Contains(log, "3 FreeType: file error"));
    EXPECT_EQ(getStringSpace(8, "Hello"), 0);
    for (int slot : {8, -1, 40})
        putString(slot, 100, 100, "nothing", 255, 255, 255, fb);
    EXPECT_EQ(ink().maxX, -1);
}

TEST_F(Text, WhiteTextBlendsByCoverageAndZeroCoverageChangesNothing) {
    const char* line = "PA Temp1: 035.2\xC2\xB0"
                       "C  gjq|Wx";
    // On black, white text leaves the coverage itself in every byte.
    putString(8, 10, 200, line, 255, 255, 255, fb);
    std::vector<uint8_t> coverage(fb->memSize);
    for (int i = 0; i < fb->memSize; i += 4)
        coverage[i] = fb->work[i];

    std::mt19937 rng(7);
    std::vector<uint8_t> background(fb->memSize);
    for (size_t i = 0; i < background.size(); i++)
        background[i] = i % 4 == 3 ? 0 : static_cast<uint8_t>(rng()); // pictures hold B, G, R, 0
    std::memcpy(fb->work, background.data(), fb->memSize);
    putString(8, 10, 200, line, 255, 255, 255, fb);
    int covered = 0;
    for (int i = 0; i < fb->memSize; i += 4) {
        unsigned a = coverage[i];
        if (a == 0) {
            ASSERT_EQ(std::memcmp(fb->work + i, &background[i], 4), 0) << "pixel " << i / 4;
            continue;
        }
        covered++;
        for (int k = 0; k < 3; k++)
            ASSERT_EQ(fb->work[i + k], a + (255 - a) * background[i + k] / 255);
        ASSERT_EQ(fb->work[i + 3], 0);
    }
    EXPECT_GT(covered, 100);

    // Other colours take (coverage AND component).
    std::memset(fb->work, 0, fb->memSize);
    putString(8, 10, 200, line, 250, 150, 0, fb);
    for (int i = 0; i < fb->memSize; i += 4) {
        unsigned a = coverage[i];
        ASSERT_EQ(fb->work[i + 0], 0u);
        ASSERT_EQ(fb->work[i + 1], a & 150u);
        ASSERT_EQ(fb->work[i + 2], a & 250u);
    }
}

TEST_F(Text, TextNearTheEdgesStaysInsideThePicture) {
    putString(9, 790, 479, "WWWW", 255, 255, 255, fb);
    putString(9, -50, 5, "WWWW", 255, 255, 255, fb);
    putString(9, 10, 2000, "WWWW", 255, 255, 255, fb); // far below: dropped
    // (with AddressSanitizer a write past the picture would stop the test)
    EXPECT_GE(ink().maxX, 0);
}

} // namespace
