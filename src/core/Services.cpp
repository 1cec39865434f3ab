// The table of starters the top layer hands down.
#include "core/Services.h"

#include "platform/Log.h"

#include <atomic>
#include <utility>

namespace {
std::atomic<const ServiceHooks*> g_hooks{nullptr};
} // namespace

void SetServiceHooks(const ServiceHooks* hooks) { g_hooks = hooks; }

void StartService(Works* works, Service service) {
    const ServiceHooks* h = g_hooks.load();
    if (!h || !h->start) {
        LogErr("service %d: no starter", static_cast<int>(service));
        return;
    }
    h->start(works, service);
}

bool StartJob(Job job, int index, std::function<void()> body) {
    const ServiceHooks* h = g_hooks.load();
    if (!h || !h->startJob) {
        LogErr("job %d: no starter", static_cast<int>(job));
        return false;
    }
    return h->startJob(job, index, std::move(body));
}

void StopJob(Job job, int index) {
    const ServiceHooks* h = g_hooks.load();
    if (h && h->stopJob)
        h->stopJob(job, index);
}

void SwitchRemoteServices(Works* works, RemoteSwitch how) {
    const ServiceHooks* h = g_hooks.load();
    if (!h || !h->remote) {
        LogErr("remote services: no switch");
        return;
    }
    h->remote(works, how);
}
