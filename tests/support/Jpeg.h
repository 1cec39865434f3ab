// A picture written by libjpeg, as a peer's screen or a fuzz target's seed.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio> // jpeglib.h uses FILE without including it
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

// `width` x `height` pixels, each `rgb(x, y)` (red, green, blue), with
// libjpeg's defaults: baseline, or progressive.
template <typename Rgb>
std::vector<uint8_t> JpegOf(int width, int height, Rgb rgb, bool progressive = false) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const std::array<uint8_t, 3> p = rgb(x, y);
            std::copy(p.begin(), p.end(), row.begin() + x * 3);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}
