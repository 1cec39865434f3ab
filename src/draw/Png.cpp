// PNG skins through libpng.
//
// A skin is 8-bit RGBA no larger than the screen; each pixel is stored as
// B, G, R, 0 at the image origin of the shared record. The header is checked
// before any row is decoded, so a wrong file costs nothing and changes nothing.
#include "draw/Png.h"

#include "core/Works.h"
#include "platform/Log.h"
#include "draw/Damage.h"
#include "draw/Fb.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>

namespace {

struct Rows {
    png_bytep* rows = nullptr;
    png_uint_32 count = 0;
    ~Rows() {
        if (!rows)
            return;
        for (png_uint_32 i = 0; i < count; i++)
            std::free(rows[i]);
        std::free(rows);
    }
};

// libpng's own reason for a refusal goes to the log with the file's name; the
// step that failed is logged after it.
void pngError(png_structp png, png_const_charp message) {
    LogErr("%s libpng: %s", static_cast<const char*>(png_get_error_ptr(png)), message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp png, png_const_charp message) {
    LogInfo("%s libpng: %s", static_cast<const char*>(png_get_error_ptr(png)), message);
}

// The most bytes a chunk of a skin can need: a whole screen of pixels and the
// filter byte of each row.
png_alloc_size_t screenBytes(const FrameBuffer* fb) {
    return static_cast<png_alloc_size_t>(fb->width) * fb->height * 4 +
           static_cast<png_alloc_size_t>(fb->height);
}

// libpng reads a text, palette or calibration chunk whole: it allocates and
// clears whatever length the chunk declares (2 GB from a 44-byte file) before it
// finds the file too short, and its chunk-size limit only draws a warning. So
// the chunk headers are walked first: such a chunk longer than the rest of the
// file, or than a screen of pixels, refuses the file before libpng sees it.
// Image data is streamed, so libpng itself tells a cut file. The file is left
// after the signature.
bool chunksFit(FILE* f, const char* path, const FrameBuffer* fb) {
    const long start = std::ftell(f);
    if (start < 0 || std::fseek(f, 0, SEEK_END) != 0)
        return false;
    const long end = std::ftell(f);
    long at = start;
    bool fit = true;
    while (fit && end - at >= 8) {
        unsigned char head[8];
        if (std::fseek(f, at, SEEK_SET) != 0 || std::fread(head, 1, 8, f) != 8)
            break;
        const png_uint_32 length = png_get_uint_32(head);
        const long room = end - at - 12; // the length, type and CRC fields
        if (std::memcmp(head + 4, "IEND", 4) == 0 ||
            (std::memcmp(head + 4, "IDAT", 4) == 0 && static_cast<long>(length) > room))
            break;
        if (length > PNG_UINT_31_MAX || static_cast<long>(length) > room ||
            (std::memcmp(head + 4, "IDAT", 4) != 0 && length > screenBytes(fb))) {
            LogErr("%s chunk %.4s at %ld declares %u bytes, more than %s", path,
                   reinterpret_cast<const char*>(head + 4), at, static_cast<unsigned>(length),
                   static_cast<long>(length) > room ? "the file holds" : "a skin needs");
            fit = false;
        }
        at += 12 + static_cast<long>(length);
    }
    if (std::fseek(f, start, SEEK_SET) != 0)
        return false;
    return fit;
}

// libpng's own limits, behind the walk above: decompressed text and profiles
// are held to a screen of pixels, and the picture to twice the screen, so that
// one only somewhat too large still reaches the checks below, whose messages
// give its size.
void limitToScreen(png_structp png, const FrameBuffer* fb) {
    png_set_chunk_malloc_max(png, screenBytes(fb));
    png_set_user_limits(png, 2u * static_cast<png_uint_32>(fb->width),
                        2u * static_cast<png_uint_32>(fb->height));
}

// The steps after the file is open; returns false after logging a refusal. Kept
// apart from getPng so that libpng's longjmp never crosses a C++ destructor.
bool decode(FILE* f, const char* path, FrameBuffer* fb, uint8_t* dst, int imageX, int imageY,
            Rows* rows) {
    if (!chunksFit(f, path, fb))
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, const_cast<char*>(path),
                                             pngError, pngWarning);
    if (!png) {
        LogErr("%s PNG_create_read_struct failed", path);
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        LogErr("%s PNG_create_info_struct failed", path);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        LogErr("%s error during init_io", path);
        return false;
    }
    limitToScreen(png, fb);
    png_init_io(png, f);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info);
    int colorType = png_get_color_type(png, info);

