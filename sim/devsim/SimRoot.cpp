// Root folder layout for tests and the desktop simulator.
#include "devsim/SimRoot.h"

#include "devsim/GpioChip.h"
#include "platform/GpioBlock.h"
#include "platform/GpioChip.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool fail(std::string* error, const std::string& what) {
    if (error)
        *error = what + ": " + std::strerror(errno);
    return false;
}

bool link(const std::string& target, const std::string& at) {
    std::error_code ec;
    fs::remove(at, ec);
    fs::create_directories(fs::path(at).parent_path(), ec);
    fs::create_symlink(target, at, ec);
    return !ec;
}

// The level register reads 1 for a released key (pull-ups on GPIO 22..27).
bool initGpio(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        return false;
    const off_t at = SimGpioOffset(path);
    struct stat st;
    bool ok = fstat(fd, &st) == 0 &&
              (st.st_size >= at + static_cast<off_t>(kGpioBlockSize) ||
               ftruncate(fd, at + static_cast<off_t>(kGpioBlockSize)) == 0);
    void* p = ok ? mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, at)
                 : MAP_FAILED;
    if (p != MAP_FAILED) {
        auto* regs = static_cast<volatile uint32_t*>(p);
        regs[kGpioLevelWord] = regs[kGpioLevelWord] | 0x0FC00000u;
        munmap(p, kGpioBlockSize);
    } else {
        ok = false;
    }
    close(fd);
    return ok;
}

} // namespace

std::string SimKeyboardFifo(const std::string& dir) {
    return dir + "/dev/input/by-id/usb-sim-keyboard-event-kbd";
}
std::string SimFbPath(const std::string& dir) { return dir + "/dev/fb0"; }
std::string SimGpioPath(const std::string& dir) {
    const std::string block = dir + plat_gpio_where(dir).device;
    struct stat st;
    if (stat(block.c_str(), &st) == 0)
        return block;
    std::string first;
    for (int n = 0; n < kGpioChipsMax; n++) {
        const std::string chip = dir + "/dev/gpiochip" + std::to_string(n);
        if (!SimGpioChipIs(chip))
            continue;
        std::string label;
        if (SimGpioChipLabel(chip, &label) && plat_gpiochip_is_pi(label))
            return chip;
        if (first.empty())
            first = chip;
    }
    return first.empty() ? block : first;
}

off_t SimGpioOffset(const std::string& path) {
    const std::string gpiomem = "/dev/gpiomem", mem = "/dev/mem";
    auto endsWith = [&](const std::string& tail) {
        return path.size() >= tail.size() &&
               path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith(gpiomem) || path.find("/dev/gpiochip") != std::string::npos)
        return 0; // a modelled chip's file starts with its block
    if (endsWith(mem))
        return plat_gpio_where(path.substr(0, path.size() - mem.size())).offset;
    return kGpioBase;
}

bool SimWriteScript(const std::string& dir, const std::string& relPath, const std::string& body) {
    std::string path = dir + relPath;
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        if (!f)
            return false;
        f << "#!/bin/sh\n" << body;
        if (!f)
            return false;
    }
    if (chmod(tmp.c_str(), 0755) != 0)
        return false;
    // Renamed into place so a script is never run half written.
    return rename(tmp.c_str(), path.c_str()) == 0;
}

