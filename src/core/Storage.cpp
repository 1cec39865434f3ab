// The storage thread's queue: posting, coalescing, the reader's view of queued
// files, and the thread that carries the requests out.
#include "core/Storage.h"

#include "core/Setup.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/Watchdog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {

enum class Kind { Write, Append, Remove, Command, Job };

struct Request {
    Kind kind = Kind::Job;
    std::string lane;   // the file's path; "" for commands and jobs
    std::string bytes;  // a write's whole file, an append's new lines
    std::string header; // an append's first line of a new file
    std::string text;   // the command of a removal or a command
    std::string key;    // a job's: posts of one key coalesce
    mode_t mode = 0;
    StorageDone done;
    std::function<void()> job;
    bool busy = false; // being carried out: never changed meanwhile
    int64_t notBeforeMs = 0;
    int backoffMs = 0;
};

struct Queue {
    std::mutex m;
    std::condition_variable posted;  // a post, the end
    std::condition_variable changed; // a request left the queue or was tried
    std::list<Request> requests;     // in the order posted
    size_t jobs = 0;                 // commands and jobs among them
    bool threaded = false;           // a storage thread takes the requests
    bool ending = false;
    bool refusedLogged = false;
};

Queue g_q;
// Not watched (a slow card is what the thread is for), but under a root
// sim/hang-storage holds it, as a card that does not answer would.
Heartbeat g_beat("storage");
// Requests carried out at once (no thread) run one at a time, as on the thread;
// a job may post again from inside.
std::recursive_mutex g_directMut;

struct Outcome {
    int result = 0;
    bool retry = false;  // keep it queued for another try
    bool report = false; // call `done`
};

bool isJob(Kind k) { return k == Kind::Command || k == Kind::Job; }

Outcome append(const Request& r) {
    if (!RemountSetRw())
        return {-1, true, false};
    const std::string path = plat_path(r.lane.c_str());
    struct stat st;
    const bool fresh = stat(path.c_str(), &st) != 0;
    int err = plat_mount_check(r.lane.c_str());
    FILE* f = err == 0 ? std::fopen(path.c_str(), "a") : nullptr;
    if (f) {
        if (fresh)
            std::fputs(r.header.c_str(), f);
        std::fwrite(r.bytes.data(), 1, r.bytes.size(), f);
        std::fclose(f);
    } else if (err == 0) {
        err = errno ? errno : EIO;
    }
    RemountSetRo();
    return {f ? 0 : err, !f, true};
}

Outcome carryOut(const Request& r) {
    switch (r.kind) {
    case Kind::Write: {
        const int err = WriteSetFile(r.lane.c_str(), r.bytes.data(), r.bytes.size(), r.mode);
        return {err, err != 0, true};
    }
    case Kind::Append:
        return append(r);
    case Kind::Remove: {
        if (!RemountSetRw())
            return {-1, true, false};
        const int status = plat_system(r.text.c_str());
        RemountSetRo();
        return {status, false, true};
    }
    case Kind::Command:
        return {plat_system(r.text.c_str()), false, true};
    case Kind::Job:
        if (r.job)
            r.job();
        return {};
    }
    return {};
}

int direct(const Request& r) {
    std::lock_guard<std::recursive_mutex> hold(g_directMut);
    const Outcome o = carryOut(r);
    if (o.report && r.done)
        r.done(o.result);
    return o.result;
}

const char* describe(const Request& r) {
    return !r.lane.empty() ? r.lane.c_str() : r.kind == Kind::Command ? r.text.c_str() : r.key.c_str();
}

Request* lastOfLane(const std::string& lane) {
    for (auto it = g_q.requests.rbegin(); it != g_q.requests.rend(); ++it)
        if (it->lane == lane)
            return &*it;
    return nullptr;
}

// Under the lock: true when `r` joined a queued request instead.
bool coalesce(Request& r) {
    if (r.kind == Kind::Job) {
        if (r.key.empty())
            return false;
        for (const Request& q : g_q.requests)
            if (q.kind == Kind::Job && !q.busy && q.key == r.key)
                return true;
        return false;
    }
    if (r.kind != Kind::Write && r.kind != Kind::Append)
        return false;
    Request* last = lastOfLane(r.lane);
    if (!last || last->busy || last->kind != r.kind)
        return false;
    if (r.kind == Kind::Write) {
        last->bytes = std::move(r.bytes);
        last->mode = r.mode;
    } else {
        if (last->bytes.size() + r.bytes.size() > kStorageAppendMax)
            return false;
        last->bytes += r.bytes;
    }
    if (r.done)
        last->done = std::move(r.done);
    return true;
}

int post(Request r) {
    std::unique_lock<std::mutex> lock(g_q.m);
    if (!g_q.threaded) {
        lock.unlock();
        return direct(r);
    }
    if (coalesce(r))
        return 0;
    if (g_q.requests.size() >= kStorageQueueMax || (isJob(r.kind) && g_q.jobs >= kStorageJobsMax)) {
        if (!g_q.refusedLogged)
            LogErr("storage: queue full (%zu waiting), %s refused", g_q.requests.size(), describe(r));
        g_q.refusedLogged = true;
        return kStorageRefused;
    }
    g_q.refusedLogged = false;
    if (isJob(r.kind))
        g_q.jobs++;
    g_q.requests.push_back(std::move(r));
    g_q.posted.notify_one();
    return 0;
}

