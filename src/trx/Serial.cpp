// The transceiver serial link.
#include "trx/Serial.h"

#include "core/Works.h"
#include "platform/Log.h"

#include <mutex>

void getParameters(TrxParameters* dst, Works* w) {
    std::lock_guard<std::mutex> lock(*w->serMut);
    *dst = *w->trxParams;
}

// Not built yet: the thread logs that and ends.
void Serial(Works*) { LogInfo("Serial: not available in this build"); }
