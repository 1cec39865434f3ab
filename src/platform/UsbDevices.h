// Presence of USB devices.
//
// On the board the bus is scanned with libusb. Under a root folder the devices
// plugged in are the lines "vvvv:pppp" (hexadecimal vendor and product) of
// DIR/sim/usb-devices.txt, so tests and the simulator can plug and unplug them.
#pragma once

#include <cstdint>

// How many devices of `vendor` (and `product`, unless it is -1) are plugged
// in; -1 when the bus could not be read.
int plat_usb_count(uint16_t vendor, int product);

// 1 when a device with these identifiers is present, 0 when not, -1 when the
// bus could not be read.
int plat_usb_present(uint16_t vendor, uint16_t product);

// Whether the program may look at the USB bus itself (the receiver thread
// does, through libusb). Always on the board; under a root folder only when an
// emulated bus is there (umockdev's testbed, UMOCKDEV_DIR), so that a panel on
// a desktop never talks to the desktop's own devices.
bool plat_usb_bus_visible();
