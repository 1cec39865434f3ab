// Thread starters, remote-service start and stop, the remote shell.
#include "core/Threads.h"

#include "amp/Alarms.h"
#include "amp/Linear.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "remote/Wsocket.h"
#include "remote/th_leggi.h"
#include "remote/th_scrivi.h"
#include "trx/Serial.h"
#include "trx/TavRead.h"
#include "tuner/CAT.h"
#include "tuner/CATserial.h"

#include <cstdio>

std::thread thrGPIO, thrLin, thrTime, thrKey, thrWsock, thrSer, thrCat, thrCatSer, thrFFT, thrLeggi,
    thrScrivi, thInit, thAggFw;

namespace {

// The generation of each handle: bumped by every start, remembered by the thread.
struct Slot {
    std::thread* handle;
    Shared<unsigned> generation;
};
Slot g_slots[] = {{&thrGPIO, {}},  {&thrLin, {}},   {&thrTime, {}},   {&thrKey, {}},
                  {&thrWsock, {}}, {&thrSer, {}},   {&thrCat, {}},    {&thrCatSer, {}},
                  {&thrFFT, {}},   {&thrLeggi, {}}, {&thrScrivi, {}}, {&thInit, {}},
                  {&thAggFw, {}}};
thread_local Slot* t_slot = nullptr;
thread_local unsigned t_generation = 0;

Slot* slotOf(std::thread& handle) {
    for (Slot& s : g_slots)
        if (s.handle == &handle)
            return &s;
    return nullptr;
}

} // namespace

bool ThreadStillWanted() { return !t_slot || t_slot->generation == t_generation; }

void StartThread(std::thread& handle, void (*body)(Works*), Works* works) {
    Slot* slot = slotOf(handle);
    if (slot)
        slot->generation++;
    JoinThread(handle);
    const unsigned generation = slot ? slot->generation.load() : 0;
    try {
        handle = std::thread([=] {
            t_slot = slot;
            t_generation = generation;
            body(works);
        });
    } catch (const std::system_error&) {
        // A thread that cannot be created is not reported; start-up goes on.
    }
}

bool JoinThread(std::thread& handle) {
    if (!handle.joinable())
        return false;
    handle.join();
    return true;
}

void StartThreadLinear(Works* w) {
    if (w->setup->EnableLinear == '1')
        StartThread(thrLin, Linear, w);
}

void StartThreadSoket(Works* w) {
    if (w->setup->WebSocket == '1') {
        std::fprintf(stderr, ">>>>>>>>>> SOCKET SERVER start\n");
        StartThread(thrWsock, Wsocket, w);
    } else if (w->setup->WebSocket == '2') {
        std::fprintf(stderr, ">>>>>>>>>> SOCKET CLIENT start\n");
        StartThread(thrWsock, Wclient, w);
    }
}

void StartThreadTAV(Works* w) {
    if (w->setup->serialLinkEnabled == '1') {
        std::fprintf(stderr, "TAVread start\n");
        StartThread(thrSer, Serial, w);
    }
}

void StartThreadAudioWrite(Works* w) {
    if (w->setup->EnableWrite == '1') {
        std::fprintf(stderr, "Th_scrivi start\n");
        StartThread(thrScrivi, th_scrivi, w);
    }
}

void StartThreadAudioRead(Works* w) {
    if (w->setup->EnableRead == '1') {
        std::fprintf(stderr, "Th_leggi start\n");
        StartThread(thrLeggi, th_leggi, w);
    }
}

void StartThreadCAT(Works* w) {
    if (w->setup->EnableCAT == '1') {
        std::fprintf(stderr, "Cat.c start\n");
        StartThread(thrCat, Cat, w);
    }
}

void StartTavReadFFT(Works* w) {
    if (w->setup->EnableFFT == '1')
        StartThread(thrFFT, TAVRead, w);
}

void StartThreadCATserial(Works* w) {
    if (w->setup->catSerialEnabled == '1')
        StartThread(thrCatSer, CatSerial, w);
}

void StartThreadCommRemote(Works* w) {
    SetupRecord* s = w->setup;
    w->remoteRestart = 0;
    struct Service {
        Flag* flag;
        void (*start)(Works*);
    } services[] = {{&s->EnableWrite, StartThreadAudioWrite},
                    {&s->EnableRead, StartThreadAudioRead},
                    {&s->EnableCAT, StartThreadCAT},
                    {&s->EnableFFT, StartTavReadFFT}};
    for (Service& sv : services) {
        if (*sv.flag == '0') {
            *sv.flag = '1';
            sv.start(w);
        }
    }
    writeSetup(w);
    w->panelCmd = 0x95;
}

void ExitThreadRemote(Works* w) {
    SetupRecord* s = w->setup;
    s->EnableWrite = '0';
    s->EnableRead = '0';
    s->EnableCAT = '0';
    s->EnableFFT = '0';
    // The four threads watch their flag and end.
    plat_sleep_ms(500);
    for (int code : {9, 10, 5, 20})
        DeleteErrore(w, code);
    writeSetup(w);
    w->panelCmd = 0xA5;
    std::fprintf(stderr, ">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
}

void RemoteConnection() {
    std::fprintf(stderr, "launching ssh\n");
    LogInfo("launching ssh");
    plat_system("/opt/sshshell");
    LogInfo("launched ssh");
}

void SleepWhileRunning(Works* w, int ms) {
    const int64_t end = plat_mono_ms() + ms;
    while (w->running) {
        int64_t left = end - plat_mono_ms();
        if (left <= 0)
            return;
        plat_sleep_ms(left < 200 ? left : 200);
    }
}
