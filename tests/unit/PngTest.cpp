// Loading skins: accepted format, refusals that leave the pictures untouched.
#include "RootedWorks.h"

#include "devsim/PngFile.h"
#include "draw/Png.h"

#include <cstring>
#include <sys/resource.h>

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

class Skins : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        usePicture(dir.path);
        std::memset(fb->work, 0x11, fb->memSize);
        std::memset(fb->back, 0x22, fb->memSize);
    }
    bool untouched() const {
        for (int i = 0; i < fb->memSize; i++)
            if (fb->work[i] != 0x11 || fb->back[i] != 0x22 || fb->screen[i] != 0) return false;
        return true;
    }
};

// (Every pixel of a loaded file as B, G, R, 0: the png_fuzz target.)
TEST_F(Skins, AnImageGoesToTheImageOriginOfTheBackPictureAndIsNotShownYet) {
    SimPng p = makePng(10, 5, 8, 6);
    ASSERT_TRUE(SimPngWrite(p, dir.path + "/m.png"));
    w->imageX = 795;
    w->imageY = 477;
    LoadSkin(w.get(), "m", 1);
    // Pixel (0, 0) of the image: R, G, B, A -> B, G, R, 0 at the origin.
    const uint8_t* d = fb->back + 477 * fb->lineSize + 795 * 4;
    EXPECT_EQ((std::vector<int>{d[0], d[1], d[2], d[3]}),
              (std::vector<int>{p.data[2], p.data[1], p.data[0], 0}));
    // Rows past the bottom are dropped; columns past the edge wrap, as offsets do.
    EXPECT_EQ(fb->back[476 * fb->lineSize + 795 * 4], 0x22);
    EXPECT_EQ(fb->work[0], 0x11);
    EXPECT_EQ(fb->screen[0], 0);
}

TEST_F(Skins, RefusedFormatsAndFilesLeaveEveryPictureAlone) {
    for (auto [png, message] :
         {std::pair{makePng(800, 480, 16, 6),
                    "x.png image has 16 pixels not 4 or color_type is 6 not 6"},
          {makePng(800, 480, 8, 2), "x.png image has 8 pixels not 4 or color_type is 2 not 6"},
          {makePng(801, 480, 8, 6), "x.png image has 801 cols not 800"},
          {makePng(800, 481, 8, 6), "x.png image has 481 rows not 480"}}) {
        ASSERT_TRUE(SimPngWrite(png, dir.path + "/x.png"));
        LoadSkin(w.get(), "x", 1);
        LoadSkin(w.get(), "x", 0);
        EXPECT_TRUE(Contains(syslog(), std::string("3 ") + message)) << message;
        EXPECT_TRUE(untouched()) << message;
    }
    // Missing, not a PNG, or a valid header followed by cut image data (refused while decoding).
    LoadSkin(w.get(), "nothere", 0);
    EXPECT_TRUE(Contains(syslog(), "3 nothere.png image could not be opened"));
    ASSERT_TRUE(WriteFile(dir.path + "/text.png", "this is not a picture"));
    LoadSkin(w.get(), "text", 0);
    EXPECT_TRUE(Contains(syslog(), "3 text.png image is not a PNG file"));
    ASSERT_TRUE(SimPngWrite(makePng(800, 480, 8, 6), dir.path + "/cut.png"));
    const std::string whole = ReadFile(dir.path + "/cut.png");
    ASSERT_TRUE(WriteFile(dir.path + "/cut.png", whole.substr(0, whole.size() / 2)));
    LoadSkin(w.get(), "cut", 0);
    EXPECT_TRUE(Contains(syslog(), "3 cut.png error during reading image"));
    EXPECT_TRUE(untouched());
}

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void be32(std::string* s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        *s += static_cast<char>(v >> shift);
}

// The signature and the header of a full-screen skin as libpng writes them,
// then a chunk whose length says 2 GB followed by three bytes: 44 bytes in all.
std::string hugeChunkPng(const std::string& dir, const char* type) {
    EXPECT_TRUE(SimPngWrite(makePng(800, 480, 8, 6), dir + "/header.png"));
    std::string s = ReadFile(dir + "/header.png").substr(0, 33);
    be32(&s, 0x7FFFFFF0u);
    s += type;
    s += "abc";
    return s;
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// libpng reads a text or palette chunk whole: it allocated and cleared the 2 GB
// the chunk declared before it found the file too short.
TEST_F(Skins, ChunkDeclaringGigabytesIsRefusedWithoutTakingThem) {
    for (const char* type :
         {"tEXt", "zTXt", "iTXt", "sPLT", "sCAL", "pCAL", "iCCP", "eXIf", "quUx", "IDAT"}) {
        ASSERT_TRUE(WriteFile(dir.path + "/huge.png", hugeChunkPng(dir.path, type)));
        const size_t logged = syslog().size();
        const long before = peakRssKb();
        LoadSkin(w.get(), "huge", 1);
        LoadSkin(w.get(), "huge", 0);
        EXPECT_LT(peakRssKb() - before, 64 * 1024) << type;
        const std::string text = syslog().substr(logged);
        // Image data is streamed: libpng finds the file cut.
        EXPECT_TRUE(
            std::string(type) == "IDAT"
                ? Contains(text, "3 huge.png error during reading image")
                : Contains(text, std::string("3 huge.png chunk ") + type +
                                     " at 33 declares 2147483632 bytes, more than the file holds"))
            << type;
        EXPECT_TRUE(untouched()) << type;
    }
}

// A chunk the file does hold, but longer than a screen of pixels (image data
// aside), is no part of a skin.
TEST_F(Skins, ChunkLongerThanAScreenAndPictureBeyondTwiceTheScreenAreRefused) {
    std::string file = hugeChunkPng(dir.path, "tEXt").substr(0, 33);
    std::string text = "tEXtComment";
    text += '\0';
    text += std::string(800 * 480 * 4 + 480, 'x');
    be32(&file, static_cast<uint32_t>(text.size() - 4));
    file += text;
    be32(&file, crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    ASSERT_TRUE(WriteFile(dir.path + "/long.png", file));
    LoadSkin(w.get(), "long", 1);
    EXPECT_TRUE(Contains(
        syslog(), "3 long.png chunk tEXt at 33 declares 1536488 bytes, more than a skin needs"));
    EXPECT_TRUE(untouched());
    // libpng's own limits sit at twice the screen: a picture far too large is
    // refused while its header is read, with libpng's reason in the log.
    ASSERT_TRUE(SimPngWrite(makePng(1601, 8, 8, 6), dir.path + "/wide.png"));
    LoadSkin(w.get(), "wide", 1);
    EXPECT_TRUE(Contains(syslog(), "wide.png libpng: Image width exceeds user limit in IHDR"));
    EXPECT_TRUE(Contains(syslog(), "3 wide.png error during init_io"));
    EXPECT_TRUE(untouched());
}

} // namespace
