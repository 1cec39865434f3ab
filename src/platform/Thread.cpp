// Thread slots: each start is a run that waits for the run before it.
#include "platform/Thread.h"

#include "platform/Log.h"

#include <algorithm>
#include <condition_variable>
#include <pthread.h>
#include <string>
#include <system_error>
#include <thread>

// One start of a slot. Its std::thread is joined exactly once, by whoever
// claims it first: the next run of the slot or JoinThread.
struct ThreadRun {
    std::thread thread;
    std::mutex m;
    std::condition_variable cv;
    bool done = false; // the body has returned; guarded by m
    std::atomic<bool> claimed{false};
};

namespace {

std::atomic<bool> g_closing{false};
thread_local ThreadSlot* t_slot = nullptr;
thread_local unsigned t_generation = 0;

void finish(ThreadRun& run) {
    std::lock_guard<std::mutex> lock(run.m);
    run.done = true;
    run.cv.notify_all();
}

void waitDone(ThreadRun& run) {
    std::unique_lock<std::mutex> lock(run.m);
    run.cv.wait(lock, [&] { return run.done; });
}

// Waits until the run's body has returned, then joins its thread unless
// someone else has taken that join.
void reap(ThreadRun& run) {
    waitDone(run);
    if (!run.claimed.exchange(true))
        run.thread.join();
}

std::shared_ptr<ThreadRun> currentRun(ThreadSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.mu);
    return slot.current;
}

} // namespace

ThreadSlot::~ThreadSlot() {
    // Only at the program's exit, after the joins: a thread that was never
    // joined must not end the process from its handle's destructor.
    if (current && current->thread.joinable() && !current->claimed.exchange(true))
        current->thread.detach();
}

bool StartThread(ThreadSlot& slot, const char* name, std::function<void()> body) {
    if (g_closing) {
        LogInfo("program ending: thread %s not started", name);
        return false;
    }
    std::lock_guard<std::mutex> lock(slot.mu);
    const unsigned generation = ++slot.generation; // the running thread is no longer wanted
    std::shared_ptr<ThreadRun> previous = slot.current;
    auto run = std::make_shared<ThreadRun>();
    try {
        std::string threadName(name ? name : "");
        threadName.resize(std::min<size_t>(threadName.size(), 15)); // the kernel keeps 15
        run->thread = std::thread([&slot, previous, run, generation, threadName, body = std::move(body)] {
            // top -H and /proc/PID/task/*/comm tell the threads apart by this.
            pthread_setname_np(pthread_self(), threadName.c_str());
            if (previous)
                reap(*previous); // never two threads of one slot at once
            // A newer start may have come while we waited: it runs instead.
            if (slot.generation.load() == generation) {
                t_slot = &slot;
                t_generation = generation;
                body();
            }
            finish(*run);
        });
    } catch (const std::system_error&) {
        slot.generation.store(generation - 1); // the running one is wanted again
        LogErr("cannot start thread %s", name);
        return false;
    }
    slot.current = std::move(run);
    return true;
}

bool ThreadStillWanted() { return !t_slot || t_slot->generation.load() == t_generation; }

bool JoinThread(ThreadSlot& slot) {
    if (t_slot == &slot)
        return false; // a thread of the slot would wait for itself or its successor
    std::shared_ptr<ThreadRun> run = currentRun(slot);
    if (!run)
        return false;
    reap(*run);
    return true;
}

void StopThread(ThreadSlot& slot) {
    if (t_slot == &slot)
        return;
    {
        std::lock_guard<std::mutex> lock(slot.mu);
        ++slot.generation;
    }
    JoinThread(slot);
}

bool ThreadRunning(ThreadSlot& slot) {
    std::shared_ptr<ThreadRun> run = currentRun(slot);
    if (!run)
        return false;
    std::lock_guard<std::mutex> lock(run->m);
    return !run->done;
}

void plat_threads_closing() { g_closing = true; }

bool plat_threads_are_closing() { return g_closing; }
