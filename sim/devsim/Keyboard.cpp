// Input events into the keyboard FIFO.
#include "devsim/Keyboard.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
bool writeEvent(int fd, int type, int code, int value) {
    input_event ev{};
    gettimeofday(&ev.time, nullptr);
    ev.type = static_cast<__u16>(type);
    ev.code = static_cast<__u16>(code);
    ev.value = value;
    // One record per write: a FIFO write this small is never split.
    return write(fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
}
} // namespace

bool SimKeyboardOpen(SimKeyboard* k, const std::string& fifoPath) {
    // Read-write so the open does not wait for a reader.
    k->fd = open(fifoPath.c_str(), O_RDWR | O_CLOEXEC);
    return k->fd >= 0;
}

bool SimKeyboardTap(SimKeyboard* k, int code) {
    return writeEvent(k->fd, EV_KEY, code, 1) && writeEvent(k->fd, EV_SYN, SYN_REPORT, 0) &&
           writeEvent(k->fd, EV_KEY, code, 0) && writeEvent(k->fd, EV_SYN, SYN_REPORT, 0);
}

void SimKeyboardClose(SimKeyboard* k) {
    if (k->fd >= 0)
        close(k->fd);
    k->fd = -1;
}
