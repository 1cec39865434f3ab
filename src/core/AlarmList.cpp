// The ordered list of active alarms.
//
// Alarms are raised and removed from several threads (link, tuning, refresh,
// remote, keys). The list is a few ints updated as a whole, so its updates take
// one small lock of their own; nothing else is held or called while it is held.
#include "core/AlarmList.h"

#include "core/Works.h"
#include "platform/Log.h"

#include <cstdint>
#include <mutex>

namespace {
std::mutex g_listMut;

int findLocked(Works* w, int code) {
    int n = w->activeErrorCount;
    for (int i = 0; i < n; i++)
        if (w->activeErrors[i] == code)
            return i;
    return -1;
}
} // namespace

void AddErrore(Works* w, int code) {
    if (code < 0 || code >= kAlarmCodes)
        return;
    if (w->startupFlags.test(1))
        return;
    int count;
    {
        std::lock_guard<std::mutex> lock(g_listMut);
        if (findLocked(w, code) >= 0)
            return;
        count = w->activeErrorCount;
        if (count >= kMaxActiveErrors)
            return;
        w->activeErrors[count] = code;
        w->activeErrorCount = ++count;
    }
    LogOut("Add: N: %i err:%i\n", count, code);
    uint8_t flags = w->errorTable[code].flags;
    if ((flags & 2) && !(w->errorFlags.set(1) & 1))
        LogOut(" -->set protezione 0x%x\n", w->errorFlags.load());
    if ((flags & 4) && !(w->errorFlags.set(4) & 4))
        LogOut(" -->tasto reset errore 0x%x\n", w->errorFlags.load());
}

void DeleteErrore(Works* w, int code) {
    int count;
    {
        std::lock_guard<std::mutex> lock(g_listMut);
        int i = findLocked(w, code);
        if (i < 0)
            return;
        count = w->activeErrorCount;
        for (; i + 1 < count; i++)
            w->activeErrors[i] = w->activeErrors[i + 1].load();
        w->activeErrors[count - 1] = 0;
        w->activeErrorCount = --count;
    }
    LogOut("Del ERROR: N: %i err:%i\n", count, code);
}

int ExistError(Works* w, int code) {
    std::lock_guard<std::mutex> lock(g_listMut);
    return findLocked(w, code) >= 0 ? 1 : 0;
}

int ExistAnError(Works* w) {
    std::lock_guard<std::mutex> lock(g_listMut);
    return w->activeErrorCount > 0 ? w->activeErrors[0].load() : -1;
}

int SnapshotErrors(Works* w, int* codes, int max) {
    std::lock_guard<std::mutex> lock(g_listMut);
    int n = w->activeErrorCount;
    if (n > max)
        n = max;
    for (int i = 0; i < n; i++)
        codes[i] = w->activeErrors[i];
    return n;
}

namespace {

struct AlarmText {
    uint8_t flags;
    const char* line1;
    const char* line2;
};

const AlarmText kAlarmTexts[kAlarmCodes] = {
    {2, "High", "temperature"},    {3, "HI SWR", "error"},          {1, "High", "temperature"},
    {3, "PWR IN", "error"},        {4, "Comm", "warn "},            {4, "Remote warn", "Usb"},
    {4, "Audio", "not found"},     {4, "TAV mode", "not activated"}, {4, "TAV EXTIO", "warning"},
    {0, "Audio read", "warning"},  {0, "Audio write", "warning"},   {0, "Web socket", "warning"},
    {4, "Auto Tune", "timeout"},   {4, "Auto Tune", "SWR warning"}, {4, "Auto Tune", "TAV aborts"},
    {3, "Error", "---"},           {4, "Micro Reset", "warning"},   {4, "CMD not", "available"},
    {4, "Auto Tune", "Max SWR"},   {6, "Band warn", "StBy"},        {4, "Remote warn", "Cat"},
    {0, "TX limit", "near"},       {1, "TX limit", "RESET to TX"},
};

} // namespace

void InitErrorTable(Works* w) {
    for (int i = 0; i < kAlarmCodes; i++) {
        w->errorTable[i].flags = kAlarmTexts[i].flags;
        w->errorTable[i].line1.set(kAlarmTexts[i].line1);
        w->errorTable[i].line2.set(kAlarmTexts[i].line2);
    }
}
