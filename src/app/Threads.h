// The worker threads: their slots, starters and the remote services' switch.
//
// Each starter checks its own condition in the setup record, so calling it while
// the service is disabled does nothing. Starters may be called from any thread;
// a start while the function's thread still runs restarts it (the old thread
// ends first). The slots are kept for the ordered join at shutdown.
#pragma once

#include "platform/Thread.h"

struct Works;

// The program's threads, one slot each: started, restarted and joined by name.
enum class Thread {
    Gpio, Link, Refresh, Keyboard, Socket, TrxSerial, CatRelay, Ft817, UsbRx, AudioIn, AudioOut,
    Splash, FwUpdate, Hamlib, Web, Storage, Ampctl,
};
ThreadSlot& SlotOf(Thread thread);

// Starts `body(works)` in `slot` under the thread name `name`; false when it
// could not be created (logged).
bool StartWorker(ThreadSlot& slot, const char* name, void (*body)(Works*), Works* works);

void StartThreadLinear(Works* works);
void StartThreadSoket(Works* works);
void StartThreadTAV(Works* works);
void StartThreadAudioWrite(Works* works);
void StartThreadAudioRead(Works* works);
void StartThreadCAT(Works* works);
void StartTavReadFFT(Works* works);
void StartThreadCATserial(Works* works);
void StartThreadHamlib(Works* works);
// The browser console, when the setup gives it a port.
void StartThreadWeb(Works* works);
// The amplifier protocol's server, when the setup gives it a port: on the
// station its own amplifier, on the operator's unit the station's.
void StartThreadAmpctl(Works* works);
// The storage thread (core/Storage.h): first of the threads, so that from then
// on every write under /opt/set and every command is its work; stopped last,
// after it has carried out what the others queued.
void StartThreadStorage(Works* works);
void StopThreadStorage();

// Hands the starters and the remote services' switch down to the subsystems
// (core/Services.h): start-up does it before any thread starts.
void InstallServiceHooks();

// The two halves of the remote services' switch (SwitchRemoteServices, under
// its lock): turns on the services (audio write, audio read, CAT, spectrum)
// that are off, or all of them off, and stores the new state in the setup file.
void StartThreadCommRemote(Works* works);
void ExitThreadRemote(Works* works);
