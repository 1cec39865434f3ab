// The kernel's GPIO character device, modelled for a root folder's chips.
//
// A shared library that stands between a process and libc: linked into the test
// programs, preloaded into the panel. It takes open() of a regular file named
// dev/gpiochipN that holds a modelled chip (GpioChipFile.h; a real chip is a
// character device and is never touched) and answers the v2 ioctls on that
// descriptor and on the line requests it hands out, checking each field as the
// kernel's gpiolib-cdev does. Everything else goes straight to libc.
//
// Line requests are real descriptors (eventfds) in a bounded table. Line values
// and directions reach the device models through the chip file's register block
// and its virtual wire, as the panel's register backend writes them.
// The hooks below are libc's own names: no fortified inline versions of them.
#undef _FORTIFY_SOURCE
#include "gpiochip/GpioChipFile.h"
#include "platform/GpioBlock.h"
#include "platform/VirtualWire.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel's sets of flags (gpiolib-cdev.c).
constexpr uint64_t kDirectionFlags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT;
constexpr uint64_t kDriveFlags = GPIO_V2_LINE_FLAG_OPEN_DRAIN | GPIO_V2_LINE_FLAG_OPEN_SOURCE;
constexpr uint64_t kEdgeFlags = GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;
constexpr uint64_t kBiasFlags = GPIO_V2_LINE_FLAG_BIAS_PULL_UP | GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN |
                                GPIO_V2_LINE_FLAG_BIAS_DISABLED;
constexpr uint64_t kValidFlags = GPIO_V2_LINE_FLAG_ACTIVE_LOW | kDirectionFlags | kDriveFlags |
                                 kEdgeFlags | GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME |
                                 GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE | kBiasFlags;

constexpr int kSlots = 64; // chip and request descriptors open at once

enum class Kind { Chip, Request };

struct Slot {
    int fd = -1;
    Kind kind = Kind::Chip;
    void* map = nullptr;
    uint32_t count = 0; // request: its lines
    uint32_t offsets[GPIO_V2_LINES_MAX] = {};
};

pthread_mutex_t g_mu = PTHREAD_MUTEX_INITIALIZER;
Slot g_slots[kSlots];
std::atomic<int> g_open{0}; // slots in use: 0 lets close and ioctl pass at once

// A child forked while another thread held the table's lock would find it held
// for ever at its first close().
void lockTable() { pthread_mutex_lock(&g_mu); }
void unlockTable() { pthread_mutex_unlock(&g_mu); }
__attribute__((constructor)) void atFork() { pthread_atfork(lockTable, unlockTable, unlockTable); }

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);

int realClose(int fd) {
    static CloseFn f = next<CloseFn>("close");
    return f(fd);
}
int realIoctl(int fd, unsigned long req, void* arg) {
    static IoctlFn f = next<IoctlFn>("ioctl");
    return f(fd, req, arg);
}

volatile uint32_t* regsOf(void* map) { return static_cast<volatile uint32_t*>(map); }
ChipState* stateOf(void* map) { return reinterpret_cast<ChipState*>(static_cast<char*>(map) + kChipStateAt); }

std::atomic_ref<uint32_t> atomicWord(uint32_t& w) { return std::atomic_ref<uint32_t>(w); }

