// Pseudo-terminal pairs linked into a root folder.
#include "devsim/Pty.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

bool SimPtyOpen(SimPty* p, const std::string& linkPath) {
    int master = -1, slave = -1;
    char name[64];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(linkPath).parent_path(), ec);
    std::filesystem::remove(linkPath, ec);
    std::filesystem::create_symlink(name, linkPath, ec);
    if (ec) {
        close(master);
        close(slave);
        return false;
    }
    p->master = master;
    p->slaveHold = slave;
    p->slaveName = name;
    p->linkPath = linkPath;
    return true;
}

void SimPtyClose(SimPty* p) {
    if (p->master >= 0)
        close(p->master);
    if (p->slaveHold >= 0)
        close(p->slaveHold);
    if (!p->linkPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(p->linkPath, ec);
    }
    p->master = p->slaveHold = -1;
}
