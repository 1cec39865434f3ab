// The ordered list of active alarms.
//
// Alarms are raised and removed from several threads (link, tuning, refresh,
// remote, keys). The list is a few ints updated as a whole, so its updates take
// one small lock of their own; nothing else is held or called while it is held.
#include "amp/Alarms.h"

#include "amp/CmdQueue.h"
#include "app/Threads.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "ui/Graph.h"
#include "ui/Keys.h"
#include "ui/TTF.h"

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
    std::fprintf(stderr, "Add: N: %i err:%i\n", count, code);
    uint8_t flags = w->errorTable[code].flags;
    if ((flags & 2) && !(w->errorFlags.set(1) & 1))
        std::fprintf(stderr, " -->set protezione 0x%x\n", w->errorFlags.load());
    if ((flags & 4) && !(w->errorFlags.set(4) & 4))
        std::fprintf(stderr, " -->tasto reset errore 0x%x\n", w->errorFlags.load());
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
};

// Removes every active alarm whose flags match `mask` (all of them for mask 0).
void removeMatching(Works* w, uint8_t mask) {
    int codes[kMaxActiveErrors];
    int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    for (int i = 0; i < n; i++) {
        if (mask && !(w->errorTable[codes[i]].flags & mask))
            continue;
        std::fprintf(stderr, "Del temp err: %i (%i , %i)\n", codes[i], i, n);
        DeleteErrore(w, codes[i]);
    }
}

constexpr int kKeySlots[6][2] = {{5, 130}, {133, 263}, {266, 396}, {399, 529}, {532, 662}, {665, 795}};

} // namespace

void InitErrorTable(Works* w) {
    for (int i = 0; i < kAlarmCodes; i++) {
        w->errorTable[i].flags = kAlarmTexts[i].flags;
        w->errorTable[i].line1.set(kAlarmTexts[i].line1);
        w->errorTable[i].line2.set(kAlarmTexts[i].line2);
    }
}

int GPIO_Errori(Works* w) {
    if (w->errorFlags.load() != 0) {
        std::fprintf(stderr, "----------> 1- ERRORI!!\n");
        GestErrore(w);
        return 1;
    }
    if (ExistAnError(w) < 0)
        return 0;
    std::fprintf(stderr, "----------> 2- ERRORI!!\n");
    GestErroreRemote(w);
    if (ExistAnError(w) == 2)
        return 0; // the over-temperature is still there
    VerificaEsistonoErrori(w);
    return 1;
}

void GestErrore(Works* w) {
    std::fprintf(stderr, ">>> ERRORI: GestErrore\n");
    if (w->errorFlags.test(1)) {
        std::fprintf(stderr, ">>> ERRORI: ResetBiasCmd\n");
        ResetBiasCmd(w);
        w->cmdQueueDrain = 1;
        w->errorResetPhase = 1;
    } else if (w->errorFlags.test(4)) {
        VerifyWarningTemporanei(w);
        w->errorFlags.clear(4);
    } else if (ExistAnError(w) >= 0) {
        std::fprintf(stderr, ">>> ERRORI2: VerificaEsistonoErrori\n");
        VerificaEsistonoErrori(w);
    }
    GestErroreRemote(w);
}

void ResetBiasCmd(Works* w) {
    if (w->ampFault != 0 || (w->ampStatus2 & 2)) {
        IncPNTIn_CMDLinear(kCmdClearProt, w);
        std::fprintf(stderr, ">>> ERRORI: RESET Protezione AMPL!\n");
    }
    if (w->ampFault & 0x80)
        InitMicroCmd(w);
    IncPNTIn_CMDLinear(kCmdProtOff, w);
    IncPNTIn_CMDLinear(w->ampBypass ? kCmdBypassOn : kCmdBypassOff, w);
    IncPNTIn_CMDLinear(kCmdAtt, w);
}

void ClearDisplayError(Works* w) {
    w->errorFlags.set(2);
    for (int code : {12, 13, 14})
        DeleteErrore(w, code);
    std::fprintf(stderr, " -->reset protezione %c\n", static_cast<char>(w->ampStatus2.load()));
}

void VerifyWarningTemporanei(Works* w) { removeMatching(w, 4); }

void VerifyWarningTemporaneiDopoResetBias(Works* w) { removeMatching(w, 0); }

void VerificaEsistonoErrori(Works* w) {
    int oldest = ExistAnError(w);
    if (oldest < 0)
        return;
    std::fprintf(stderr, "FOUND ERR: %d \n", oldest);
    ResetBiasCmd(w);
    removeMatching(w, 0);
}

void GestErroreSerial(Works* w) {
    ClearDisplayError(w);
    if (w->errorFlags.test(1))
        VerifyWarningTemporaneiDopoResetBias(w);
    if (w->errorFlags.test(4)) {
        VerifyWarningTemporanei(w);
        w->errorFlags.clear(4);
    }
    if (ExistAnError(w) >= 0)
        VerificaEsistonoErrori(w);
}

void GestErroreRemote(Works* w) {
    SetupRecord* s = w->setup;
    std::fprintf(stderr, ">>> RESTART REMOTE: %i %i audio %x %x\n", w->remoteEnabled.load(),
                 w->remoteRestart.load(), static_cast<unsigned>(s->EnableWrite.load()),
                 static_cast<unsigned>(s->EnableRead.load()));
    if (w->remoteEnabled != 1 || w->remoteRestart != 1)
        return;
    std::fprintf(stderr, ">>> RESTART REMOTE!\n");
    w->remoteRestart = 0;
    if (s->EnableWrite == '0') {
        s->EnableWrite = '1';
        std::fprintf(stderr, "start audio write\n");
        StartThreadAudioWrite(w);
    }
    if (s->EnableRead == '0') {
        s->EnableRead = '1';
        std::fprintf(stderr, "start audio read\n");
        StartThreadAudioRead(w);
    }
    if (s->EnableCAT == '0') {
        s->EnableCAT = '1';
        StartThreadCAT(w);
    }
    if (s->EnableFFT == '0') {
        s->EnableFFT = '1';
        StartTavReadFFT(w);
    }
}

void DrawTastoErrore(Works* w, int x1, int x2, int index) {
    int codes[kMaxActiveErrors];
    int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    if (index < 0 || index >= n)
        return;
    const ErrorEntry& e = w->errorTable[codes[index]];
    const bool error = e.flags & 1;
    const uint8_t r = error ? 255 : 250, g = error ? 30 : 150, b = 0;
    FrameBuffer* fb = w->fb;
    for (int y = 370; y <= 414; y++)
        DrawHorizontalLine(x1, y, x2, r, g, b, fb, 0);
    DrawLine(x1, 370, x1, 415, 255, 255, 255, fb, 0);
    DrawLine(x2, 370, x2, 415, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x1 + 1, 370, x2 + 1, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x1 + 1, 415, x2 + 1, 255, 255, 255, fb, 0);
    putString(10, x1 + 4, 390, e.line1.get().s, 250, 250, 250, fb);
    putString(10, x1 + 4, 410, e.line2.get().s, 250, 250, 250, fb);
}

void DrawError(Works* w) {
    // Menus and the status page cover the keys' place.
    if (w->viewFlags.load() != 0 || w->keyPage == kPageMenuChoose || w->keyPage == kPageMenuEdit)
        return;
    int codes[kMaxActiveErrors];
    int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    if (n == 0)
        return;
    const int shown = n < 6 ? n : 6;
    for (int k = 0; k < shown; k++)
        DrawTastoErrore(w, kKeySlots[k][0], kKeySlots[k][1], n > 6 ? n - 6 + k : k);
}
