// The table of starters the top layer hands down.
#include "core/Services.h"

#include "platform/Log.h"

#include <atomic>

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

void SwitchRemoteServices(Works* works, RemoteSwitch how) {
    const ServiceHooks* h = g_hooks.load();
    if (!h || !h->remote) {
        LogErr("remote services: no switch");
        return;
    }
    h->remote(works, how);
}
