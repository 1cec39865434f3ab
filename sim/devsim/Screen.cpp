// Virtual panel to PNG, with libpng.
#include "devsim/Screen.h"

#include "devsim/PngFile.h"

#include "platform/FbDevice.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
    SimPng png;
    png.width = s.width;
    png.height = s.height;
    png.colorType = 2; // RGB
    png.data.resize(static_cast<size_t>(s.width) * s.height * 3);
    for (size_t i = 0, n = static_cast<size_t>(s.width) * s.height; i < n; i++) {
        png.data[i * 3 + 0] = s.bgrx[i * 4 + 2];
        png.data[i * 3 + 1] = s.bgrx[i * 4 + 1];
        png.data[i * 3 + 2] = s.bgrx[i * 4 + 0];
    }
    return SimPngWrite(png, pngPath);
}

bool SimScreenMapOpen(SimScreenMap* m, const std::string& fbPath) {
    const size_t size = static_cast<size_t>(kVirtualPanelWidth) * kVirtualPanelHeight * 4;
    int fd = open(fbPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool sized = fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= size;
    void* p = sized ? mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (p == MAP_FAILED)
        return false;
    m->pixels = static_cast<const uint8_t*>(p);
    return true;
}

void SimScreenMapClose(SimScreenMap* m) {
    if (m->pixels)
        munmap(const_cast<uint8_t*>(m->pixels),
               static_cast<size_t>(kVirtualPanelWidth) * kVirtualPanelHeight * 4);
    m->pixels = nullptr;
}