// "dev/gpiochipN" at the path's end.
bool chipName(const char* path) {
    if (!path)
        return false;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    if (std::strncmp(name, "gpiochip", 8) != 0 || name[8] == '\0')
        return false;
    for (const char* p = name + 8; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    const size_t dirLen = slash ? static_cast<size_t>(slash - path) : 0;
    return dirLen >= 3 && std::strncmp(path + dirLen - 3, "dev", 3) == 0 &&
           (dirLen == 3 || path[dirLen - 4] == '/');
}

bool addSlot(int fd, Kind kind, void* map, uint32_t count, const uint32_t* offsets) {
    pthread_mutex_lock(&g_mu);
    for (Slot& s : g_slots) {
        if (s.fd >= 0)
            continue;
        s.fd = fd;
        s.kind = kind;
        s.map = map;
        s.count = count;
        if (count)
            std::memcpy(s.offsets, offsets, count * sizeof offsets[0]);
        g_open.fetch_add(1);
        pthread_mutex_unlock(&g_mu);
        return true;
    }
    pthread_mutex_unlock(&g_mu);
    return false;
}

// A copy of the slot of `fd`; false when `fd` is none of ours.
bool findSlot(int fd, Slot* out) {
    if (g_open.load() == 0 || fd < 0)
        return false;
    pthread_mutex_lock(&g_mu);
    bool found = false;
    for (const Slot& s : g_slots) {
        if (s.fd == fd) {
            *out = s;
            found = true;
            break;
        }
    }
    pthread_mutex_unlock(&g_mu);
    return found;
}

bool alive(uint32_t pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// The chip file behind `fd`, mapped for writing whatever the descriptor's mode
// (the kernel answers a chip opened read-only too); MAP_FAILED on failure.
void* mapChip(int fd) {
    static OpenFn realOpen = next<OpenFn>("open");
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const int rw = realOpen(self, O_RDWR | O_CLOEXEC, 0);
    if (rw < 0)
        return MAP_FAILED;
    void* map = mmap(nullptr, kChipFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, rw, 0);
    realClose(rw);
    return map;
}

// A descriptor of a modelled chip's file becomes a chip descriptor.
int adopt(int fd) {
    if (fd < 0)
        return fd;
    struct stat st;
    uint32_t magic = 0;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kChipFileSize) ||
        pread(fd, &magic, sizeof magic, kChipStateAt) != sizeof magic || magic != kChipMagic)
        return fd;
    void* map = mapChip(fd);
    if (map == MAP_FAILED || !addSlot(fd, Kind::Chip, map, 0, nullptr)) {
        if (map != MAP_FAILED)
            munmap(map, kChipFileSize);
        realClose(fd);
        errno = EMFILE;
        return -1;
    }
    return fd;
}

// --- lines -------------------------------------------------------------------

int validateFlags(uint64_t flags) {
    if (flags & ~kValidFlags)
        return EINVAL;
    if (flags & GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE)
        return EOPNOTSUPP; // no hardware timestamp engine here
    if ((flags & GPIO_V2_LINE_FLAG_INPUT) && (flags & GPIO_V2_LINE_FLAG_OUTPUT))
        return EINVAL;
    if ((flags & kEdgeFlags) && !(flags & GPIO_V2_LINE_FLAG_INPUT))
        return EINVAL;
    if ((flags & GPIO_V2_LINE_FLAG_OPEN_DRAIN) && (flags & GPIO_V2_LINE_FLAG_OPEN_SOURCE))
        return EINVAL;
    if ((flags & kDriveFlags) && !(flags & GPIO_V2_LINE_FLAG_OUTPUT))
        return EINVAL;
    if ((flags & kBiasFlags) && !(flags & kDirectionFlags))
        return EINVAL;
    const uint64_t bias = flags & kBiasFlags;
    if (bias & (bias - 1))
        return EINVAL; // more than one bias
    return 0;
}

// The flags of request line `i`: the first flags attribute naming it, else the config's.
uint64_t lineFlags(const gpio_v2_line_config& c, uint32_t i) {
    for (uint32_t a = 0; a < c.num_attrs; a++)
        if (c.attrs[a].attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS && (c.attrs[a].mask >> i) & 1u)
            return c.attrs[a].attr.flags;
    return c.flags;
}

bool lineOutputValue(const gpio_v2_line_config& c, uint32_t i) {
    for (uint32_t a = 0; a < c.num_attrs; a++)
        if (c.attrs[a].attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES && (c.attrs[a].mask >> i) & 1u)
            return (c.attrs[a].attr.values >> i) & 1u;
    return false;
}

uint32_t lineDebounce(const gpio_v2_line_config& c, uint32_t i) {
    for (uint32_t a = 0; a < c.num_attrs; a++)
        if (c.attrs[a].attr.id == GPIO_V2_LINE_ATTR_ID_DEBOUNCE && (c.attrs[a].mask >> i) & 1u)
            return c.attrs[a].attr.debounce_period_us;
    return 0;
}

int validateConfig(const gpio_v2_line_config& c, uint32_t count) {
    if (c.num_attrs > GPIO_V2_LINE_NUM_ATTRS_MAX)
        return EINVAL;
    for (uint32_t p : c.padding)
        if (p)
            return EINVAL;
    for (uint32_t a = 0; a < c.num_attrs; a++)
        if (c.attrs[a].attr.padding)
            return EINVAL;
    for (uint32_t i = 0; i < count; i++)
        if (int e = validateFlags(lineFlags(c, i)))
            return e;
    return 0;
}

