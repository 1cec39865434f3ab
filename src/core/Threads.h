// The worker threads: their handles, starters and the remote-service switches.
//
// Each starter checks its own condition in the setup record, so calling it while
// the service is disabled does nothing. Handles are kept for the ordered join at
// shutdown.
#pragma once

#include <thread>

struct Works;

extern std::thread thrGPIO, thrLin, thrTime, thrKey, thrWsock, thrSer, thrCat, thrCatSer, thrFFT,
    thrLeggi, thrScrivi, thInit, thAggFw;

// Starts `body` into `handle`. A thread still held by the handle, from an
// earlier start, is asked to end (ThreadStillWanted turns false for it) and
// joined first, so a service switched off and on again quickly never runs twice
// and never blocks the restart.
void StartThread(std::thread& handle, void (*body)(Works*), Works* works);
// False once a newer start of the calling thread's handle has been asked for;
// loops that watch an enable byte also watch this.
bool ThreadStillWanted();
// Joins `handle` if it holds a thread; true when a thread was joined.
bool JoinThread(std::thread& handle);

void StartThreadLinear(Works* works);
void StartThreadSoket(Works* works);
void StartThreadTAV(Works* works);
void StartThreadAudioWrite(Works* works);
void StartThreadAudioRead(Works* works);
void StartThreadCAT(Works* works);
void StartTavReadFFT(Works* works);
void StartThreadCATserial(Works* works);

// Turns on the remote services (audio write, audio read, CAT, spectrum) that are
// off, and stores the new state in the setup file.
void StartThreadCommRemote(Works* works);
// Turns them off and stores the new state.
void ExitThreadRemote(Works* works);
// Runs the remote service shell and waits for it.
void RemoteConnection();

// Sleeps up to `ms` milliseconds, waking early once `running` is cleared.
void SleepWhileRunning(Works* works, int ms);
