// The Hamlib poll of work mode 3.
//
// Hamlib blocks in its own reads for up to its time-out; the time-out is kept
// short (kRigTimeoutMs, one retry) so that a mode change or the shutdown ends
// the thread within about a second even while the rig is silent.
#include "tuner/Hamlib.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"
#include "platform/Wait.h"

#include <hamlib/rig.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr int kRetryMs = 2000;
constexpr int kRigTimeoutMs = 800;

bool wanted(Works* w) { return w->running && w->source[kModeHamlib].run == '1' && ThreadStillWanted(); }

// Set while this thread retries a rig whose outage is already reported: the
// same complaint every 2 s would fill the log.
thread_local bool t_outageReported = false;

// Hamlib's own messages, warnings and worse, as the panel's log lines.
int hamlibLog(enum rig_debug_level_e level, rig_ptr_t, const char* fmt, va_list ap) {
    if (level > RIG_DEBUG_WARN || t_outageReported)
        return RIG_OK;
    char text[240];
    std::vsnprintf(text, sizeof text, fmt, ap);
    // One log line: a message that carries Hamlib's trace of its calls after
    // its first line is cut there.
    char* first = text + std::strspn(text, "\r\n");
    const size_t n = std::strcspn(first, "\r\n");
    if (n == 0)
        return RIG_OK;
    first[n] = '\0';
    if (level <= RIG_DEBUG_ERR)
        LogErr("hamlib: %s", first);
    else
        LogInfo("hamlib: %s", first);
    return RIG_OK;
}

void quietHamlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        rig_set_debug(RIG_DEBUG_WARN);
        rig_set_debug_callback(hamlibLog, nullptr);
    });
}

// The device under the root, for a port that is a path; a HOST:PORT as it is.
std::string rigPath(const char* port) { return port[0] == '/' ? plat_path(port) : std::string(port); }

std::string canonical(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// A serial port another link of the panel uses: the CAT relay's (the
// transceiver's CAT ports) or the amplifier's. Two readers on one port would
// each take the other's answers.
const char* portInUse(Works* w, const char* port) {
    if (port[0] != '/')
        return nullptr;
    const std::string mine = canonical(rigPath(port));
    for (const std::string& relay : plat_serial_glob("/dev/KAVOCAT*"))
        if (canonical(relay) == mine)
            return "the CAT relay's";
    char lin[16];
    w->setup->LinPort.copyTo(lin, sizeof lin);
    if (lin[0] && canonical(rigPath(lin)) == mine)
        return "the amplifier's";
    return nullptr;
}

// Hamlib's text for an error: its first line (the rest is a trace of its calls).
void errorText(int code, char* out, size_t size) {
    std::snprintf(out, size, "%s", rigerror(code));
    out[std::strcspn(out, "\r\n")] = '\0';
}

void setConf(RIG* rig, const char* name, const char* value) {
    const int r = rig_set_conf(rig, rig_token_lookup(rig, name), value);
    if (r != RIG_OK) {
        char why[96];
        errorText(r, why, sizeof why);
        LogErr("Hamlib: cannot set %s to %s: %s", name, value, why);
    }
}

// A rig opened on the port, or null with the reason in `why`.
RIG* openRig(int model, const char* port, int speed, char* why, size_t size) {
    RIG* rig = rig_init(static_cast<rig_model_t>(model));
    if (!rig) {
        std::snprintf(why, size, "no Hamlib model %d", model);
        return nullptr;
    }
    setConf(rig, "rig_pathname", rigPath(port).c_str());
    if (speed > 0)
        setConf(rig, "serial_speed", std::to_string(speed).c_str());
    setConf(rig, "timeout", std::to_string(kRigTimeoutMs).c_str());
    setConf(rig, "retry", "1");
    const int r = rig_open(rig);
    if (r != RIG_OK) {
        errorText(r, why, size);
        rig_cleanup(rig);
        return nullptr;
    }
    // Every poll asks the rig; Hamlib's cache would hide a change for its age.
    rig_set_cache_timeout_ms(rig, HAMLIB_CACHE_ALL, 0);
    return rig;
}

void closeRig(RIG* rig) {
    rig_close(rig);
    rig_cleanup(rig);
}

void pause(Works* w, int ms) { plat_wait_fds(nullptr, 0, ms, [w] { return wanted(w); }); }

} // namespace

void HamlibRig(Works* w) {
    quietHamlib();
    char port[128];
    SettingText(w, "HamlibPort", port, sizeof port);
    const int model = SettingNumber(w, "HamlibModel");
    const int speed = SettingNumber(w, "HamlibSpeed");
    LogInfo("Hamlib: model %d on %s", model, port);
    if (const char* owner = portInUse(w, port)) {
        LogErr("Hamlib: %s is %s port: not opened", port, owner);
        RaiseDeviceError(w, kDevErrCat, "Hamlib: %s is %s port", port, owner);
        return;
    }
    // An outage is shown once, and its page closed when the rig answers again.
    bool shown = false;
    auto fail = [&](const char* what, const char* why) {
        w->source[kModeHamlib].name.set("");
        if (shown)
            return;
        shown = t_outageReported = true;
        LogErr("Hamlib: %s %s: %s", what, port, why);
        RaiseDeviceError(w, kDevErrCat, "Hamlib: %s %s", what, port);
    };
    while (wanted(w)) {
        char why[96];
        RIG* rig = openRig(model, port, speed, why, sizeof why);
        if (!rig) {
            fail("Unable to open rig", why);
            pause(w, kRetryMs);
            continue;
        }
        char name[48];
        std::snprintf(name, sizeof name, "%s %s", rig->caps->mfg_name, rig->caps->model_name);
        w->source[kModeHamlib].name.set(name);
        LogInfo("Hamlib: %s open on %s", name, port);
        if (shown) {
            shown = t_outageReported = false;
            DeviceErrorStep(w, kDevErrCat, kDevErrNone);
        }
        while (wanted(w)) {
            freq_t f = 0;
            const int r = rig_get_freq(rig, RIG_VFO_CURR, &f);
            if (r != RIG_OK) {
                errorText(r, why, sizeof why);
                break;
            }
            // A frequency the panel's fields hold; another is not a reading.
            if (f >= 1.0 && f < static_cast<double>(INT_MAX))
                w->source[kModeHamlib].freqHz = static_cast<int>(std::lround(f));
            pause(w, SettingNumber(w, "HamlibPoll"));
        }
        closeRig(rig);
        if (!wanted(w))
            break;
        fail("rig does not answer on", why);
        pause(w, kRetryMs);
    }
    w->source[kModeHamlib].name.set("");
    t_outageReported = false;
    LogInfo("Hamlib: poll of %s ended", port);
}

void HamlibStatusText(Works* w, char* text, size_t size) {
    char port[128];
    SettingText(w, "HamlibPort", port, sizeof port);
    const auto name = w->source[kModeHamlib].name.get();
    if (name.s[0])
        std::snprintf(text, size, "%s, %d Hz", name.s, w->source[kModeHamlib].freqHz.load());
    else
        std::snprintf(text, size, "model %ld on %s: not open", SettingNumber(w, "HamlibModel"), port);
}