// One line's direction, value and bias as the block shows them; `high` is the
// physical level an output drives.
void applyLine(void* map, uint32_t offset, uint64_t flags, bool high, uint32_t debounceUs) {
    ChipLine& l = stateOf(map)->line[offset];
    std::atomic_ref<uint64_t>(l.flags).store(flags);
    l.debounceUs = flags & GPIO_V2_LINE_FLAG_INPUT ? debounceUs : 0;
    volatile uint32_t* regs = regsOf(map);
    const bool inBlock = offset < 32;
    if (flags & GPIO_V2_LINE_FLAG_OUTPUT) {
        atomicWord(l.value).store(high);
        if (inBlock)
            plat_wire_write(regs, high ? kGpioSetWord : kGpioClearWord, 1u << offset);
    }
    if (inBlock && offset < 30) {
        // Function select: 001 output, 000 input.
        const int word = static_cast<int>(offset / 10), shift = static_cast<int>(3 * (offset % 10));
        uint32_t v = std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[word])).load() & ~(7u << shift);
        if (flags & GPIO_V2_LINE_FLAG_OUTPUT)
            v |= 1u << shift;
        plat_wire_write(regs, word, v);
    }
}

int chipInfo(void* map, const char* path, gpiochip_info* info) {
    const ChipState* st = stateOf(map);
    std::memset(info, 0, sizeof *info);
    std::snprintf(info->name, sizeof info->name, "%.31s", path);
    std::memcpy(info->label, st->label, sizeof info->label);
    info->label[sizeof info->label - 1] = '\0';
    info->lines = st->lines;
    return 0;
}

int lineInfo(void* map, gpio_v2_line_info* li) {
    ChipState* st = stateOf(map);
    for (uint32_t p : li->padding)
        if (p)
            return EINVAL;
    if (li->offset >= st->lines)
        return EINVAL;
    const uint32_t offset = li->offset;
    const ChipLine& l = st->line[offset];
    std::memset(li, 0, sizeof *li);
    li->offset = offset;
    std::snprintf(li->name, sizeof li->name, "GPIO%u", offset);
    uint64_t flags = std::atomic_ref<const uint64_t>(l.flags).load();
    if (!(flags & kDirectionFlags))
        flags |= GPIO_V2_LINE_FLAG_INPUT;
    const uint32_t owner = std::atomic_ref<const uint32_t>(l.owner).load();
    if (owner && alive(owner)) {
        flags |= GPIO_V2_LINE_FLAG_USED;
        std::memcpy(li->consumer, l.consumer, sizeof li->consumer);
        li->consumer[sizeof li->consumer - 1] = '\0';
    }
    li->flags = flags;
    if (l.debounceUs) {
        li->attrs[0].id = GPIO_V2_LINE_ATTR_ID_DEBOUNCE;
        li->attrs[0].debounce_period_us = l.debounceUs;
        li->num_attrs = 1;
    }
    return 0;
}

void release(void* map, const uint32_t* offsets, uint32_t count) {
    const uint32_t me = static_cast<uint32_t>(getpid());
    for (uint32_t i = 0; i < count; i++) {
        ChipLine& l = stateOf(map)->line[offsets[i]];
        uint32_t expected = me;
        atomicWord(l.owner).compare_exchange_strong(expected, 0);
    }
}

