// The transceiver CAT relay and the transceiver presence checks.
#include "tuner/CAT.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"
#include "platform/UsbDevices.h"
#include "wire/Messages.h"
#include "trx/UsbIds.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

Shared<int> status_cat;

namespace {

constexpr size_t kCatText = 200;
constexpr int kProbeByteMs = 1000;

// Who has the CAT port: the relay (status_cat 1), a presence check probing it,
// or nobody. Probing and taking the port are one decision under this lock, so a
// check and a starting relay never have the port open at once.
std::mutex g_catPortMut;

bool relayOn(Works* w) { return w->running && w->setup->EnableCAT == '1' && ThreadStillWanted(); }

// Opens one port, asks "DT;" and checks the answer; the descriptor or -1.
int probe(const std::string& port) {
    const std::string name = plat_serial_name(port);
    const char* p = name.c_str();
    SerialOpenError err;
    const int fd = plat_serial_open_resolved(port, SerialLine{B115200, 0, 0}, &err);
    if (err == SerialOpenError::Open) {
        LogInfo("Cannot open %s, error %d -%s", p, errno, std::strerror(errno));
        return -1;
    }
    LogInfo("Opened  %s", p);
    LogOut("Opened %s---------------------------------------------\n", p);
    if (err == SerialOpenError::Settings) {
        LogInfo("Cannot set %s, error %d -%s", p, errno, std::strerror(errno));
        return -1;
    }
    LogInfo("Set %s", p);
    LogOut("set %s---------------------------------------------\n", p);
    LogInfo("Send \"DT;\" %s", p);
    if (plat_port_write(fd, "DT;", 3, kProbeByteMs, nullptr) != PortStatus::Ok) {
        LogInfo("Cannot send \"DT;\" %s", p);
        close(fd);
        return -1;
    }
    LogInfo("Sent \"DT;\" %s", p);
    LogOut("sent %s---------------------------------------------\n", p);

    // Up to five bytes, each within one second.
    char got[6] = {};
    int n = 0;
    PortStatus st = PortStatus::Ok;
    while (n < 5) {
        char c;
        if (plat_port_read(fd, &c, 1, kProbeByteMs, nullptr, &st) != 1)
            break;
        got[n++] = c;
        LogInfo("Received %d \"%s\" %s", n, got, p);
    }
    LogInfo("Received \"%s\" %s", got, p);
    if (n == 5 && std::strncmp(got, "DT001", 5) == 0) {
        // Take the answer's ';' too, so it is not relayed as a text of its own.
        char c;
        if (plat_port_read(fd, &c, 1, kProbeByteMs, nullptr, &st) == 1 && c != ';')
            LogInfo("CAT: unexpected byte after the identification");
        LogOut("received DT001; %s---------------------------------------------\n", p);
        return fd;
    }
    close(fd);
    LogInfo("Cannot connect TAV using %s", p);
    return -1;
}

// The search of VerifyCAT: the descriptor of the answering port, or -1.
int searchCatPort(Works* w) {
    LogOut("CAT serial search...\n");
    const std::vector<std::string> ports = plat_serial_glob("/dev/KAVOCAT*");
    if (ports.empty()) {
        LogOut("No CAT serial port found");
        return -1;
    }
    for (auto it = ports.rbegin(); it != ports.rend(); ++it) {
        int fd = probe(*it);
        if (fd >= 0) {
            LogOut("CAT serial found:  %s---------------------------------------------\n",
                         plat_serial_name(*it).c_str());
            return fd;
        }
        plat_sleep_ms(2);
    }
    char dev[16];
    w->setup->CatPort.copyTo(dev, sizeof dev);
    LogErr("Unable to open device %s", dev);
    LogOut("CAT: Unable to open device %s\n", dev);
    return -1;
}

void releasePort(Works* w) {
    std::lock_guard<std::mutex> lock(g_catPortMut);
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
    AddErrore(w, kAlarmRemoteCat);
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
    std::unique_lock<std::mutex> lock(g_catPortMut);
    if (VerifyCAT(w) != 0) {
        lock.unlock();
        LogErr("Unable to open device %s", dev);
        LogOut("CAT: Unable to open device %s\n", dev);
        endRelay(w);
        return;
    }
    const int fd = w->catFD;
    LogInfo("OK works->catFD=%d (%s)", fd, dev);
    status_cat = 1;
    lock.unlock();

    const PortWanted wanted = [w] { return relayOn(w); };
    TextFramer<kCatText> text;
    for (;;) {
        char c;
        PortStatus st;
        if (plat_port_read(fd, &c, 1, -1, wanted, &st) != 1)
            break; // switched off, or the read failed
        if (text.push(c) == TextStep::Text)
            sendWebSockCatFrame(w, text.text, text.len);
    }
    endRelay(w);
}

int Find_Remote_Settings(Works* w) {
    if (plat_usb_present(RX_VENDOR_ID, RX_PID_TAV) != 1)
        return 1;
    // While the relay runs, its port has answered already; probing it again would
    // open it twice. A relay that is starting waits for the check to end.
    std::unique_lock<std::mutex> lock(g_catPortMut);
    if (!status_cat) {
        // Only a check: the port found is closed again and catFD, which a
        // starting relay may be filling in, is left alone.
        const int fd = searchCatPort(w);
        if (fd < 0) {
            char dev[16];
            w->setup->CatPort.copyTo(dev, sizeof dev);
            LogOut("---CAT: Unable to open device %s\n", dev);
            return 2;
        }
        close(fd);
    }
    lock.unlock();
    return plat_usb_count(AUDIO_VENDOR_ID, AUDIO_PID_TAV) > 0 ? 0 : 3;
}
