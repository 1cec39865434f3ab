// Thread starters and the remote-service start and stop.
#include "app/Threads.h"

#include "core/AlarmList.h"
#include "amp/Linear.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Clock.h"
#include "remote/AmpctlServer.h"
#include "remote/Wsocket.h"
#include "remote/th_leggi.h"
#include "remote/th_scrivi.h"
#include "trx/Serial.h"
#include "trx/TavRead.h"
#include "tuner/CAT.h"
#include "tuner/CATserial.h"
#include "tuner/Hamlib.h"
#include "web/Console.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {
// The program's threads, then the subsystems' jobs (core/Services.h).
constexpr int kThreadCount = static_cast<int>(Thread::Ampctl) + 1;
ThreadSlot g_slots[kThreadCount + kPeerJobs + 2];
} // namespace

ThreadSlot& SlotOf(Thread thread) { return g_slots[static_cast<int>(thread)]; }

bool StartWorker(ThreadSlot& slot, const char* name, void (*body)(Works*), Works* w) {
    return StartThread(slot, name, [body, w] { body(w); });
}

// A link that could not get its thread shows its device-error page, whose retry
// key tries again.
void StartThreadLinear(Works* w) {
    if (w->setup->EnableLinear == '1' && !StartWorker(SlotOf(Thread::Link), "link", Linear, w))
        RaiseDeviceError(w, kDevErrLinear, "Linear: cannot start thread");
}

void StartThreadSoket(Works* w) {
    if (w->setup->WebSocket == '1') {
        LogOut(">>>>>>>>>> SOCKET SERVER start\n");
        StartWorker(SlotOf(Thread::Socket), "ws-server", Wsocket, w);
    } else if (w->setup->WebSocket == '2') {
        LogOut(">>>>>>>>>> SOCKET CLIENT start\n");
        StartWorker(SlotOf(Thread::Socket), "ws-client", Wclient, w);
    }
}

void StartThreadTAV(Works* w) {
    if (w->setup->serialLinkEnabled == '1') {
        LogOut("TAVread start\n");
        if (!StartWorker(SlotOf(Thread::TrxSerial), "trx-serial", Serial, w))
            RaiseDeviceError(w, kDevErrSerial, "Serial: cannot start thread");
    }
}

void StartThreadAudioWrite(Works* w) {
    if (w->setup->EnableWrite == '1') {
        LogOut("Th_scrivi start\n");
        if (!StartWorker(SlotOf(Thread::AudioOut), "audio-out", th_scrivi, w))
            AddErrore(w, kAlarmAudioWrite);
    }
}

void StartThreadAudioRead(Works* w) {
    if (w->setup->EnableRead == '1') {
        LogOut("Th_leggi start\n");
        if (!StartWorker(SlotOf(Thread::AudioIn), "audio-in", th_leggi, w))
            AddErrore(w, kAlarmAudioRead);
    }
}

void StartThreadCAT(Works* w) {
    if (w->setup->EnableCAT == '1') {
        LogOut("Cat.c start\n");
        if (!StartWorker(SlotOf(Thread::CatRelay), "cat-relay", Cat, w))
            AddErrore(w, kAlarmRemoteCat);
    }
}

void StartTavReadFFT(Works* w) {
    if (w->setup->EnableFFT == '1' && !StartWorker(SlotOf(Thread::UsbRx), "usb-rx", TAVRead, w))
        RaiseDeviceError(w, kDevErrUsb, "TAVRead: cannot start thread");
}

void StartThreadCATserial(Works* w) {
    if (w->setup->catSerialEnabled == '1' && !StartWorker(SlotOf(Thread::Ft817), "ft817", CatSerial, w))
        RaiseDeviceError(w, kDevErrCat, "CAT: cannot start thread");
}

void StartThreadWeb(Works* w) {
    if (SettingNumber(w, "WebPort") > 0 && !StartWorker(SlotOf(Thread::Web), "web", WebConsole, w))
        LogErr("web: cannot start the console's thread");
}

void StartThreadAmpctl(Works* w) {
    if (SettingNumber(w, "AmpctlPort") > 0 && !StartWorker(SlotOf(Thread::Ampctl), "ampctl", AmpctlServe, w))
        LogErr("ampctl: cannot start the server's thread");
}

void StartThreadStorage(Works* w) {
    StorageBegin();
    if (!StartWorker(SlotOf(Thread::Storage), "storage", StorageRun, w)) {
        // The others then write and run their commands themselves, as at start-up.
        LogErr("storage: no thread, files are written by their callers");
        StorageAbandon();
    }
}

void StopThreadStorage() {
    StorageEnd();
    JoinThread(SlotOf(Thread::Storage));
}

