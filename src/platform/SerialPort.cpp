// Serial ports: opening, raw line settings, waits and transfers against
// deadlines, hang-up detection and the ';'-text framer.
#include "platform/SerialPort.h"

#include "platform/Clock.h"
#include "platform/Root.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>

namespace {

bool applyLine(int fd, const SerialLine& line) {
    termios t{};
    t.c_iflag = IGNPAR;
    t.c_cflag = CS8 | CREAD | CLOCAL | line.extraCflag;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = line.vtime;
    cfsetispeed(&t, line.speed);
    cfsetospeed(&t, line.speed);
    tcflush(fd, TCIFLUSH);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

int plat_serial_open_resolved(const std::string& path, const SerialLine& line,
                              SerialOpenError* error) {
    *error = SerialOpenError::None;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = SerialOpenError::Open;
        return -1;
    }
    if (!applyLine(fd, line)) {
        const int e = errno;
        close(fd);
        errno = e;
        *error = SerialOpenError::Settings;
        return -1;
    }
    return fd;
}

int plat_serial_open(const char* device, const SerialLine& line, SerialOpenError* error) {
    return plat_serial_open_resolved(plat_path(device), line, error);
}

std::vector<std::string> plat_serial_glob(const char* pattern) {
    std::vector<std::string> out;
    glob_t g{};
    if (glob(plat_path(pattern).c_str(), 0, nullptr, &g) == 0)
        for (size_t i = 0; i < g.gl_pathc; i++)
            out.emplace_back(g.gl_pathv[i]);
    globfree(&g);
    std::sort(out.begin(), out.end());
    return out;
}

std::string plat_serial_name(const std::string& resolved) {
    const std::string& root = plat_root();
    if (!root.empty() && resolved.compare(0, root.size(), root) == 0 &&
        resolved.size() > root.size() && resolved[root.size()] == '/')
        return resolved.substr(root.size());
    return resolved;
}

PortStatus plat_port_wait(int fd, int timeoutMs, const PortWanted& wanted, int* waitedMs) {
    short revents = 0;
    const PortStatus st = plat_wait_fd(fd, POLLIN, timeoutMs, wanted, &revents, waitedMs);
    if (st != PortStatus::Ok)
        return st;
    if (revents & POLLIN)
        return PortStatus::Ok;
    if (revents & (POLLHUP | POLLERR))
        return PortStatus::HungUp;
    return PortStatus::Failed; // POLLNVAL: not an open descriptor
}

ssize_t plat_port_read(int fd, void* buffer, size_t n, int timeoutMs, const PortWanted& wanted,
                       PortStatus* status, int* waitedMs) {
    for (;;) {
        *status = plat_port_wait(fd, timeoutMs, wanted, waitedMs);
        if (*status != PortStatus::Ok)
            return 0;
        const ssize_t r = read(fd, buffer, n);
        if (r > 0)
            return r;
        if (r < 0 && (errno == EINTR || errno == EAGAIN))
            continue; // another reader took it, or a spurious wake-up
        // Readable but nothing to read: the far end is gone (a pty's master
        // closed reads as EIO, a pulled USB adapter as end of file).
        *status = (r == 0 || errno == EIO) ? PortStatus::HungUp : PortStatus::Failed;
        return 0;
    }
}

PortStatus plat_port_write(int fd, const void* data, size_t n, int timeoutMs,
                           const PortWanted& wanted, size_t* written) {
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    struct Tell {
        size_t* out;
        size_t* done;
        ~Tell() {
            if (out)
                *out = *done;
        }
    } tell{written, &done};
    const int64_t end = plat_mono_ms() + timeoutMs;
    while (done < n) {
        const ssize_t r = write(fd, bytes + done, n - done);
        if (r > 0) {
            done += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EIO)
            return PortStatus::HungUp;
        if (r < 0 && errno == EPIPE)
            return PortStatus::HungUp; // a socket whose peer closed
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return PortStatus::Failed;
        const int64_t left = end - plat_mono_ms();
        if (left <= 0)
            return PortStatus::TimedOut;
        short revents = 0;
        const PortStatus st = plat_wait_fd(fd, POLLOUT, static_cast<int>(left), wanted, &revents);
        if (st != PortStatus::Ok)
            return st;
        if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT))
            return PortStatus::HungUp;
    }
    return PortStatus::Ok;
}

TextStep plat_text_push(char* text, size_t max, size_t* len, bool* complete, char c, char end) {
    if (*complete) {
        *len = 0;
        *complete = false;
    }
    if (c == end) {
        text[(*len)++] = end;
        text[*len] = '\0';
        *complete = true;
        return TextStep::Text;
    }
    // Room for this byte and the end that must still follow it.
    if (*len + 1 >= max) {
        *len = 0;
        text[0] = '\0';
        return TextStep::Dropped;
    }
    text[(*len)++] = c;
    text[*len] = '\0';
    return TextStep::More;
}
