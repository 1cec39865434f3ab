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
