// Thread slots: one per function of the program (the amplifier link, the keys,
// the transceiver link...), started, restarted, stopped and joined from any
// thread.
//
// A start never waits and never joins under a lock: the new thread itself first
// waits until the slot's previous thread has ended, so two threads of one slot
// never run at once, and a thread may restart its own slot. The previous thread
// learns that it is no longer wanted through ThreadStillWanted() and ends at its
// next look. A thread that cannot be created is reported, not thrown.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

struct ThreadRun;

struct ThreadSlot {
    std::mutex mu;
    std::shared_ptr<ThreadRun> current; // the newest start; guarded by mu
    std::atomic<unsigned> generation{0};

    ThreadSlot() = default;
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;
    ~ThreadSlot();
};

// Starts `body` in the slot as a thread called `name` (at most 15 characters
// are kept: "link", "keys", "ws-server"...); the slot's earlier thread, if one still runs, is
// asked to end and the new one waits for it. False when the thread could not be
// created ("cannot start thread %s" is logged at error level) or the program is
// ending; the caller reports the failure its own way.
bool StartThread(ThreadSlot& slot, const char* name, std::function<void()> body);
// False once a newer start of the calling thread's slot has been asked for, or
// StopThread was called for it; loops that watch an enable byte also watch this.
// True on threads that no slot started.
bool ThreadStillWanted();
// Waits for the slot's newest thread to end. False when none was started, or
// when called from a thread of the slot itself (it cannot wait for itself).
bool JoinThread(ThreadSlot& slot);
// Asks the slot's thread to end and waits for it (except from itself).
void StopThread(ThreadSlot& slot);
// True while the slot's newest thread has not ended.
bool ThreadRunning(ThreadSlot& slot);
// From the start of the shutdown on, no slot starts a thread any more, so that
// nothing runs past the joins.
void plat_threads_closing();
bool plat_threads_are_closing();
