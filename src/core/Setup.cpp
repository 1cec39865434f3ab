// Reading and writing /opt/set/setup.txt.
//
// The keys are described once, in file order, by the settings table
// (core/Settings.h): how a value is read into the record and Works, how it is
// logged, and how it is regenerated and written back. Reading compares each
// line with "Key: " in table order; writing emits the table in order.
#include "core/Setup.h"

#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/TextFile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

using Kind = SettingKind;

// A decimal integer with an optional sign and trailing blanks; false otherwise.
bool parseDecimal(const char* s, long* out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (end == s || errno == ERANGE || v > INT_MAX || v < INT_MIN)
        return false;
    while (*end == ' ' || *end == '\t')
        end++;
    if (*end != '\0')
        return false;
    *out = v;
    return true;
}

bool inRange(const SettingRow& k, long v, const char* value) {
    if (v >= k.lo && v <= k.hi)
        return true;
    LogErr("setup: %s value %s is not within %ld..%ld: kept", k.key, value, k.lo, k.hi);
    return false;
}

// Where a row's characters live: its field of the record, or its slot.
SettingSlot* slotOf(Works* w, const SettingRow& k) {
    const int s = SettingSlotOf(&k);
    return s >= 0 ? &w->settings.slot[s] : nullptr;
}
TextRef textOf(Works* w, SetupRecord* r, const SettingRow& k) {
    if (k.text)
        return k.text(*r);
    TextRef t = slotOf(w, k)->text.ref();
    if (k.size > 0 && k.size < t.n)
        t.n = k.size;
    return t;
}
char charOf(Works* w, SetupRecord* r, const SettingRow& k) {
    return k.flag ? k.flag(*r).load() : slotOf(w, k)->text.at(0);
}
void setChar(Works* w, SetupRecord* r, const SettingRow& k, char c) {
    if (k.flag) {
        k.flag(*r) = c;
    } else {
        const char text[2] = {c, '\0'};
        slotOf(w, k)->text.set(text);
    }
}
// The number of a number row: its mirror's, or its slot's.
void applyNumber(Works* w, const SettingRow& k, long v) {
    if (k.apply)
        k.apply(w, v);
    else if (SettingSlot* s = slotOf(w, k))
        s->number = v;
}
long numberOf(Works* w, const SettingRow& k) {
    if (k.regen)
        return k.regen(w);
    const SettingSlot* s = slotOf(w, k);
    return s ? s->number.load() : 0;
}
// A number that is written back: the mirrors' regenerate, a slot's is its own.
bool regenerated(const SettingRow& k) { return k.regen || (!k.text && !k.apply); }

void storeValue(Works* w, SetupRecord* r, const SettingRow& k, const char* value) {
    switch (k.kind) {
    case Kind::Char:
    case Kind::Digit: {
        // A carriage return would be written back as the line's end and read
        // again as no value: it is no value now.
        char c = value[0] == '\r' ? '\0' : value[0];
        const bool digit = c >= '0' && c <= '9';
        if (k.kind == Kind::Digit && digit && !inRange(k, c - '0', value))
            break;
        setChar(w, r, k, c);
        if (k.kind == Kind::Char && k.apply)
            k.apply(w, c);
        if (k.kind == Kind::Digit && digit)
            applyNumber(w, k, c - '0');
        break;
    }
    case Kind::Text:
    case Kind::Number: {
        TextRef t = textOf(w, r, k);
        const size_t len = std::strlen(value);
        long v;
        const bool number = k.kind == Kind::Number && parseDecimal(value, &v);
        if (number && !inRange(k, v, value))
            break;
        // A number written back from its text would lose the digits that do
        // not fit: refused whole, as a value the field cannot hold.
        if (number && !k.lineFromNumber && len > t.n - 1) {
            LogErr("setup: %s value %s is longer than its field: kept", k.key, value);
            break;
        }
        size_t keep = len < t.n - 1 ? len : t.n - 1;
        if (keep < len)
            LogErr("setup: value of %s cut to %zu characters", k.key, t.n - 1);
        // Nor may a cut leave a carriage return last, which the next read
        // would take for the line's end.
        while (keep > 0 && value[keep - 1] == '\r')
            keep--;
        t.setN(value, keep);
        if (number)
            applyNumber(w, k, v);
        if (k.applyText)
            k.applyText(w, value);
        break;
    }
    case Kind::Port: {
        long v;
        if (parseDecimal(value, &v))
            k.apply(w, v);
        break;
    }
    }
}