int getLine(void* map, int chipFd, gpio_v2_line_request* r) {
    ChipState* st = stateOf(map);
    if (r->num_lines == 0 || r->num_lines > GPIO_V2_LINES_MAX)
        return EINVAL;
    for (uint32_t p : r->padding)
        if (p)
            return EINVAL;
    for (uint32_t i = 0; i < r->num_lines; i++)
        if (r->offsets[i] >= st->lines)
            return EINVAL;
    if (int e = validateConfig(r->config, r->num_lines))
        return e;
    // Each line is taken in turn; one already held (by anyone, this request
    // included) makes it busy and gives back what was taken.
    const uint32_t me = static_cast<uint32_t>(getpid());
    for (uint32_t i = 0; i < r->num_lines; i++) {
        uint32_t& owner = st->line[r->offsets[i]].owner;
        uint32_t held = atomicWord(owner).load();
        bool taken = false;
        while (!taken && (held == 0 || !alive(held)))
            taken = atomicWord(owner).compare_exchange_weak(held, me);
        if (!taken) {
            release(map, r->offsets, i);
            return EBUSY;
        }
    }
    // The request's own mapping: it outlives the chip's descriptor.
    void* own = mapChip(chipFd);
    const int fd = own == MAP_FAILED ? -1 : eventfd(0, EFD_CLOEXEC);
    if (fd < 0 || !addSlot(fd, Kind::Request, own, r->num_lines, r->offsets)) {
        if (fd >= 0)
            realClose(fd);
        if (own != MAP_FAILED)
            munmap(own, kChipFileSize);
        release(map, r->offsets, r->num_lines);
        return ENOMEM;
    }
    char consumer[kChipNameSize];
    std::snprintf(consumer, sizeof consumer, "%.*s", static_cast<int>(sizeof r->consumer - 1),
                  r->consumer[0] ? r->consumer : "?");
    for (uint32_t i = 0; i < r->num_lines; i++) {
        ChipLine& l = st->line[r->offsets[i]];
        uint64_t flags = lineFlags(r->config, i);
        bool high = lineOutputValue(r->config, i) != bool(flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW);
        if (!(flags & kDirectionFlags)) {
            // Requested without a direction: the line keeps the one it has
            // (an input, on a line nobody set up), and an output its level.
            const uint64_t had = std::atomic_ref<uint64_t>(l.flags).load() & kDirectionFlags;
            flags |= had ? had : uint64_t{GPIO_V2_LINE_FLAG_INPUT};
            high = atomicWord(l.value).load();
        }
        std::memcpy(l.consumer, consumer, sizeof consumer);
        applyLine(map, r->offsets[i], flags, high, lineDebounce(r->config, i));
    }
    atomicWord(st->requests).fetch_add(1);
    r->fd = fd;
    return 0;
}

bool isOutput(void* map, uint32_t offset) {
    return std::atomic_ref<uint64_t>(stateOf(map)->line[offset].flags).load() & GPIO_V2_LINE_FLAG_OUTPUT;
}
bool activeLow(void* map, uint32_t offset) {
    return std::atomic_ref<uint64_t>(stateOf(map)->line[offset].flags).load() &
           GPIO_V2_LINE_FLAG_ACTIVE_LOW;
}

int setValues(const Slot& s, const gpio_v2_line_values* v) {
    uint32_t set = 0, clear = 0, n = 0;
    for (uint32_t i = 0; i < s.count; i++) {
        if (!((v->mask >> i) & 1u))
            continue;
        if (!isOutput(s.map, s.offsets[i]))
            return EPERM;
        n++;
    }
    if (n == 0)
        return EINVAL;
    for (uint32_t i = 0; i < s.count; i++) {
        if (!((v->mask >> i) & 1u))
            continue;
        const uint32_t offset = s.offsets[i];
        const bool high = ((v->bits >> i) & 1u) != activeLow(s.map, offset);
        atomicWord(stateOf(s.map)->line[offset].value).store(high);
        if (offset < 32)
            (high ? set : clear) |= 1u << offset;
    }
    // As one register write each, the way the controller takes a set or a clear.
    if (set)
        plat_wire_write(regsOf(s.map), kGpioSetWord, set);
    if (clear)
        plat_wire_write(regsOf(s.map), kGpioClearWord, clear);
    return 0;
}

int getValues(const Slot& s, gpio_v2_line_values* v) {
    uint32_t n = 0;
    bool anyInput = false;
    for (uint32_t i = 0; i < s.count; i++) {
        if ((v->mask >> i) & 1u) {
            n++;
            anyInput |= !isOutput(s.map, s.offsets[i]);
        }
    }
    if (n == 0)
        return EINVAL;
    const uint32_t level = anyInput ? plat_wire_read(regsOf(s.map), kGpioLevelWord, kVirtualSettleMs) : 0;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < s.count; i++) {
        if (!((v->mask >> i) & 1u))
            continue;
        const uint32_t offset = s.offsets[i];
        ChipLine& l = stateOf(s.map)->line[offset];
        bool high;
        if (isOutput(s.map, offset))
            high = atomicWord(l.value).load(); // an output reads what it drives
        else if (offset < 32)
            high = (level >> offset) & 1u;
        else
            high = std::atomic_ref<uint64_t>(l.flags).load() & GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
        if (high != activeLow(s.map, offset))
            bits |= uint64_t{1} << i;
    }
    v->bits = bits;
    return 0;
}

