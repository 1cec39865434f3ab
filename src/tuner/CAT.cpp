// The transceiver CAT relay and the transceiver presence checks.
#include "tuner/CAT.h"

#include "amp/Alarms.h"
#include "core/Setup.h"
#include "core/Threads.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/SerialPort.h"
#include "platform/UsbDevices.h"
#include "remote/Messages.h"
#include "trx/UsbIds.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

Shared<int> status_cat;

namespace {

constexpr size_t kCatText = 200;

bool relayOn(Works* w) { return w->running && w->setup->EnableCAT == '1' && ThreadStillWanted(); }

std::vector<std::string> catPorts() {
    std::vector<std::string> ports;
    glob_t g{};
    if (glob(plat_path("/dev/KAVOCAT*").c_str(), 0, nullptr, &g) == 0)
        for (size_t i = 0; i < g.gl_pathc; i++)
            ports.emplace_back(g.gl_pathv[i]);
    globfree(&g);
    std::sort(ports.begin(), ports.end());
    return ports;
}

// Opens one port, asks "DT;" and checks the answer; the descriptor or -1.
int probe(const std::string& port) {
    const char* p = port.c_str();
    int fd = open(p, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        LogInfo("Cannot open %s, error %d -%s", p, errno, std::strerror(errno));
        return -1;
    }
    LogInfo("Opened  %s", p);
    std::fprintf(stderr, "Opened %s---------------------------------------------\n", p);
    if (!plat_serial_raw(fd, B115200, 0, 0)) {
        LogInfo("Cannot set %s, error %d -%s", p, errno, std::strerror(errno));
        close(fd);
        return -1;
    }
    LogInfo("Set %s", p);
    std::fprintf(stderr, "set %s---------------------------------------------\n", p);
    LogInfo("Send \"DT;\" %s", p);
    ssize_t wr = write(fd, "DT;", 3);
    (void)wr;
    LogInfo("Sent \"DT;\" %s", p);
    std::fprintf(stderr, "sent %s---------------------------------------------\n", p);

    // Up to five bytes, each within one second.
    termios t{};
    tcgetattr(fd, &t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 10;
    tcsetattr(fd, TCSANOW, &t);
    char got[6] = {};
    int n = 0;
    while (n < 5) {
        char c;
        if (read(fd, &c, 1) != 1)
            break;
        got[n++] = c;
        LogInfo("Received %d \"%s\" %s", n, got, p);
    }
    LogInfo("Received \"%s\" %s", got, p);
    if (n == 5 && std::strncmp(got, "DT001", 5) == 0) {
        // Take the answer's ';' too, so it is not relayed as a text of its own.
        char c;
        if (read(fd, &c, 1) == 1 && c != ';')
            LogInfo("CAT: unexpected byte after the identification");
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
        std::fprintf(stderr, "received DT001; %s---------------------------------------------\n", p);
        return fd;
    }
    close(fd);
    LogInfo("Cannot connect TAV using %s", p);
    return -1;
}

// The search of VerifyCAT: the descriptor of the answering port, or -1.
int searchCatPort(Works* w) {
    std::fprintf(stderr, "CAT serial search...\n");
    std::vector<std::string> ports = catPorts();
    if (ports.empty()) {
        std::fprintf(stderr, "No CAT serial port found");
        return -1;
    }
    for (auto it = ports.rbegin(); it != ports.rend(); ++it) {
        int fd = probe(*it);
        if (fd >= 0) {
            std::fprintf(stderr, "CAT serial found:  %s---------------------------------------------\n",
                         it->c_str());
            return fd;
        }
        plat_sleep_ms(2);
    }
    char dev[16];
    w->setup->CatPort.copyTo(dev, sizeof dev);
    LogErr("Unable to open device %s", dev);
    std::fprintf(stderr, "CAT: Unable to open device %s\n", dev);
    return -1;
}

void releasePort(Works* w) {
    if (status_cat && w->catFD > 0)
        close(w->catFD);
    status_cat = 0;
    w->catFD = 0;
    w->catEnded = 1;
}

// A relay stopped by the program's end or by a newer start of itself only lets
// go of the port: switching the relay off here would also stop its successor,
// and the shutdown would report an alarm that is none.
void endRelay(Works* w) {
    if (w->running && ThreadStillWanted())
        ExitCAT(w);
    else
        releasePort(w);
}

} // namespace

int VerifyCAT(Works* w) {
    const int fd = searchCatPort(w);
    if (fd < 0)
        return -1;
    w->catFD = fd;
    return 0;
}

void ExitCAT(Works* w) {
    releasePort(w);
    w->setup->EnableCAT = '0';
    AddErrore(w, 20);
}

void Cat(Works* w) {
    status_cat = 0;
    const int64_t end = plat_mono_ms() + 3000;
    while (relayOn(w) && plat_mono_ms() < end)
        plat_sleep_ms(50);
    if (!relayOn(w))
        return;
    char dev[16];
    w->setup->CatPort.copyTo(dev, sizeof dev);
    if (VerifyCAT(w) != 0) {
        LogErr("Unable to open device %s", dev);
        std::fprintf(stderr, "CAT: Unable to open device %s\n", dev);
        endRelay(w);
        return;
    }
    const int fd = w->catFD;
    LogInfo("OK works->catFD=%d (%s)", fd, dev);
    status_cat = 1;

    char text[kCatText + 1];
    size_t n = 0;
    bool failed = false;
    while (relayOn(w) && !failed) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, 200); // waits for the port, notices the switch-off
        if (r < 0 && errno != EINTR)
            failed = true;
        if (r <= 0)
            continue;
        char c;
        if (read(fd, &c, 1) != 1) {
            failed = true;
            break;
        }
        text[n++] = c;
        if (c == ';') {
            text[n] = '\0';
            sendWebSockCatFrame(w, text, n);
            n = 0;
        } else if (n >= kCatText) {
            n = 0; // no ';' in 200 bytes: not a CAT text
        }
    }
    endRelay(w);
}

int Find_Remote_Settings(Works* w) {
    if (plat_usb_present(RX_VENDOR_ID, RX_PID_TAV) != 1)
        return 1;
    // While the relay runs, its port has answered already; probing it again would
    // open it twice.
    if (!status_cat) {
        // Only a check: the port found is closed again and catFD, which a
        // starting relay may be filling in, is left alone.
        const int fd = searchCatPort(w);
        if (fd < 0) {
            char dev[16];
            w->setup->CatPort.copyTo(dev, sizeof dev);
            std::fprintf(stderr, "---CAT: Unable to open device %s\n", dev);
            return 2;
        }
        close(fd);
    }
    FILE* p = plat_popen("lsusb|grep 0d8c:01af |wc -l", "r");
    if (!p) {
        std::fprintf(stderr, "Error opening pipe.\n");
        return 3;
    }
    int count = 0;
    if (std::fscanf(p, "%d", &count) != 1)
        count = 0;
    plat_pclose(p);
    return count > 0 ? 0 : 3;
}
