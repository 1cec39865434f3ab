// Opening the framebuffer device and the two whole-picture copies.
#include "draw/Fb.h"

#include "platform/Command.h"
#include "platform/FbDevice.h"
#include "platform/Log.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <linux/fb.h>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int pixelSizeFor(int bpp) {
    switch (bpp) {
    case 4:
    case 8:
        return 1;
    case 5:
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

// Descriptor and the two off-screen buffers around an already mapped screen.
FrameBuffer* makeFb(uint8_t* screen, int xres, int yres, int pixelSize, int memSize) {
    FrameBuffer* fb = new (std::nothrow) FrameBuffer{};
    if (!fb)
        return nullptr;
    fb->screen = screen;
    fb->work = static_cast<uint8_t*>(std::calloc(1, memSize));
    fb->back = static_cast<uint8_t*>(std::calloc(1, memSize));
    if (!fb->work || !fb->back) {
        std::free(fb->work);
        std::free(fb->back);
        delete fb;
        return nullptr;
    }
    fb->width = xres;
    fb->height = yres;
    fb->memSize = memSize;
    fb->pixelSize = pixelSize;
    fb->lineSize = pixelSize * xres;
    return fb;
}

} // namespace

FrameBuffer* fbInitFromInfo(int fd, int xres, int yres, int bpp) {
    int pixelSize = pixelSizeFor(bpp);
    if (pixelSize == 0) {
        LogErr("Unknown pixel format");
        return nullptr;
    }
    LogInfo("Pixel size =%d", pixelSize);
    // The resolution travels through 16-bit values.
    xres = static_cast<uint16_t>(xres);
    yres = static_cast<uint16_t>(yres);
    int memSize = (bpp * (yres * xres)) >> 3;
    void* screen = plat_fb_map(fd, static_cast<size_t>(memSize));
    if (!screen) {
        LogErr("Unable to map shared memory\n");
        LogErr("Make sure, that you have compiled shared memory support into your kernel.\n");
        close(fd);
        return nullptr;
    }
    FrameBuffer* fb = makeFb(static_cast<uint8_t*>(screen), xres, yres, pixelSize, memSize);
    if (!fb) {
        LogErr("Unable to allocate framebuffer structure");
        return nullptr;
    }
    LogInfo("Screen Size x: %d, y: %d, Pixel Size %d Line size: %d, Mem size: %d\n", fb->width,
            fb->height, fb->pixelSize, fb->lineSize, fb->memSize);
    return fb;
}

FrameBuffer* fbInit() {
    // Hide the text console's cursor, which would otherwise blink on the panel.
    plat_system("/bin/echo -e -n '\\e[?25l' >/dev/tty0");

    int fd = plat_fb_open("/dev/fb0");
    if (fd < 0) {
        LogErr("Unable to read framebuffer device: /dev/fb0\n");
        return nullptr;
    }
    fb_var_screeninfo vi;
    if (plat_fb_get_vscreeninfo(fd, &vi) != 0) {
        LogErr("Unable to read screen info.\n");
        LogErr("Do you have read+write privilages to /dev/fb0?\n");
        close(fd);
        return nullptr;
    }
    vi.xoffset = 0;
    vi.yoffset = 0;
    if (plat_fb_put_vscreeninfo(fd, &vi) != 0) {
        LogErr("Unable to change screen data\n");
        LogErr("Do you have write privilages to /dev/fb0?\n");
        LogErr("Does your video card support double buffering?\n");
        close(fd);
        return nullptr;
    }
    // The device stays open for the life of the process.
    return fbInitFromInfo(fd, static_cast<int>(vi.xres), static_cast<int>(vi.yres),
                          static_cast<int>(vi.bits_per_pixel));
}

FrameBuffer* fbInitMemory(int xres, int yres, int bpp) {
    int pixelSize = pixelSizeFor(bpp);
    if (pixelSize == 0)
        return nullptr;
    int memSize = (bpp * (yres * xres)) >> 3;
    uint8_t* screen = static_cast<uint8_t*>(std::calloc(1, memSize));
    if (!screen)
        return nullptr;
    FrameBuffer* fb = makeFb(screen, xres, yres, pixelSize, memSize);
    if (!fb)
        std::free(screen);
    return fb;
}

void fbRelease(FrameBuffer* fb, bool fromMemory) {
    if (!fb)
        return;
    if (fromMemory)
        std::free(fb->screen);
    else
        munmap(fb->screen, static_cast<size_t>(fb->memSize));
    std::free(fb->work);
    std::free(fb->back);
    if (fb->recorder && fb->damage)
        fb->recorder->release(fb->damage);
    delete fb;
}

std::recursive_mutex& PictureMutex() {
    static std::recursive_mutex m;
    return m;
}

void fbRealize(FrameBuffer* fb) {
    PictureLock lock(PictureMutex());
    if (fb->recorder)
        fb->recorder->touched(fb);
    std::memcpy(fb->screen, fb->work, fb->memSize);
    fbShown(fb, nullptr);
}

void fbShown(FrameBuffer* fb, const PixelRect* r) {
    if (!fb->watched.load(std::memory_order_relaxed) || fb->shownWhole)
        return;
    if (!r) {
        fb->shownWhole = true;
        fb->shown.clear();
        return;
    }
    fb->shown.push_back(*r);
    if (fb->shown.size() > kShownRects)
        fbMergeRects(&fb->shown, kShownRects);
}

namespace {

PixelRect unite(const PixelRect& a, const PixelRect& b) {
    return PixelRect{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

} // namespace

bool fbOverlaps(const PixelRect& a, const PixelRect& b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

int64_t fbArea(const PixelRect& r) { return static_cast<int64_t>(r.x1 - r.x0) * (r.y1 - r.y0); }

void fbMergeRects(std::vector<PixelRect>* rects, size_t most) {
    bool merged = true;
    while (merged) {
        merged = false;
        for (size_t i = 0; i < rects->size() && !merged; i++)
            for (size_t j = i + 1; j < rects->size() && !merged; j++)
                if (fbOverlaps((*rects)[i], (*rects)[j])) {
                    (*rects)[i] = unite((*rects)[i], (*rects)[j]);
                    rects->erase(rects->begin() + static_cast<long>(j));
                    merged = true;
                }
        if (!merged && rects->size() > most) {
            size_t bi = 0, bj = 1;
            int64_t best = INT64_MAX;
            for (size_t i = 0; i < rects->size(); i++)
                for (size_t j = i + 1; j < rects->size(); j++) {
                    const int64_t grow =
                        fbArea(unite((*rects)[i], (*rects)[j])) - fbArea((*rects)[i]) - fbArea((*rects)[j]);
                    if (grow < best) {
                        best = grow;
                        bi = i;
                        bj = j;
                    }
                }
            (*rects)[bi] = unite((*rects)[bi], (*rects)[bj]);
            rects->erase(rects->begin() + static_cast<long>(bj));
            merged = true;
        }
    }
}

void fbSetBack(FrameBuffer* fb) {
    PictureLock lock(PictureMutex());
    if (fb->recorder && fb->recorder->setBack(fb))
        return;
    std::memcpy(fb->work, fb->back, fb->memSize);
}
