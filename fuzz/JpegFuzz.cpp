// Any bytes as a screen received from a peer: the JPEG decoder must refuse what
// it cannot decode without touching memory outside the picture.
#include "FuzzRoot.h"

#include "remote/Compress.h"
#include "draw/Fb.h"

#include <jpeglib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    [[maybe_unused]] static const bool once = [&] {
        w->fb = fbInitMemory(800, 480, 32);
        return true;
    }();
    Uncompress(w, data, size);
    return 0;
}

namespace {

// A 16 x 8 picture as cjpeg writes it with libjpeg's defaults: baseline, or
// progressive.
std::vector<uint8_t> jpegBytes(bool progressive) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = 16;
    c.image_height = 8;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    uint8_t row[16 * 3];
    for (int y = 0; y < 8; y++) {
        for (size_t i = 0; i < sizeof row; i++)
            row[i] = static_cast<uint8_t>(i * 5 + static_cast<size_t>(y) * 30);
        JSAMPROW r = row;
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

} // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return {jpegBytes(false), jpegBytes(true)};
}
