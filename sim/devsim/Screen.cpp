// Virtual panel to PNG, with libpng.
#include "devsim/Screen.h"

#include "platform/FbDevice.h"

#include <cstdio>
#include <fstream>
#include <png.h>

bool SimScreenRead(const std::string& fbPath, SimScreen* s) {
    const size_t size = static_cast<size_t>(kVirtualPanelWidth) * kVirtualPanelHeight * 4;
    std::ifstream f(fbPath, std::ios::binary);
    if (!f)
        return false;
    s->bgrx.resize(size);
    f.read(reinterpret_cast<char*>(s->bgrx.data()), static_cast<std::streamsize>(size));
    if (static_cast<size_t>(f.gcount()) != size)
        return false;
    s->width = kVirtualPanelWidth;
    s->height = kVirtualPanelHeight;
    return true;
}

void SimScreenPixel(const SimScreen& s, int x, int y, uint8_t* r, uint8_t* g, uint8_t* b) {
    const uint8_t* p = &s.bgrx[(static_cast<size_t>(y) * s.width + x) * 4];
    *b = p[0];
    *g = p[1];
    *r = p[2];
}

bool SimScreenSavePng(const SimScreen& s, const std::string& pngPath) {
    std::string tmp = pngPath + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        std::remove(tmp.c_str());
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(s.width) * 3);
    for (int y = 0; y < s.height; y++) {
        const uint8_t* src = &s.bgrx[static_cast<size_t>(y) * s.width * 4];
        for (int x = 0; x < s.width; x++) {
            row[x * 3 + 0] = src[x * 4 + 2];
            row[x * 3 + 1] = src[x * 4 + 1];
            row[x * 3 + 2] = src[x * 4 + 0];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    bool ok = std::fclose(f) == 0;
    return ok && std::rename(tmp.c_str(), pngPath.c_str()) == 0;
}
