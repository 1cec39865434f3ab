// Keyboard event devices, real or a FIFO under the root.
#include "platform/InputDevice.h"

#include "platform/Root.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

bool plat_glob_first(const char* pattern, std::string* match) {
    std::string rooted = plat_path(pattern);
    glob_t g{};
    bool found = glob(rooted.c_str(), 0, nullptr, &g) == 0 && g.gl_pathc > 0;
    if (found)
        *match = g.gl_pathv[0];
    globfree(&g);
    return found;
}

int plat_input_open(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        // Read-write so the FIFO always has a writer: no end of file, no spinning.
        return open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

int plat_input_grab(int fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        return 0;
    return ioctl(fd, EVIOCGRAB, 1);
}