int setConfig(const Slot& s, const gpio_v2_line_config* c) {
    if (int e = validateConfig(*c, s.count))
        return e;
    for (uint32_t i = 0; i < s.count; i++) {
        const uint64_t flags = lineFlags(*c, i);
        // A line given no direction keeps its own and its level, but, as in the
        // kernel, every other flag (bias, active low) is the call's: cleared.
        if (!(flags & kDirectionFlags)) {
            auto lineFlagsNow = std::atomic_ref<uint64_t>(stateOf(s.map)->line[s.offsets[i]].flags);
            lineFlagsNow.store((lineFlagsNow.load() & kDirectionFlags) | flags);
            continue;
        }
        const bool high = lineOutputValue(*c, i) != bool(flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW);
        applyLine(s.map, s.offsets[i], flags, high, lineDebounce(*c, i));
    }
    return 0;
}

int chipIoctl(const Slot& s, unsigned long req, void* arg) {
    switch (req) {
    case GPIO_GET_CHIPINFO_IOCTL: {
        char link[64], path[256];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", s.fd);
        const ssize_t n = readlink(link, path, sizeof path - 1);
        path[n > 0 ? n : 0] = '\0';
        const char* slash = std::strrchr(path, '/');
        return chipInfo(s.map, slash ? slash + 1 : path, static_cast<gpiochip_info*>(arg));
    }
    case GPIO_V2_GET_LINEINFO_IOCTL:
        return lineInfo(s.map, static_cast<gpio_v2_line_info*>(arg));
    case GPIO_V2_GET_LINE_IOCTL:
        return getLine(s.map, s.fd, static_cast<gpio_v2_line_request*>(arg));
    default:
        return EINVAL; // the v1 calls and the watches are not modelled
    }
}

int requestIoctl(const Slot& s, unsigned long req, void* arg) {
    switch (req) {
    case GPIO_V2_LINE_SET_VALUES_IOCTL:
        return setValues(s, static_cast<gpio_v2_line_values*>(arg));
    case GPIO_V2_LINE_GET_VALUES_IOCTL:
        return getValues(s, static_cast<gpio_v2_line_values*>(arg));
    case GPIO_V2_LINE_SET_CONFIG_IOCTL:
        return setConfig(s, static_cast<gpio_v2_line_config*>(arg));
    default:
        return EINVAL;
    }
}

int openMode(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, int) : 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    static OpenFn f = next<OpenFn>("open");
    va_list ap;
    va_start(ap, flags);
    const int mode = openMode(flags, ap);
    va_end(ap);
    const int fd = f(path, flags, mode);
    return chipName(path) ? adopt(fd) : fd;
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    static OpenFn f = next<OpenFn>("open64");
    va_list ap;
    va_start(ap, flags);
    const int mode = openMode(flags, ap);
    va_end(ap);
    const int fd = f(path, flags, mode);
    return chipName(path) ? adopt(fd) : fd;
}

__attribute__((visibility("default"))) int openat(int dir, const char* path, int flags, ...) {
    static OpenatFn f = next<OpenatFn>("openat");
    va_list ap;
    va_start(ap, flags);
    const int mode = openMode(flags, ap);
    va_end(ap);
    const int fd = f(dir, path, flags, mode);
    return chipName(path) ? adopt(fd) : fd;
}

__attribute__((visibility("default"))) int openat64(int dir, const char* path, int flags, ...) {
    static OpenatFn f = next<OpenatFn>("openat64");
    va_list ap;
    va_start(ap, flags);
    const int mode = openMode(flags, ap);
    va_end(ap);
    const int fd = f(dir, path, flags, mode);
    return chipName(path) ? adopt(fd) : fd;
}

// What a fortified open() with flags not known at compile time calls.
__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
    return open(path, flags);
}
__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
    return open64(path, flags);
}

__attribute__((visibility("default"))) int close(int fd) {
    if (g_open.load() != 0 && fd >= 0) {
        pthread_mutex_lock(&g_mu);
        for (Slot& s : g_slots) {
            if (s.fd != fd)
                continue;
            // A request gives its lines back; like the kernel's, they keep
            // their direction and level.
            if (s.kind == Kind::Request)
                release(s.map, s.offsets, s.count);
            munmap(s.map, kChipFileSize);
            s = Slot{};
            g_open.fetch_sub(1);
            break;
        }
        pthread_mutex_unlock(&g_mu);
    }
    return realClose(fd);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    Slot s;
    if (!findSlot(fd, &s))
        return realIoctl(fd, req, arg);
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    const int e = s.kind == Kind::Chip ? chipIoctl(s, req, arg) : requestIoctl(s, req, arg);
    if (e) {
        errno = e;
        return -1;
    }
    return 0;
}

} // extern "C"
