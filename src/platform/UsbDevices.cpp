// USB device presence through libusb, or a list file under the root.
#include "platform/UsbDevices.h"

#include "platform/Root.h"

#include <cstdio>
#include <cstdlib>
#include <libusb-1.0/libusb.h>

int plat_usb_present(uint16_t vendor, uint16_t product) {
    if (plat_has_root()) {
        FILE* f = std::fopen((plat_root() + "/sim/usb-devices.txt").c_str(), "r");
        if (!f)
            return 0;
        unsigned v, p;
        int found = 0;
        while (!found && std::fscanf(f, "%x:%x", &v, &p) == 2)
            found = v == vendor && p == product;
        std::fclose(f);
        return found;
    }
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return -1;
    libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, 3);
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0) {
        libusb_exit(ctx);
        return -1;
    }
    int found = 0;
    for (ssize_t i = 0; i < n && found == 0; i++) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0) {
            found = -1;
            break;
        }
        found = d.idVendor == vendor && d.idProduct == product;
    }
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return found;
}

bool plat_usb_bus_visible() {
    const char* emulated = std::getenv("UMOCKDEV_DIR");
    return !plat_has_root() || (emulated && *emulated);
}
