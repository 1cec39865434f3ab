// Answers of Hamlib's amplifier protocol from the view of this amplifier.
#include "remote/AmpctlAnswer.h"

#include "core/Works.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kModelName = "Panel amplifier";

enum class Level : uint8_t {
    Swr, PwrInput, PwrForward, PwrReflected, PwrPeak, Fault, Warning, VdMeter, IdMeter, TempMeter
};

struct LevelRow {
    const char* name;
    Level level;
};

// The levels this amplifier reads, in Hamlib's order of their bits (so
// 'l ?' lists them as Hamlib lists a backend's).
constexpr LevelRow kLevels[] = {
    {"SWR", Level::Swr},
    {"PWRINPUT", Level::PwrInput},
    {"PWRFORWARD", Level::PwrForward},
    {"PWRREFLECTED", Level::PwrReflected},
    {"PWRPEAK", Level::PwrPeak},
    {"FAULT", Level::Fault},
    {"WARNING", Level::Warning},
    {"VD_METER", Level::VdMeter},
    {"ID_METER", Level::IdMeter},
    {"TEMP_METER", Level::TempMeter},
};

// amp_status_t's names, bit 0 first.
constexpr const char* kStatusNames[] = {
    "PTT",
    "FAULT_SWR",
    "FAULT_INPUT_POWER",
    "FAULT_TEMPERATURE",
    "FAULT_PWR_FWD",
    "FAULT_PWR_REFLECTED",
    "FAULT_VOLTAGE",
    "FAULT_FREQUENCY",
    "FAULT_TUNER_NO_MATCH",
    "FAULT_OTHER",
    "WARNING_SWR_HIGH",
    "WARNING_POWER_LIMIT",
    "WARNING_TEMPERATURE",
    "WARNING_FREQUENCY",
    "WARNING_TUNER_NO_INPUT",
    "WARNING_OTHER",
};

// Hamlib's amplifier operations: TUNE is this amplifier's, the others it has not.
constexpr const char* kOtherOps[] = {"BAND_UP", "BAND_DOWN", "L_NH_UP", "L_NH_DOWN", "C_PF_UP", "C_PF_DOWN"};

// Appends to an answer, never past its buffer.
struct Out {
    AmpctlAnswer* a;

    void bytes(const char* s, size_t n) {
        const size_t room = kAmpctlAnswerMax - a->len;
        if (n > room)
            n = room;
        std::memcpy(a->text + a->len, s, n);
        a->len += n;
    }
    void str(const char* s) { bytes(s, std::strlen(s)); }
    void ch(char c) { bytes(&c, 1); }
    void fmt(const char* f, ...) __attribute__((format(printf, 2, 3))) {
        char buf[64];
        va_list ap;
        va_start(ap, f);
        const int n = std::vsnprintf(buf, sizeof buf, f, ap);
        va_end(ap);
        if (n > 0)
            bytes(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
    }
    // A text of the view: up to its NUL or its field's end, control bytes
    // made blanks so that it stays one record.
    void text(const char* s, size_t max) {
        for (size_t i = 0; i < max && s[i]; i++)
            ch(static_cast<unsigned char>(s[i]) < ' ' || s[i] == 0x7f ? ' ' : s[i]);
    }
    void rprt(int code) { fmt("RPRT %d\n", code); }
};

void levelList(Out* o) {
    for (const LevelRow& l : kLevels) {
        o->str(l.name);
        o->ch(' ');
    }
}

// The caps dump in the layout of ampctld's dummy, line by line.
void capsDump(Out* o) {
    o->str("Caps dump for model:\t0\n"); // no Hamlib model number is this amplifier's
    o->fmt("Model name:\t\t%s\n", kModelName);
    o->str("Mfg name:\t\tamp-panel\n");
    o->fmt("Backend version:\t%s\n", kSwVersion);
    o->str("Backend copyright:\tProprietary\n"
           "Backend status:\t\tStable\n"
           "Amp type:\t\tOther\n"
           "Port type:\t\tNone\n"
           "Write delay:\t\t0mS, timeout 0mS, 0 retries\n"
           "Post Write delay:\t0mS\n"
           "Has priv data:\t\tN\n"
           "Get level: ");
    levelList(o);
    o->str("\nHas Init:\t\tY\n"
           "Has Cleanup:\t\tY\n"
           "Has Open:\t\tY\n"
           "Has Close:\t\tY\n"
           "Can set Conf:\t\tN\n"
           "Can get Conf:\t\tN\n"
           "Can Reset:\t\tY\n"
           "Can get Info:\t\tY\n"
           "\n"
           "Overall backend warnings: 0\n");
}

// ampctld reads numbers with sscanf: a number at the start, whatever follows ignored.
bool readInt(const char* s, int* v) {
    char* end;
    errno = 0;
    const long x = std::strtol(s, &end, 10);
    if (end == s || errno == ERANGE || x < INT_MIN || x > INT_MAX)
        return false;
    *v = static_cast<int>(x);
    return true;
}

// A frequency as the panel keeps one: whole hertz, above 0, within an int.
bool readHz(const char* s, int64_t* hz) {
    char* end;
    const double x = std::strtod(s, &end);
    if (end == s || !std::isfinite(x) || x < 0.5 || x > static_cast<double>(INT_MAX))
        return false;
    *hz = std::llround(x);
    return true;
}

struct Responder {
    const AmpctlView& v;
    const AmpctlCommand& c;
    AmpctlAnswer* a;
    Out o;

