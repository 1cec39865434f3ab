// USB device presence through libusb, or a list file under the root.
#include "platform/UsbDevices.h"

#include "platform/Root.h"

#include <cstdio>
#include <cstdlib>
#include <libusb-1.0/libusb.h>
#include <mutex>

namespace {

// One context for the program's life: where libusb follows hotplug events its
// device list is kept up to date in memory, so a count costs no bus scan.
libusb_context* busContext() {
    static std::mutex mu;
    static libusb_context* ctx = nullptr;
    std::lock_guard<std::mutex> lock(mu);
    if (!ctx && libusb_init(&ctx) == 0)
        libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, 3);
    return ctx;
}

bool matches(unsigned v, unsigned p, uint16_t vendor, int product) {
    return v == vendor && (product < 0 || p == static_cast<unsigned>(product));
}

} // namespace

int plat_usb_count(uint16_t vendor, int product) {
    if (plat_has_root()) {
        FILE* f = std::fopen((plat_root() + "/sim/usb-devices.txt").c_str(), "r");
        if (!f)
            return 0;
        unsigned v, p;
        int count = 0;
        while (std::fscanf(f, "%x:%x", &v, &p) == 2)
            count += matches(v, p, vendor, product);
        std::fclose(f);
        return count;
    }
    libusb_context* ctx = busContext();
    if (!ctx)
        return -1;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0)
        return -1;
    int count = 0;
    for (ssize_t i = 0; i < n; i++) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0) {
            count = -1;
            break;
        }
        count += matches(d.idVendor, d.idProduct, vendor, product);
    }
    libusb_free_device_list(list, 1);
    return count;
}

int plat_usb_present(uint16_t vendor, uint16_t product) {
    const int n = plat_usb_count(vendor, product);
    return n < 0 ? -1 : n > 0;
}

bool plat_usb_bus_visible() {
    const char* emulated = std::getenv("UMOCKDEV_DIR");
    return !plat_has_root() || (emulated && *emulated);
}