// Under the lock: the first request that may run now, with no earlier request
// of its lane still waiting; else nullptr and, in `*wakeAtMs`, when the first
// retry falls due (-1: none).
std::list<Request>::iterator pick(int64_t nowMs, int64_t* wakeAtMs) {
    std::vector<const std::string*> blocked;
    *wakeAtMs = -1;
    for (auto it = g_q.requests.begin(); it != g_q.requests.end(); ++it) {
        if (std::any_of(blocked.begin(), blocked.end(), [&](const std::string* l) { return *l == it->lane; }))
            continue;
        if (g_q.ending || it->notBeforeMs <= nowMs)
            return it;
        blocked.push_back(&it->lane);
        if (*wakeAtMs < 0 || it->notBeforeMs < *wakeAtMs)
            *wakeAtMs = it->notBeforeMs;
    }
    return g_q.requests.end();
}

void waitProgramMs(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, int64_t programMs) {
    cv.wait_for(lock, std::chrono::milliseconds(plat_real_ms(static_cast<int>(std::min<int64_t>(programMs, 3600000)))));
}

} // namespace

int StorageWrite(const char* path, std::string bytes, mode_t forceMode, StorageDone done) {
    Request r;
    r.kind = Kind::Write;
    r.lane = path;
    r.bytes = std::move(bytes);
    r.mode = forceMode;
    r.done = std::move(done);
    return post(std::move(r));
}

int StorageAppend(const char* path, std::string text, std::string header, StorageDone done) {
    Request r;
    r.kind = Kind::Append;
    r.lane = path;
    r.bytes = std::move(text);
    r.header = std::move(header);
    r.done = std::move(done);
    return post(std::move(r));
}

int StorageRemove(const char* path, std::string command, StorageDone done) {
    Request r;
    r.kind = Kind::Remove;
    r.lane = path;
    r.text = std::move(command);
    r.done = std::move(done);
    return post(std::move(r));
}

int StorageCommand(std::string command, StorageDone done) {
    Request r;
    r.kind = Kind::Command;
    r.text = std::move(command);
    r.done = std::move(done);
    return post(std::move(r));
}

int StorageJob(const char* key, std::function<void()> job) {
    Request r;
    r.kind = Kind::Job;
    r.key = key ? key : "";
    r.job = std::move(job);
    return post(std::move(r));
}

StorageView StoragePending(const char* path, std::string* bytes, mode_t* mode) {
    std::lock_guard<std::mutex> lock(g_q.m);
    const Request* last = lastOfLane(path);
    if (!last || last->kind == Kind::Append)
        return StorageView::Disk; // appended files are not read back by the panel
    if (last->kind == Kind::Remove)
        return StorageView::Removed;
    if (bytes)
        *bytes = last->bytes;
    if (mode)
        *mode = last->mode;
    return StorageView::Bytes;
}

FILE* StorageOpenRead(const char* path, std::string* keep) {
    switch (StoragePending(path, keep)) {
    case StorageView::Removed:
        errno = ENOENT;
        return nullptr;
    case StorageView::Bytes:
        return fmemopen(keep->data(), keep->size(), "r");
    case StorageView::Disk:
        break;
    }
    return std::fopen(plat_path(path).c_str(), "r");
}

void StorageBegin() {
    std::lock_guard<std::mutex> lock(g_q.m);
    g_q.threaded = true;
    g_q.ending = false;
}

void StorageRun(Works*) {
    LogInfo("Storage thread started");
    std::unique_lock<std::mutex> lock(g_q.m);
    for (;;) {
        lock.unlock();
        plat_heartbeat(g_beat); // never under the lock: posts go on while held
        lock.lock();
        const int64_t now = plat_mono_ms();
        int64_t wakeAt = -1;
        const auto next = pick(now, &wakeAt);
        if (next == g_q.requests.end()) {
            if (g_q.ending && g_q.requests.empty())
                break;
            if (wakeAt >= 0)
                waitProgramMs(lock, g_q.posted, wakeAt - now);
            else
                g_q.posted.wait(lock);
            continue;
        }
        Request& r = *next;
        r.busy = true;
        lock.unlock();
        const Outcome o = carryOut(r);
        if (o.report && r.done)
            r.done(o.result);
        lock.lock();
        r.busy = false;
        if (o.retry && !g_q.ending) {
            r.backoffMs = r.backoffMs == 0 ? kStorageRetryFirstMs : std::min(2 * r.backoffMs, kStorageRetryMaxMs);
            r.notBeforeMs = plat_mono_ms() + r.backoffMs;
        } else {
            if (o.retry)
                LogErr("storage: %s not written before the end", describe(r));
            if (isJob(r.kind))
                g_q.jobs--;
            g_q.requests.erase(next);
        }
        g_q.changed.notify_all();
    }
    g_q.threaded = false;
    g_q.ending = false;
    g_q.changed.notify_all();
    lock.unlock();
    LogInfo("Storage operations end");
}

void StorageEnd() {
    std::lock_guard<std::mutex> lock(g_q.m);
    g_q.ending = true;
    g_q.posted.notify_all();
}

void StorageAbandon() {
    std::list<Request> left;
    {
        std::lock_guard<std::mutex> lock(g_q.m);
        g_q.threaded = false;
        g_q.ending = false;
        g_q.jobs = 0;
        left.swap(g_q.requests);
        g_q.changed.notify_all();
    }
    for (const Request& r : left)
        direct(r);
}

size_t StorageQueued() {
    std::lock_guard<std::mutex> lock(g_q.m);
    return g_q.requests.size();
}

bool StorageIdle(int timeoutMs) {
    const int64_t end = plat_mono_ms() + timeoutMs;
    std::unique_lock<std::mutex> lock(g_q.m);
    while (!g_q.requests.empty()) {
        const int64_t left = end - plat_mono_ms();
        if (left <= 0)
            return false;
        waitProgramMs(lock, g_q.changed, std::min<int64_t>(left, 100));
    }
    return true;
}