void logValue(Works* w, SetupRecord* r, const SettingRow& k) {
    char text[kSettingTextMax];
    const int number = static_cast<int>(k.logged ? k.logged(w) : numberOf(w, k));
    switch (k.kind) {
    case Kind::Char:
    case Kind::Digit:
        LogInfo("%s: -%c-", k.key, charOf(w, r, k));
        return;
    case Kind::Text:
    case Kind::Number:
        textOf(w, r, k).copyTo(text, sizeof text);
        break;
    case Kind::Port:
        text[0] = '\0';
        break;
    }
    switch (k.log) {
    case SettingLog::Value:
        LogInfo("%s: -%s-", k.key, text);
        break;
    case SettingLog::Number:
        LogInfo("%s: -%d-", k.key, number);
        break;
    case SettingLog::Both:
        LogInfo("%s: -%s- -%d-", k.key, text, number);
        break;
    }
}

// One line of the file, with the record regenerated from the numbers first.
void lineOf(Works* w, SetupRecord* r, const SettingRow& k, char* line, size_t size) {
    char text[kSettingTextMax];
    switch (k.kind) {
    case Kind::Char:
    case Kind::Digit: {
        if (k.regen) {
            const long v = k.regen(w);
            setChar(w, r, k, static_cast<char>(k.kind == Kind::Char ? v : v + '0'));
        }
        // An empty value was read as the terminator; it is written back empty.
        const char c = charOf(w, r, k);
        if (c)
            std::snprintf(line, size, "%s: %c\n", k.key, c);
        else
            std::snprintf(line, size, "%s: \n", k.key);
        return;
    }
    case Kind::Text:
        textOf(w, r, k).copyTo(text, sizeof text);
        std::snprintf(line, size, "%s: %s\n", k.key, text);
        return;
    case Kind::Number:
        if (k.lineFromNumber) {
            std::snprintf(line, size, "%s: %d\n", k.key, static_cast<int>(numberOf(w, k)));
            return;
        }
        if (regenerated(k)) {
            char num[24];
            std::snprintf(num, sizeof num, "%ld", numberOf(w, k));
            if (!textOf(w, r, k).set(num))
                LogErr("setup: %s value %s does not fit its field", k.key, num);
        }
        textOf(w, r, k).copyTo(text, sizeof text);
        std::snprintf(line, size, "%s: %s\n", k.key, text);
        return;
    case Kind::Port:
        std::snprintf(line, size, "%s: %d\n", k.key, static_cast<int>(numberOf(w, k)));
        return;
    }
}

} // namespace

void InitSettingMirrors(Works* w) {
    // The record stays as it is; the numbers start as a new file has them.
    int n = 0;
    const SettingRow* rows = SettingRows(&n);
    for (int i = 0; i < n; i++) {
        const SettingRow& k = rows[i];
        long v = 0;
        if (k.kind == Kind::Digit)
            applyNumber(w, k, k.def[0] - '0');
        else if ((k.kind == Kind::Number || k.kind == Kind::Port) && parseDecimal(k.def, &v))
            applyNumber(w, k, v);
    }
}

namespace {
// Writers of /opt/set in progress. The remounts act on the whole partition, so
// the last writer out, not each one, makes it read-only again.
std::mutex g_setWritersMut;
int g_setWriters = 0;
} // namespace

