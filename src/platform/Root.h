// Where the program's fixed paths live.
//
// On the amplifier every absolute path is used as it stands. With `--root DIR`
// (tests, the desktop simulator) every absolute path that the program opens,
// lists or maps resolves under DIR instead, so the same code runs against a
// folder of stand-in files and devices.
#pragma once

#include <string>

// Sets the root folder; an empty or null root restores the machine's own paths.
void plat_set_root(const char* dir);
// The root folder, or "" when running on the machine's own paths.
const std::string& plat_root();
bool plat_has_root();

// Resolves an absolute path under the root; relative paths are returned unchanged.
std::string plat_path(const char* path);

// The settings partition under a root: the stand-in of `mount` records "rw" or
// "ro" in DIR/sim/opt-set.mount, and while it says "ro" the platform's writers
// refuse files under /opt/set as a read-only mount would. Returns 0, or EROFS
// for such a path; always 0 on the machine's own paths (the kernel decides) and
// under a root that does not emulate the mount (no state file).
int plat_mount_check(const char* path);
