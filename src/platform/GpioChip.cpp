// The GPIO character device: finding the chip and one line request's ioctls.
#include "platform/GpioChip.h"

#include "platform/Root.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A descriptor closed when it goes out of scope.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

std::string fixed(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

// "gpiochip" and a number: the chips, not the names of what else /dev holds.
int chipNumber(const char* name) {
    if (std::strncmp(name, "gpiochip", 8) != 0 || name[8] == '\0')
        return -1;
    int n = 0;
    for (const char* p = name + 8; *p; p++) {
        if (*p < '0' || *p > '9' || n > 9999)
            return -1;
        n = n * 10 + (*p - '0');
    }
    return n;
}

// Every line of `count`: outputs driving `high`, the other lines inputs, with the
// pull-up where `pullUps` says (no debounce: the caller times the lines itself).
void fillConfig(gpio_v2_line_config* cfg, int count, uint64_t outputs, uint64_t high, uint64_t pullUps) {
    std::memset(cfg, 0, sizeof *cfg);
    const uint64_t all = count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    outputs &= all;
    const uint64_t inputs = all & ~outputs;
    // Lines not named by an attribute take the plain input flags.
    cfg->flags = GPIO_V2_LINE_FLAG_INPUT;
    uint32_t n = 0;
    auto attr = [&](uint32_t id, uint64_t value, uint64_t mask) {
        if (!mask)
            return;
        gpio_v2_line_config_attribute& a = cfg->attrs[n++];
        a.attr.id = id;
        if (id == GPIO_V2_LINE_ATTR_ID_FLAGS)
            a.attr.flags = value;
        else
            a.attr.values = value;
        a.mask = mask;
    };
    attr(GPIO_V2_LINE_ATTR_ID_FLAGS, GPIO_V2_LINE_FLAG_OUTPUT, outputs);
    attr(GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES, high & outputs, outputs);
    attr(GPIO_V2_LINE_ATTR_ID_FLAGS, GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP,
         pullUps & inputs);
    cfg->num_attrs = n;
}

} // namespace

bool plat_gpiochip_info(const std::string& path, GpioChipInfo* out) {
    Fd chip(open(plat_path(path.c_str()).c_str(), O_RDWR | O_CLOEXEC));
    if (chip.fd < 0)
        return false;
    gpiochip_info info;
    std::memset(&info, 0, sizeof info);
    if (ioctl(chip.fd, GPIO_GET_CHIPINFO_IOCTL, &info) != 0)
        return false;
    out->path = path;
    out->name = fixed(info.name, sizeof info.name);
    out->label = fixed(info.label, sizeof info.label);
    out->lines = info.lines;
    return true;
}

std::vector<GpioChipInfo> plat_gpiochip_list() {
    std::vector<int> numbers;
    if (DIR* d = opendir(plat_path("/dev").c_str())) {
        while (dirent* e = readdir(d)) {
            const int n = chipNumber(e->d_name);
            if (n >= 0 && numbers.size() < kGpioChipsMax)
                numbers.push_back(n);
        }
        closedir(d);
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<GpioChipInfo> chips;
    for (int n : numbers) {
        GpioChipInfo c;
        if (plat_gpiochip_info("/dev/gpiochip" + std::to_string(n), &c))
            chips.push_back(c);
    }
    return chips;
}

bool plat_gpiochip_is_pi(const std::string& label) {
    return label == "pinctrl-rp1" || label == "pinctrl-bcm2711" || label == "pinctrl-bcm2835";
}

bool plat_gpiochip_find(const std::string& wanted, GpioChipInfo* out, std::string* why) {
    // A path is asked directly: it need not be among /dev's gpiochipN names.
    if (!wanted.empty() && wanted[0] == '/') {
        if (plat_gpiochip_info(wanted, out))
            return true;
        *why = "no GPIO chip answers at " + wanted;
        return false;
    }
    const std::vector<GpioChipInfo> chips = plat_gpiochip_list();
    for (const GpioChipInfo& c : chips) {
        if (wanted.empty() ? plat_gpiochip_is_pi(c.label) : c.name == wanted || c.label == wanted) {
            *out = c;
            return true;
        }
    }
    std::string seen;
    for (const GpioChipInfo& c : chips)
        seen += (seen.empty() ? "" : ", ") + c.name + " '" + c.label + "'";
    *why = (wanted.empty() ? std::string("no GPIO chip is a Raspberry Pi's (pinctrl-rp1, "
                                         "pinctrl-bcm2711 or pinctrl-bcm2835)")
                           : "no GPIO chip is named or labelled '" + wanted + "'") +
           (seen.empty() ? ", and /dev has no GPIO chip" : "; chips: " + seen);
    return false;
}

int plat_gpiochip_request(const std::string& path, const uint32_t* offsets, int count,
                          uint64_t outputs, uint64_t high, uint64_t pullUps, const char* consumer) {
    if (count < 1 || count > kGpioRequestMax) {
        errno = EINVAL;
        return -1;
    }
    Fd chip(open(plat_path(path.c_str()).c_str(), O_RDWR | O_CLOEXEC));
    if (chip.fd < 0)
        return -1;
    gpio_v2_line_request req;
    std::memset(&req, 0, sizeof req);
    std::copy(offsets, offsets + count, req.offsets);
    std::strncpy(req.consumer, consumer, sizeof req.consumer - 1);
    req.num_lines = static_cast<uint32_t>(count);
    fillConfig(&req.config, count, outputs, high, pullUps);
    if (ioctl(chip.fd, GPIO_V2_GET_LINE_IOCTL, &req) != 0)
        return -1;
    return req.fd;
}

int plat_gpiochip_set(int request, uint64_t bits, uint64_t mask) {
    gpio_v2_line_values v{bits, mask};
    return ioctl(request, GPIO_V2_LINE_SET_VALUES_IOCTL, &v) == 0 ? 0 : -1;
}

int plat_gpiochip_get(int request, uint64_t mask, uint64_t* bits) {
    gpio_v2_line_values v{0, mask};
    if (ioctl(request, GPIO_V2_LINE_GET_VALUES_IOCTL, &v) != 0)
        return -1;
    *bits = v.bits;
    return 0;
}

int plat_gpiochip_configure(int request, int count, uint64_t outputs, uint64_t high, uint64_t pullUps) {
    if (count < 1 || count > kGpioRequestMax) {
        errno = EINVAL;
        return -1;
    }
    gpio_v2_line_config cfg;
    fillConfig(&cfg, count, outputs, high, pullUps);
    return ioctl(request, GPIO_V2_LINE_SET_CONFIG_IOCTL, &cfg) == 0 ? 0 : -1;
}