void StartThreadHamlib(Works* w) {
    if (w->source[kModeHamlib].run == '1' && !StartWorker(SlotOf(Thread::Hamlib), "hamlib", HamlibRig, w))
        RaiseDeviceError(w, kDevErrCat, "Hamlib: cannot start thread");
}

namespace {

// The remote services' switch: one at a time, whoever flips it (the menu,
// start-up, the reset key after a failure).
std::mutex g_remoteMut;

struct RemoteService {
    Flag SetupRecord::*flag;
    void (*start)(Works*);
    Thread thread;
    const char* restartLine; // what the reset key's restart says, if anything
};
const RemoteService kRemoteServices[] = {
    {&SetupRecord::EnableWrite, StartThreadAudioWrite, Thread::AudioOut, "start audio write\n"},
    {&SetupRecord::EnableRead, StartThreadAudioRead, Thread::AudioIn, "start audio read\n"},
    {&SetupRecord::EnableCAT, StartThreadCAT, Thread::CatRelay, nullptr},
    {&SetupRecord::EnableFFT, StartTavReadFFT, Thread::UsbRx, nullptr},
};

// Starts those whose flag is off, turning it on: a service that failed turned
// its own flag off before asking for the restart.
void startThoseOff(Works* w, bool restartLines) {
    for (const RemoteService& sv : kRemoteServices) {
        Flag& flag = w->setup->*sv.flag;
        if (flag != '0')
            continue;
        flag = '1';
        if (restartLines && sv.restartLine)
            LogOut("%s", sv.restartLine);
        sv.start(w);
    }
}

void switchRemote(Works* w, RemoteSwitch how) {
    std::lock_guard<std::mutex> lock(g_remoteMut);
    switch (how) {
    case RemoteSwitch::Resume:
        // A unit that was in remote operation comes back in it: the services
        // whose flag is on start here, StartThreadCommRemote turns on the rest.
        for (const RemoteService& sv : kRemoteServices)
            if (w->setup->*sv.flag == '1' && !ThreadRunning(SlotOf(sv.thread)))
                sv.start(w);
        StartThreadCommRemote(w);
        break;
    case RemoteSwitch::On:
        StartThreadCommRemote(w);
        break;
    case RemoteSwitch::Off:
        ExitThreadRemote(w);
        break;
    case RemoteSwitch::Restart:
        if (w->remoteEnabled != 1 || w->remoteRestart != 1)
            return;
        LogOut(">>> RESTART REMOTE!\n");
        w->remoteRestart = 0;
        startThoseOff(w, true);
        break;
    }
}

void startService(Works* w, Service service) {
    static const struct {
        Service service;
        void (*start)(Works*);
    } kStarters[] = {
        {Service::Linear, StartThreadLinear},       {Service::Socket, StartThreadSoket},
        {Service::TrxSerial, StartThreadTAV},       {Service::Ft817, StartThreadCATserial},
        {Service::AudioWrite, StartThreadAudioWrite}, {Service::AudioRead, StartThreadAudioRead},
        {Service::CatRelay, StartThreadCAT},        {Service::UsbRx, StartTavReadFFT},
        {Service::Hamlib, StartThreadHamlib},       {Service::Ampctl, StartThreadAmpctl},
    };
    for (const auto& s : kStarters)
        if (s.service == service)
            s.start(w);
}

// The slots of the subsystems' own work: the peers', then the guard's.
ThreadSlot* jobSlot(Job job, int index) {
    if (job == Job::WebGuard)
        return index == 0 ? &g_slots[kThreadCount + kPeerJobs] : nullptr;
    if (job == Job::TxLimit)
        return index == 0 ? &g_slots[kThreadCount + kPeerJobs + 1] : nullptr;
    return index >= 0 && index < kPeerJobs ? &g_slots[kThreadCount + index] : nullptr;
}

bool startJob(Job job, int index, std::function<void()> body) {
    ThreadSlot* slot = jobSlot(job, index);
    if (!slot) {
        LogErr("job %d: no slot %d", static_cast<int>(job), index);
        return false;
    }
    const char* name = job == Job::Peer ? "ws-peer" : job == Job::WebGuard ? "web-guard" : "tx-limit";
    return StartThread(*slot, name, std::move(body));
}

void stopJob(Job job, int index) {
    if (ThreadSlot* slot = jobSlot(job, index))
        StopThread(*slot);
}

const ServiceHooks kHooks{startService, switchRemote, startJob, stopJob};

} // namespace

void InstallServiceHooks() { SetServiceHooks(&kHooks); }

void StartThreadCommRemote(Works* w) {
    w->remoteRestart = 0;
    startThoseOff(w, false);
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
    for (int code : {kAlarmAudioRead, kAlarmAudioWrite, kAlarmRemoteUsb, kAlarmRemoteCat})
        DeleteErrore(w, code);
    writeSetup(w);
    w->panelCmd = 0xA5;
    LogOut(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
}
