// Copying the screen out for the consoles and encoding its pieces as PNG.
#include "web/Picture.h"

#include "platform/Log.h"

#include <csetjmp>
#include <cstring>
#include <png.h>

namespace {

void toRgb(const FrameBuffer* fb, const uint8_t* src, uint8_t* dst, int n) {
    switch (fb->pixelSize) {
    case 4:
    case 3:
        for (int i = 0; i < n; i++, src += fb->pixelSize, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        break;
    case 2:
        for (int i = 0; i < n; i++, src += 2, dst += 3) {
            const unsigned v = src[0] | (src[1] << 8);
            const unsigned r = v >> 11, g = (v >> 5) & 63, b = v & 31;
            dst[0] = static_cast<uint8_t>((r << 3) | (r >> 2));
            dst[1] = static_cast<uint8_t>((g << 2) | (g >> 4));
            dst[2] = static_cast<uint8_t>((b << 3) | (b >> 2));
        }
        break;
    default:
        for (int i = 0; i < n; i++, src++, dst += 3)
            dst[0] = dst[1] = dst[2] = *src;
    }
}

void copyRect(const FrameBuffer* fb, WebPicture* pic, const PixelRect& r) {
    for (int y = r.y0; y < r.y1; y++)
        toRgb(fb, fb->screen + static_cast<size_t>(y) * fb->lineSize + static_cast<size_t>(r.x0) * fb->pixelSize,
              pic->rgb.data() + (static_cast<size_t>(y) * pic->width + r.x0) * 3, r.x1 - r.x0);
}

void put16(std::vector<uint8_t>* out, size_t at, unsigned v) {
    (*out)[at] = static_cast<uint8_t>(v);
    (*out)[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++)
        (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void pngWrite(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

void pngFlush(png_structp) {}

// Row pointers of the rectangle, kept outside the setjmp frame.
struct PngJob {
    const WebPicture* pic;
    PixelRect r;
    std::vector<uint8_t>* out;
    png_bytep* rows;
};

bool encodePng(PngJob* job) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, job->out, pngWrite, pngFlush);
    // Speed over size: the pieces are small and come up to twenty times a
    // second; the panel's flat colours compress well even so.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(job->r.x1 - job->r.x0),
                 static_cast<png_uint_32>(job->r.y1 - job->r.y0), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_write_image(png, job->rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

void WebPictureTake(FrameBuffer* fb, WebPicture* pic, std::vector<PixelRect>* changed) {
    PictureLock lock(PictureMutex());
    if (!pic->taken || pic->width != fb->width || pic->height != fb->height || fb->shownWhole) {
        pic->width = fb->width;
        pic->height = fb->height;
        pic->rgb.assign(static_cast<size_t>(fb->width) * fb->height * 3, 0);
        const PixelRect all{0, 0, fb->width, fb->height};
        copyRect(fb, pic, all);
        changed->push_back(all);
        pic->taken = true;
        fb->watched = true;
    } else {
        for (const PixelRect& r : fb->shown) {
            copyRect(fb, pic, r);
            changed->push_back(r);
        }
    }
    fb->shown.clear();
    fb->shownWhole = false;
}

void WebPictureDrop(FrameBuffer* fb, WebPicture* pic) {
    PictureLock lock(PictureMutex());
    fb->watched = false;
    fb->shown.clear();
    fb->shownWhole = false;
    pic->taken = false;
}

bool WebPictureMessage(const WebPicture& pic, const std::vector<PixelRect>& rects, std::vector<uint8_t>* out) {
    const size_t start = out->size();
    const size_t table = start + 6;
    out->resize(table + rects.size() * kWebPieceHeader);
    std::memcpy(out->data() + start, "PIC1", 4);
    put16(out, start + 4, static_cast<unsigned>(rects.size()));
    std::vector<png_bytep> rows;
    for (size_t i = 0; i < rects.size(); i++) {
        const PixelRect& r = rects[i];
        rows.clear();
        for (int y = r.y0; y < r.y1; y++)
            rows.push_back(const_cast<png_bytep>(pic.rgb.data() + (static_cast<size_t>(y) * pic.width + r.x0) * 3));
        const size_t before = out->size();
        PngJob job{&pic, r, out, rows.data()};
        if (!encodePng(&job)) {
            LogErr("web: a piece of the picture could not be encoded");
            out->resize(start);
            return false;
        }
        const size_t at = table + i * kWebPieceHeader;
        put16(out, at, static_cast<unsigned>(r.x0));
        put16(out, at + 2, static_cast<unsigned>(r.y0));
        put16(out, at + 4, static_cast<unsigned>(r.x1 - r.x0));
        put16(out, at + 6, static_cast<unsigned>(r.y1 - r.y0));
        put32(out, at + 8, static_cast<uint32_t>(out->size() - before));
    }
    return true;
}