    // A get's value: its key in the extended form.
    void key() {
        if (c.extended)
            o.fmt("%s: ", AmpctlCommandKey(c.cmd));
    }
    // A get that answered: the extended form ends with RPRT 0.
    void gotValue() {
        if (c.extended)
            o.rprt(kAmpctlOk);
    }
    // A change this client asks for: refused without rights, then without data
    // or where the view shows it cannot be made now; else the caller's.
    void change(AmpctlAction action, int64_t value, bool possibleNow = true) {
        if (!v.mayChange)
            return o.rprt(kAmpctlNotAllowed);
        if (!v.valid || !possibleNow)
            return o.rprt(kAmpctlNotAvailable);
        a->request = AmpctlRequest{action, value};
    }

    void level(const char* name) {
        if (std::strcmp(name, "?") == 0) {
            levelList(&o);
            o.ch('\n');
            return gotValue();
        }
        const LevelRow* row = nullptr;
        for (const LevelRow& l : kLevels)
            if (std::strcmp(l.name, name) == 0)
                row = &l;
        if (!row)
            return o.rprt(kAmpctlInvalid);
        if (!v.valid)
            return o.rprt(kAmpctlNotAvailable);
        // ampctld ends a level's value with LF whatever the separator.
        switch (row->level) {
        case Level::Swr: o.fmt("%f\n", static_cast<double>(v.swr)); break;
        case Level::PwrInput: o.fmt("%d\n", v.inputW); break;
        case Level::PwrForward: o.fmt("%d\n", v.forwardW); break;
        case Level::PwrReflected: o.fmt("%d\n", v.reflectedW); break;
        case Level::PwrPeak: o.fmt("%d\n", v.peakW); break;
        case Level::Fault:
            v.fault[0] ? o.text(v.fault, sizeof v.fault) : o.str("No Fault");
            o.ch('\n');
            break;
        case Level::Warning:
            v.warning[0] ? o.text(v.warning, sizeof v.warning) : o.str("No Warning");
            o.ch('\n');
            break;
        case Level::VdMeter: o.fmt("%f\n", static_cast<double>(v.supplyV)); break;
        case Level::IdMeter: o.fmt("%f\n", static_cast<double>(v.drainA)); break;
        case Level::TempMeter: o.fmt("%f\n", static_cast<double>(v.heatSinkC)); break;
        }
        gotValue();
    }