bool RemountSetRw() {
    std::lock_guard<std::mutex> lock(g_setWritersMut);
    if (g_setWriters > 0) {
        g_setWriters++;
        return true;
    }
    errno = 0;
    if (plat_system(kRemountRw) != 0) {
        const int err = errno;
        LogErrOut("can't mount rw /opt/set/ error %d", err);
        return false;
    }
    g_setWriters = 1;
    return true;
}

int WriteSetFile(const char* path, const char* data, size_t len, mode_t forceMode) {
    if (FileHolds(path, data, len, forceMode))
        return 0;
    if (!RemountSetRw())
        return -1;
    const int err = WriteFileAtomic(path, data, len, forceMode);
    RemountSetRo();
    return err;
}

void RemountSetRo() {
    std::lock_guard<std::mutex> lock(g_setWritersMut);
    if (g_setWriters <= 0 || --g_setWriters > 0)
        return;
    errno = 0;
    if (plat_system(kRemountRo) != 0) {
        const int err = errno;
        LogErr("can't mount ro /opt/set/ error %d", err);
    }
}

void initSetup(Works* w) {
    InitSettingMirrors(w);
    SetupRecord* r = w->setup;
    int n = 0;
    const SettingRow* rows = SettingRows(&n);
    for (int i = 0; i < n; i++) {
        const SettingRow& k = rows[i];
        switch (k.kind) {
        case Kind::Char:
            setChar(w, r, k, k.def[0]);
            if (k.apply)
                k.apply(w, k.def[0]);
            break;
        case Kind::Digit:
            setChar(w, r, k, k.def[0]);
            break;
        case Kind::Text:
        case Kind::Number:
            textOf(w, r, k).set(k.def);
            if (k.applyText)
                k.applyText(w, k.def);
            break;
        case Kind::Port:
            break;
        }
    }
    // The flags without a key are on.
    r->serialLinkEnabled = '1';
    r->usbSpectrum = '1';
    r->catSerialEnabled = '1';
}

void readSetup(Works* w) {
    initSetup(w);
    SetupRecord* r = w->setup;

    // A save still queued is what the file will hold: a factory default reads
    // back the defaults it has just saved.
    std::string queued;
    FILE* f = StorageOpenRead(kSetupPath, &queued);
    if (!f) {
        LogOut("Init Setup!\n");
        writeSetup(w);
        LogErr("can't open /opt/set/setup.txt");
        return;
    }
    int n = 0;
    const SettingRow* rows = SettingRows(&n);
    char line[kSettingTextMax + 40];
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] == '\n')
            line[--len] = '\0';
        // A CR LF end, or a value that ended in carriage returns: the writer
        // ends every line with LF alone, so a value read again is the same.
        while (len > 0 && line[len - 1] == '\r')
            line[--len] = '\0';
        for (int i = 0; i < n; i++) {
            const SettingRow& k = rows[i];
            size_t kl = std::strlen(k.key);
            if (std::strncmp(line, k.key, kl) == 0 && line[kl] == ':' && line[kl + 1] == ' ') {
                storeValue(w, r, k, line + kl + 2);
                break;
            }
        }
    }
    std::fclose(f);
    for (int i = 0; i < n; i++)
        logValue(w, r, rows[i]);
}

int writeSetup(Works* w) {
    // F11 and the menus save from different threads: the file last written is
    // the record last read.
    static std::mutex oneSave;
    std::lock_guard<std::mutex> hold(oneSave);
    SetupRecord* r = w->setup;
    std::string out;
    out.reserve(2048);
    int n = 0;
    const SettingRow* rows = SettingRows(&n);
    for (int i = 0; i < n; i++) {
        char line[kSettingTextMax + 40];
        lineOf(w, r, rows[i], line, sizeof line);
        out += line;
    }

    // Written by the storage thread once it runs (0 here then): every try that
    // fails says so, as a write here would.
    const int err = StorageWrite(kSetupPath, std::move(out), 0, [](int e) {
        if (e > 0)
            LogErr("can't write /opt/set/setup.txt error %d", e);
    });
    if (err < 0)
        return 1;
    return err != 0 ? 2 : 0;
}
