// JPEG screens with libjpeg, decoded row by row into the drawing buffer.
#include "remote/Compress.h"

#include "core/Works.h"
#include "platform/Log.h"
#include "draw/Damage.h"
#include "draw/Fb.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <vector>

namespace {

// Larger images are refused before decoding: a progressive one holds all its
// coefficients in memory.
constexpr unsigned kMaxSide = 4096;

struct ErrorExit {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    bool damaged;
};

void onError(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    LogErr("remote: screen image not decoded (%s)", text);
    longjmp(reinterpret_cast<ErrorExit*>(cinfo->err)->jump, 1);
}

// A warning (level -1) is damaged data, a cut-off image above all, which libjpeg
// would complete in grey.
void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        reinterpret_cast<ErrorExit*>(cinfo->err)->damaged = true;
}

} // namespace

bool Uncompress(Works* w, const uint8_t* data, size_t length) {
    FrameBuffer* fb = w->fb;
    if (!fb || !data || length == 0 || (fb->pixelSize != 4 && fb->pixelSize != 2))
        return false;
    jpeg_decompress_struct cinfo{};
    ErrorExit err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onError;
    err.mgr.emit_message = onMessage;
    // Declared before the jump point: what setjmp returns to must not be a
    // variable changed after it.
    std::vector<uint8_t> row;
    // Decoded aside (the part of the image on the panel) and copied when whole:
    // a damaged image changes nothing.
    std::vector<uint8_t> picture;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(length));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > kMaxSide || cinfo.image_height > kMaxSide) {
        LogErr("remote: screen image of %ux%u refused", cinfo.image_width, cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Four components per pixel: B, G, R and a filler, the panel's own layout.
    cinfo.out_color_space = fb->pixelSize == 4 ? JCS_EXT_BGRX : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t rowBytes = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    row.resize(rowBytes);
    const int width = static_cast<int>(cinfo.output_width) < fb->width ? static_cast<int>(cinfo.output_width)
                                                                         : fb->width;
    const int height = static_cast<int>(cinfo.output_height) < fb->height
                           ? static_cast<int>(cinfo.output_height)
                           : fb->height;
    const size_t stride = static_cast<size_t>(width) * fb->pixelSize;
    picture.resize(stride * height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = row.data();
        const int y = static_cast<int>(cinfo.output_scanline);
        jpeg_read_scanlines(&cinfo, &r, 1);
        if (y >= fb->height)
            continue; // read to the end all the same, so that the image is checked whole
        uint8_t* dst = picture.data() + static_cast<size_t>(y) * stride;
        if (fb->pixelSize == 4) {
            std::memcpy(dst, row.data(), static_cast<size_t>(width) * 4);
            for (int x = 0; x < width; x++)
                dst[x * 4 + 3] = 0;
        } else {
            for (int x = 0; x < width; x++) {
                const uint8_t R = row[x * 3], G = row[x * 3 + 1], B = row[x * 3 + 2];
                dst[x * 2] = static_cast<uint8_t>(((G & 0x1C) << 3) | (B >> 3));
                dst[x * 2 + 1] = static_cast<uint8_t>((R & 0xF8) | (G >> 5));
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (err.damaged) {
        LogErr("remote: screen image damaged, not shown");
        return false;
    }
    fbTouched(fb);
    for (int y = 0; y < height; y++)
        std::memcpy(fb->work + static_cast<size_t>(y) * fb->lineSize, picture.data() + y * stride, stride);
    return true;
}
