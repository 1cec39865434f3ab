// Any bytes as a skin, on a screen of 64 x 48: a file that is refused leaves the
// picture untouched; one that loads is an 8-bit RGBA image no larger than the
// screen whose pixels, as an independent reading of the file gives them, are
// stored as B, G, R, 0 in its corner, and nothing else changes. No file may
// make libpng take more memory than such a picture needs.
#include "FuzzRoot.h"

#include "devsim/PngFile.h"
#include "draw/Fb.h"
#include "draw/Png.h"

#include <filesystem>
#include <png.h>
#include <sys/resource.h>

namespace {

constexpr int kW = 64, kH = 48;
constexpr uint8_t kOld = 0x5A;

// The header and the pixels as libpng's plain reading gives them (chunks before
// the header included, which libpng passes over); false when it refuses the file.
bool reference(const std::string& path, png_uint_32* w, png_uint_32* h, int* depth, int* type,
               SimPng* ref) {
    FuzzQuiet quiet;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_get_IHDR(png, info, w, h, depth, type, nullptr, nullptr, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return SimPngReadRgba(path, ref);
}

// The picture, made by libpng's writer, as seeds.
std::vector<uint8_t> pngBytes(int w, int h, int depth, int colorType, int interlace, bool text) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, size_t n) {
            auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            v->insert(v->end(), d, d + n);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth,
                 colorType, interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (text) {
        png_text t{};
        t.compression = PNG_TEXT_COMPRESSION_zTXt;
        t.key = const_cast<char*>("Comment");
        t.text = const_cast<char*>("a skin of the panel");
        png_set_text(png, info, &t, 1);
        png_set_gAMA(png, info, 0.45455);
    }
    png_write_info(png, info);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    // An interlaced picture is written in passes over the whole picture.
    const int passes = png_set_interlace_handling(png);
    for (int y = 0; y < h * passes; y++) {
        for (size_t i = 0; i < row.size(); i++)
            row[i] = static_cast<uint8_t>((static_cast<size_t>(y % h) * row.size() + i) * 7 + 3);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    static FrameBuffer* fb = [&] {
        w->imageX = 0;
        w->imageY = 0;
        return fbInitMemory(kW, kH, 32);
    }();
    w->fb = fb;
    FuzzWriteFile("/fuzz.png", data, size);
    std::memset(fb->back, kOld, static_cast<size_t>(fb->memSize));
    // Skins are read from the working directory: the root's, for the load only
    // (the fuzzer's own paths are relative to its own).
    const long peakBefore = peakRssKb();
    static const std::string here = std::filesystem::current_path().string();
    if (chdir(FuzzRootDir().c_str()) != 0) FuzzFail("fuzz: cannot enter the root");
    FuzzQuietly([w] { LoadSkin(w, "fuzz", 1); });
    if (chdir(here.c_str()) != 0) FuzzFail("fuzz: cannot return to %s", here.c_str());
    // The largest picture this screen takes is 12 KiB; libpng's own needs are a
    // few hundred more.
    FUZZ_CHECK(peakRssKb() - peakBefore < 64 * 1024,
               "png: loading took the memory peak up by %ld KiB", peakRssKb() - peakBefore);
    if (std::any_of(fb->back, fb->back + fb->memSize, [](uint8_t b) { return b != kOld; })) {
        // Loaded: the header says 8-bit RGBA no larger than the screen.
        const std::string path = FuzzRootDir() + "/fuzz.png";
        png_uint_32 iw = 0, ih = 0;
        int depth = 0, type = -1;
        SimPng ref;
        FUZZ_CHECK(reference(path, &iw, &ih, &depth, &type, &ref),
                   "png: libpng's plain reading refuses a file that loaded");
        FUZZ_CHECK(depth == 8 && type == PNG_COLOR_TYPE_RGBA,
                   "png: a file of depth %d and colour type %d was loaded", depth, type);
        FUZZ_CHECK(iw >= 1 && ih >= 1 && iw <= kW && ih <= kH, "png: a %u x %u image was loaded",
                   iw, ih);
        FUZZ_CHECK(ref.width == static_cast<int>(iw) && ref.height == static_cast<int>(ih),
                   "png: libpng's plain reading gives %d x %d", ref.width, ref.height);
        // Inside the image B, G, R, 0 of the file's pixel; outside it nothing changed.
        for (uint32_t y = 0; y < kH; y++) {
            for (uint32_t x = 0; x < kW; x++) {
                const uint8_t* d = fb->back + y * static_cast<uint32_t>(fb->lineSize) + x * 4;
                const uint8_t* s = x < iw && y < ih ? &ref.data[(y * iw + x) * 4] : nullptr;
                const uint8_t want[4] = {s ? s[2] : kOld, s ? s[1] : kOld, s ? s[0] : kOld,
                                         s ? uint8_t{0} : kOld};
                FUZZ_CHECK(std::memcmp(d, want, 4) == 0,
                           "png: pixel (%u, %u) is %02x %02x %02x %02x, not %02x %02x %02x %02x", x,
                           y, d[0], d[1], d[2], d[3], want[0], want[1], want[2], want[3]);
            }
        }
    }
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    std::vector<std::vector<uint8_t>> out = {
        pngBytes(16, 8, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, false),
        pngBytes(kW, kH, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, true),
        pngBytes(13, 11, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_ADAM7, true),
        pngBytes(kW + 1, 2, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, false),
        pngBytes(8, 8, 16, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, false),
        pngBytes(8, 8, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, false),
        pngBytes(8, 8, 4, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, false),
    };
    // The first seed's signature and header, then a text chunk that declares 2 GB.
    std::vector<uint8_t> huge(out[0].begin(), out[0].begin() + 33);
    const uint8_t chunk[] = {0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 'a', 'b', 'c'};
    huge.insert(huge.end(), chunk, chunk + sizeof chunk);
    out.push_back(huge);
    return out;
}
