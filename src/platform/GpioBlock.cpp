// /dev/mem mapping of the GPIO block, real or a sparse file under the root.
#include "platform/GpioBlock.h"

#include "platform/Root.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int plat_gpio_open() { return open(plat_path("/dev/mem").c_str(), O_RDWR | O_SYNC | O_CLOEXEC); }

volatile uint32_t* plat_gpio_map(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    if (S_ISREG(st.st_mode) && st.st_size < kGpioBase + static_cast<off_t>(kGpioBlockSize)) {
        if (ftruncate(fd, kGpioBase + static_cast<off_t>(kGpioBlockSize)) != 0)
            return nullptr;
    }
    void* p = mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kGpioBase);
    return p == MAP_FAILED ? nullptr : static_cast<volatile uint32_t*>(p);
}