bool SimRootCreate(const std::string& dir, const SimRootOptions& opt, std::string* error) {
    std::error_code ec;
    for (const char* sub : {"/bin", "/usr/bin", "/opt/set", "/opt/TavZim", "/tmp", "/etc/network",
                            "/dev/input/by-id", "/sim", "/sys/class/thermal/thermal_zone0"}) {
        fs::create_directories(dir + sub, ec);
        if (ec) {
            errno = ec.value();
            return fail(error, dir + sub);
        }
    }

    // Stand-ins: they succeed and leave the machine alone. Absolute paths in
    // their arguments are taken under the root.
    const std::string rooted = "n=$#; i=0\n"
                               "while [ $i -lt $n ]; do a=$1; shift\n"
                               "  case \"$a\" in /*) a=\"$PANEL_ROOT$a\";; esac\n"
                               "  set -- \"$@\" \"$a\"; i=$((i+1)); done\n";
    // mount records the settings partition's state, which the panel's writers
    // and rm honour as they would a read-only mount; it starts read-only.
    const std::string mountState = "$PANEL_ROOT/sim/opt-set.mount";
    const std::string readOnly =
        "for a in \"$@\"; do case \"$a\" in \"$PANEL_ROOT\"/opt/set/*)\n"
        "  if [ \"$(cat \"" + mountState + "\" 2>/dev/null)\" = ro ]; then\n"
        "    echo \"rm: cannot remove '$a': Read-only file system\" >&2; exit 1; fi;; esac; done\n";
    bool ok = SimWriteScript(dir, "/bin/mount",
                             "last=; for a in \"$@\"; do last=$a; done\n"
                             "[ \"$last\" = /opt/set ] || exit 0\n"
                             "case \" $* \" in\n"
                             "  *\" -r \"*) echo ro > \"" + mountState + ".$$\";;\n"
                             "  *,rw\" \"*|*\" rw \"*) echo rw > \"" + mountState + ".$$\";;\n"
                             "  *) exit 0;;\n"
                             "esac\n"
                             "mv \"" + mountState + ".$$\" \"" + mountState + "\"\n") &&
              SimWriteScript(dir, "/bin/stty", "exit 0\n") &&
              SimWriteScript(dir, "/usr/bin/tput", "exit 0\n") &&
              SimWriteScript(dir, "/bin/sudo", "exec \"$@\"\n") &&
              SimWriteScript(dir, "/bin/rm", rooted + readOnly + "exec /bin/rm \"$@\"\n") &&
              SimWriteScript(dir, "/bin/lsusb",
                             "[ -f \"$PANEL_ROOT/sim/lsusb.txt\" ] && cat \"$PANEL_ROOT/sim/lsusb.txt\"\n"
                             "exit 0\n") &&
              SimWriteScript(dir, "/bin/my_temp",
                             "if [ -f \"$PANEL_ROOT/sim/my_temp.txt\" ]; then cat "
                             "\"$PANEL_ROOT/sim/my_temp.txt\"; else printf '45.0\\ntemp=46.0\\047C\\n'; fi\n") &&
              SimWriteScript(dir, "/opt/sshshell",
                             "echo sshshell >> \"$PANEL_ROOT/sim/sshshell.log\"\n") &&
              SimWriteScript(dir, "/opt/TavZim/getpack.sh",
                             "echo getpack >> \"$PANEL_ROOT/sim/getpack.log\"\n");
    if (ok && !opt.fbgrabTool.empty())
        ok = SimWriteScript(dir, "/usr/bin/fbgrab",
                            rooted + "exec '" + opt.fbgrabTool + "' \"$PANEL_ROOT/dev/fb0\" \"$@\"\n");
    if (!ok)
        return fail(error, "stand-in commands");

    // Fonts: DejaVu from the machine, PT Sans under the maker's names.
    const std::string pt = "/usr/share/fonts/truetype/paratype/";
    if (!link("/usr/share/fonts/truetype/dejavu", dir + "/usr/share/fonts/truetype/dejavu") ||
        !link(pt + "PTS55F.ttf", dir + "/opt/fonts/PTS55F_W.ttf") ||
        !link(pt + "PTS75F.ttf", dir + "/opt/fonts/PTS75F_W.ttf"))
        return fail(error, "font links");

    // The virtual panel: an empty regular file that the panel sizes and maps.
    int fd = open(SimFbPath(dir).c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        return fail(error, SimFbPath(dir));
    close(fd);
    for (const SimChip& c : opt.gpioChips) {
        std::string why;
        if (!SimGpioChipCreate(dir, c.number, c.label, c.lines, &why)) {
            if (error)
                *error = why;
            return false;
        }
    }
    if (opt.gpioChips.empty() && !initGpio(SimGpioPath(dir)))
        return fail(error, SimGpioPath(dir));

    struct stat st;

    // A fresh root starts with the partition read-only, as the unit boots.
    if (stat((dir + "/sim/opt-set.mount").c_str(), &st) != 0) {
        std::ofstream m(dir + "/sim/opt-set.mount");
        m << "ro\n";
        if (!m)
            return fail(error, dir + "/sim/opt-set.mount");
    }
    // The board's sensor as the Pi's kernel offers it, in millidegrees (a test
    // removes it to reach the my_temp command of a board without one).
    const std::string zone = dir + "/sys/class/thermal/thermal_zone0/temp";
    if (stat(zone.c_str(), &st) != 0) {
        std::ofstream z(zone);
        z << "45000\n";
        if (!z)
            return fail(error, zone);
    }
    std::string kbd = SimKeyboardFifo(dir);
    if (stat(kbd.c_str(), &st) != 0 && mkfifo(kbd.c_str(), 0644) != 0)
        return fail(error, kbd);
    return true;
}
