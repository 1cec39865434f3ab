// Real and virtual framebuffer devices.
#include "platform/FbDevice.h"

#include "platform/Root.h"

#include <cstring>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool isRegularFile(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
} // namespace

int plat_fb_open(const char* path) {
    return open(plat_path(path).c_str(), O_RDWR | O_CLOEXEC);
}

int plat_fb_get_vscreeninfo(int fd, fb_var_screeninfo* vi) {
    if (!isRegularFile(fd))
        return ioctl(fd, FBIOGET_VSCREENINFO, vi);
    std::memset(vi, 0, sizeof *vi);
    vi->xres = vi->xres_virtual = kVirtualPanelWidth;
    vi->yres = vi->yres_virtual = kVirtualPanelHeight;
    vi->bits_per_pixel = kVirtualPanelBpp;
    return 0;
}

int plat_fb_put_vscreeninfo(int fd, fb_var_screeninfo* vi) {
    if (!isRegularFile(fd))
        return ioctl(fd, FBIOPUT_VSCREENINFO, vi);
    return 0;
}

void* plat_fb_map(int fd, size_t size) {
    if (isRegularFile(fd)) {
        struct stat st;
        if (fstat(fd, &st) != 0)
            return nullptr;
        if (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)
            return nullptr;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : p;
}
