// A root folder for running the panel off the amplifier.
//
// Lays out what the program expects at its fixed paths: stand-in commands under
// bin/ (their runs are logged by the panel to commands.log), the fonts linked
// under usr/share/fonts and opt/fonts, the virtual panel dev/fb0, the GPIO block
// dev/mem with every key released, the keyboard FIFO, and the settings folder.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A modelled GPIO chip (devsim/GpioChip.h): dev/gpiochip<number>.
struct SimChip {
    int number = 0;
    std::string label = "pinctrl-rp1";
    int lines = 54;
};

struct SimRootOptions {
    // Executable that turns dev/fb0 into a PNG (the fbgrab stand-in calls it).
    std::string fbgrabTool;
    // GPIO chips of the character device instead of the register block: a
    // root with these has no dev/mem (unless the test adds one).
    std::vector<SimChip> gpioChips;
};

// Creates (or refreshes) the layout under `dir`; false with `error` set on failure.
bool SimRootCreate(const std::string& dir, const SimRootOptions& options, std::string* error);

// Writes an executable shell script (a stand-in command) at dir + relPath.
bool SimWriteScript(const std::string& dir, const std::string& relPath, const std::string& body);

// Paths inside a root.
std::string SimKeyboardFifo(const std::string& dir);
std::string SimFbPath(const std::string& dir);
// The GPIO block: dev/gpiomem when the root has one, else dev/mem (the panel's
// choice, plat_gpio_where); in a root with neither, the file of the modelled
// chip with a Raspberry Pi's label (or else the first chip), whose first 4096
// bytes are laid out as the block.
std::string SimGpioPath(const std::string& dir);
// Where the block is in `path` (a root's dev/gpiomem or dev/mem): a root that
// fakes a board's device tree moves it as the board would.
off_t SimGpioOffset(const std::string& path);
