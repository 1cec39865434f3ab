// The console's picture update message read as the page reads it, with
// libpng's own reader rather than anything of the server's encoder, and the
// screen it should rebuild.
#pragma once

#include "draw/Fb.h"
#include "web/Picture.h"

#include <cstring>
#include <png.h>
#include <string>
#include <vector>

// Applies an update message to an RGB picture (R, G, B a pixel): each piece's
// PNG decoded and put at its place. False when the message is malformed.
inline bool ApplyPictureMessage(const std::string& m, int width, int height, std::string* rgb,
                                int* pieces) {
    auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(m[at])); };
    auto u16 = [&](size_t at) { return static_cast<int>(byte(at) | (byte(at + 1) << 8)); };
    if (m.size() < 6 || m.compare(0, 4, "PIC1") != 0) return false;
    const int n = u16(4);
    size_t data = 6 + static_cast<size_t>(n) * kWebPieceHeader;
    if (data > m.size()) return false; // fewer piece headers than it says
    for (int i = 0; i < n; i++) {
        const size_t at = 6 + i * kWebPieceHeader;
        const int x = u16(at), y = u16(at + 2), w = u16(at + 4), h = u16(at + 6);
        const uint32_t len =
            byte(at + 8) | (byte(at + 9) << 8) | (byte(at + 10) << 16) | (byte(at + 11) << 24);
        if (data + len > m.size() || x + w > width || y + h > height) return false;
        png_image img{};
        img.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&img, m.data() + data, len)) return false;
        img.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> piece(PNG_IMAGE_SIZE(img));
        if (int(img.width) != w || int(img.height) != h ||
            !png_image_finish_read(&img, nullptr, piece.data(), 0, nullptr))
            return false;
        for (int r = 0; r < h; r++)
            std::memcpy(rgb->data() + (size_t(y + r) * width + x) * 3,
                        piece.data() + size_t(r) * w * 3, w * 3);
        data += len;
    }
    *pieces = n;
    return data == m.size();
}

// The screen as R, G, B, decoded independently of the code under test.
inline std::string ScreenRgb(const FrameBuffer* fb) {
    std::string out;
    for (int i = 0; i < fb->width * fb->height; i++) {
        const uint8_t* p = fb->screen + i * fb->pixelSize;
        if (fb->pixelSize == 4)
            out += {char(p[2]), char(p[1]), char(p[0])};
        else {
            const int v = p[0] | (p[1] << 8);
            const int r = v >> 11, g = (v >> 5) & 63, b = v & 31;
            out += {char(r << 3 | r >> 2), char(g << 2 | g >> 4), char(b << 3 | b >> 2)};
        }
    }
    return out;
}