    void respond() {
        const char sep = c.separator;
        if (c.extended) {
            o.fmt("%s:", AmpctlCommandName(c.cmd));
            for (int i = 0; i < c.argc; i++) {
                o.ch(' ');
                o.str(c.args[i]);
            }
            o.ch(sep);
        }
        if (c.missingArgument)
            return o.rprt(kAmpctlInvalid);
        const char* arg = c.args[0];
        int n = 0;
        switch (c.cmd) {
        case AmpctlCmd::Unknown:
        case AmpctlCmd::Quit:
            return;
        case AmpctlCmd::GetFreq:
            if (!v.valid || !v.freqKnown)
                return o.rprt(kAmpctlNotAvailable);
            key();
            o.fmt("%lld%c", static_cast<long long>(v.freqHz), sep);
            return gotValue();
        case AmpctlCmd::SetFreq: {
            int64_t hz = 0;
            if (!readHz(arg, &hz))
                return o.rprt(kAmpctlInvalid);
            return change(AmpctlAction::SetFreq, hz, !v.freqFromSource);
        }
        case AmpctlCmd::GetLevel:
            return level(arg);
        case AmpctlCmd::SetLevel:
            if (std::strcmp(arg, "?") == 0) { // nothing here is set as a level
                o.ch('\n');
                return o.rprt(kAmpctlOk);
            }
            return o.rprt(kAmpctlNotAvailable);
        case AmpctlCmd::SendCmd: // the amplifier's own link is not lent to clients
            return o.rprt(kAmpctlNotAvailable);
        case AmpctlCmd::DumpState:
            if (c.extended)
                o.str("ampctld Protocol Ver: ");
            o.fmt("0%c", sep);
            if (c.extended)
                o.fmt("Amplifier Model: %s\n", kModelName);
            return gotValue();
        case AmpctlCmd::DumpCaps:
            capsDump(&o);
            return o.rprt(kAmpctlOk);
        case AmpctlCmd::GetInfo:
            key();
            o.fmt("%s, software %s%c", kModelName, kSwVersion, sep);
            return gotValue();
        case AmpctlCmd::Reset: // Hamlib's amp_reset_t: 0 memory, 1 fault, 2 amplifier
            if (!readInt(arg, &n) || n < 0 || n > 2)
                return o.rprt(kAmpctlInvalid);
            if (n != 1)
                return o.rprt(kAmpctlNotAvailable);
            return change(AmpctlAction::FaultReset, 0);
        case AmpctlCmd::SetPowerstat: // 0 off, 1 on, 2 standby, 4 operate
            if (!readInt(arg, &n) || n < 0 || n > 4 || n == 3)
                return o.rprt(kAmpctlInvalid);
            if (n < 2)
                return o.rprt(kAmpctlNotAvailable);
            return change(n == 2 ? AmpctlAction::Standby : AmpctlAction::Operate, 0);
        case AmpctlCmd::GetPowerstat:
            if (!v.valid)
                return o.rprt(kAmpctlNotAvailable);
            key();
            o.fmt("%d\n", v.operate ? 4 : 2); // LF whatever the separator, as ampctld
            return gotValue();
        case AmpctlCmd::GetStatus: {
            if (!v.valid)
                return o.rprt(kAmpctlNotAvailable);
            key();
            const uint32_t flags = (v.status & ~uint32_t{kAmpctlPtt}) | (v.transmitting ? kAmpctlPtt : 0u);
            for (size_t i = 0; i < sizeof kStatusNames / sizeof kStatusNames[0]; i++)
                if (flags & (1u << i)) {
                    o.str(kStatusNames[i]);
                    o.ch(' ');
                }
            o.ch(sep);
            return gotValue();
        }
        case AmpctlCmd::GetAnt:
            if (!v.valid)
                return o.rprt(kAmpctlNotAvailable);
            key();
            o.fmt("%d%c", v.antenna, sep);
            return gotValue();
        case AmpctlCmd::SetAnt:
            if (!readInt(arg, &n) || n < 1 || n > 3)
                return o.rprt(kAmpctlInvalid);
            return change(AmpctlAction::SetAntenna, n);
        case AmpctlCmd::AmpOp:
            if (std::strcmp(arg, "?") == 0) {
                o.str("TUNE \n");
                return o.rprt(kAmpctlOk);
            }
            if (std::strcmp(arg, "TUNE") == 0)
                return change(AmpctlAction::Tune, 0);
            for (const char* op : kOtherOps)
                if (std::strcmp(arg, op) == 0)
                    return o.rprt(kAmpctlNotAvailable);
            return o.rprt(kAmpctlInvalid);
        }
    }
};

} // namespace

void AmpctlRespond(const AmpctlView& view, const AmpctlCommand& command, AmpctlAnswer* answer) {
    answer->len = 0;
    answer->request = AmpctlRequest{};
    answer->close = command.cmd == AmpctlCmd::Quit;
    if (command.cmd == AmpctlCmd::Unknown || answer->close)
        return;
    Responder r{view, command, answer, Out{answer}};
    r.respond();
}

void AmpctlComplete(AmpctlAnswer* answer, int result) {
    if (answer->request.action == AmpctlAction::None)
        return;
    answer->request = AmpctlRequest{};
    Out{answer}.rprt(result);
}
