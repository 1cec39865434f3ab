// Modelled GPIO chips' files in a root, and the preload list that brings the model.
#include "devsim/GpioChip.h"

#include "gpiochip/GpioChipFile.h"
#include "platform/GpioBlock.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool SimGpioChipCreate(const std::string& dir, int number, const std::string& label, int lines,
                       std::string* error) {
    if (lines < 1 || lines > kChipLinesMax || label.size() >= kChipNameSize) {
        *error = "a modelled chip has 1.." + std::to_string(kChipLinesMax) +
                 " lines and a label of at most 31 characters";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir + "/dev", ec);
    const std::string path = dir + "/dev/gpiochip" + std::to_string(number);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, kChipFileSize) != 0) {
        *error = path + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    void* p = mmap(nullptr, kChipFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // The key lines read released (their pull-ups), as a root's dev/mem does.
    static_cast<uint32_t*>(p)[kGpioLevelWord] = 0x0FC00000u;
    auto* st = reinterpret_cast<ChipState*>(static_cast<char*>(p) + kChipStateAt);
    st->lines = static_cast<uint32_t>(lines);
    std::memcpy(st->label, label.c_str(), label.size() + 1);
    // Last: the model takes the file for a chip only once it is complete.
    __atomic_store_n(&st->magic, kChipMagic, __ATOMIC_RELEASE);
    munmap(p, kChipFileSize);
    return true;
}

bool SimGpioChipIs(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint32_t magic = 0;
    const bool is = pread(fd, &magic, sizeof magic, kChipStateAt) == sizeof magic && magic == kChipMagic;
    close(fd);
    return is;
}

bool SimGpioChipLabel(const std::string& path, std::string* label) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ChipState st;
    const bool ok = pread(fd, &st, sizeof st, kChipStateAt) == sizeof st && st.magic == kChipMagic;
    close(fd);
    if (ok)
        *label = std::string(st.label, strnlen(st.label, sizeof st.label));
    return ok;
}

std::string SimGpioChipPreload() {
    std::string list;
    // A sanitizer's runtime insists on coming first among a process's libraries.
    for (const char* init : {"__asan_init", "__tsan_init"}) {
        Dl_info info;
        void* sym = dlsym(RTLD_DEFAULT, init);
        if (sym && dladdr(sym, &info) && info.dli_fname && std::strstr(info.dli_fname, ".so"))
            list = std::string(info.dli_fname) + " ";
    }
    return list + SIM_GPIOCHIP_MODEL;
}
