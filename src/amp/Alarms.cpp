// The ordered list of active alarms.
//
// Alarms are raised and removed from several threads (link, tuning, refresh,
// remote, keys). The list is a few ints updated as a whole, so its updates take
// one small lock of their own; nothing else is held or called while it is held.
#include "amp/Alarms.h"

#include "core/Works.h"

#include <cstdio>
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
    if (w->startupFlags & 1)
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
    std::fprintf(stderr, "Add: N: %i err:%i\n", count, code);
    uint8_t flags = w->errorTable[code].flags;
    if ((flags & 2) && !(w->errorFlags & 1)) {
        w->errorFlags |= 1;
        std::fprintf(stderr, " -->set protezione 0x%x\n", static_cast<unsigned>(w->errorFlags));
    }
    if ((flags & 4) && !(w->errorFlags & 4)) {
        w->errorFlags |= 4;
        std::fprintf(stderr, " -->tasto reset errore 0x%x\n",
                     static_cast<unsigned>(w->errorFlags));
    }
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
    std::fprintf(stderr, "Del ERROR: N: %i err:%i\n", count, code);
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
