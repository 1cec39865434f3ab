// Path resolution under the root folder of a test or the simulator.
#include "platform/Root.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// Set once by main before any thread starts; read-only afterwards.
std::string g_root;
} // namespace

void plat_set_root(const char* dir) {
    g_root = dir ? dir : "";
    while (g_root.size() > 1 && g_root.back() == '/')
        g_root.pop_back();
}

const std::string& plat_root() { return g_root; }

bool plat_has_root() { return !g_root.empty(); }

std::string plat_path(const char* path) {
    if (path == nullptr)
        return std::string();
    if (g_root.empty() || path[0] != '/')
        return std::string(path);
    return g_root + path;
}

int plat_mount_check(const char* path) {
    if (g_root.empty() || path == nullptr || std::strncmp(path, "/opt/set/", 9) != 0)
        return 0;
    FILE* f = std::fopen((g_root + "/sim/opt-set.mount").c_str(), "r");
    if (!f)
        return 0;
    char state[4] = {};
    size_t n = std::fread(state, 1, 2, f);
    std::fclose(f);
    return n == 2 && std::strncmp(state, "ro", 2) == 0 ? EROFS : 0;
}