    if (width > static_cast<png_uint_32>(fb->width)) {
        LogErr("%s image has %d cols not %d", path, static_cast<int>(width), fb->width);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (height > static_cast<png_uint_32>(fb->height)) {
        LogErr("%s image has %d rows not %d", path, static_cast<int>(height), fb->height);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (depth != 8 || fb->pixelSize != 4 || colorType != PNG_COLOR_TYPE_RGBA) {
        LogErr("%s image has %d pixels not %d or color_type is %d not %d", path, depth,
               fb->pixelSize, colorType, PNG_COLOR_TYPE_RGBA);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }

    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        LogErr("%s error during reading image", path);
        return false;
    }
    rows->rows = static_cast<png_bytep*>(std::calloc(height, sizeof(png_bytep)));
    if (!rows->rows) {
        png_destroy_read_struct(&png, &info, nullptr);
        LogErr("%s unable to alloc row_pointers for image", path);
        return false;
    }
    rows->count = height;
    size_t rowBytes = png_get_rowbytes(png, info);
    for (png_uint_32 r = 0; r < height; r++) {
        rows->rows[r] = static_cast<png_bytep>(std::malloc(rowBytes));
        if (!rows->rows[r]) {
            png_destroy_read_struct(&png, &info, nullptr);
            LogErr("%s unable to alloc row_pointers[%d] for image", path, static_cast<int>(r));
            return false;
        }
    }
    png_read_image(png, rows->rows);
    png_destroy_read_struct(&png, &info, nullptr);

    // Everything is decoded: only now does the target picture change.
    const int64_t mem = fb->memSize;
    for (png_uint_32 r = 0; r < height; r++) {
        const png_bytep src = rows->rows[r];
        for (png_uint_32 c = 0; c < width; c++) {
            int64_t o = (static_cast<int64_t>(imageY) + r) * fb->lineSize +
                        (static_cast<int64_t>(imageX) + c) * fb->pixelSize;
            if (o < 0 || o + 4 > mem)
                continue; // an origin that pushes the image off the picture
            uint8_t* d = dst + o;
            d[0] = src[c * 4 + 2];
            d[1] = src[c * 4 + 1];
            d[2] = src[c * 4 + 0];
            d[3] = 0;
        }
    }
    return true;
}

} // namespace

void getPng(Works* w, int toBack) {
    char path[200];
    std::snprintf(path, sizeof path, "%s.png", w->skinName.get().s);
    FrameBuffer* fb = w->fb;

    FILE* f = std::fopen(path, "rb");
    if (!f) {
        LogErr("%s image could not be opened", path);
        return;
    }
    unsigned char sig[8];
    if (std::fread(sig, 1, 8, f) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
        LogErr("%s image is not a PNG file", path);
        std::fclose(f);
        return;
    }
    Rows rows;
    PictureLock lock(PictureMutex());
    fbTouched(fb);
    bool ok = decode(f, path, fb, toBack ? fb->back : fb->work, w->imageX, w->imageY, &rows);
    if (ok && !toBack)
        fbRealize(fb);
    std::fclose(f);
}

void LoadSkin(Works* w, const char* name, int toBack) {
    w->skinName.set(name);
    getPng(w, toBack);
}
