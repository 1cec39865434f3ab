// Path resolution under the root folder of a test or the simulator.
#include "platform/Root.h"

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
