// Pseudo-terminals for the serial device models.
//
// The model talks on the master side; the panel opens the slave through a
// symbolic link at the device path the setup file names (inside the root), and
// applies its own line settings there. The model also keeps a slave descriptor
// open, so the master never reports a hang-up while the panel reopens the port.
#pragma once

#include <string>

struct SimPty {
    int master = -1;
    int slaveHold = -1;
    std::string slaveName; // /dev/pts/N
    std::string linkPath;  // where the panel finds it
};

// Opens a pty in raw mode and links `linkPath` to its slave; false on failure.
bool SimPtyOpen(SimPty* p, const std::string& linkPath);
void SimPtyClose(SimPty* p);
