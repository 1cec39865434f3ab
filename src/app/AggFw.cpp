// Clears the update marker a few seconds after start-up: a program that got this
// far has started, so whatever installed it need not roll back.
#include "app/AggFw.h"

#include "core/Setup.h"
#include "core/Storage.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Log.h"

#include <cerrno>
#include <cstdio>

namespace {

// The remounts and the command are the storage thread's, as every other.
void clearMarker() {
    if (!RemountSetRw())
        return;
    errno = 0;
    if (plat_system("rm -f /tmp/good >/dev/null 2>&1") != 0) {
        const int err = errno;
        LogErrOut("can't :rm -f /tmp/good >/dev/null 2>&1  ->error %d", err);
        // Never leave /opt/set writable behind us.
        RemountSetRo();
        return;
    }
    RemountSetRo();
    LogOut("--------- END THREAD AGG FW!!!\n");
}

} // namespace

void AggFWThread(Works*) {
    for (int i = 0; i < 5; i++) {
        plat_sleep_ms(1000);
        LogOut("AGG FW %i..\n", i);
    }
    StorageJob("update marker", clearMarker);
}
