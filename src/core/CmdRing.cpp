// The 30-slot command ring.
//
// Many threads queue commands (keys, menus, the refresh tick, the tuner, the
// reply decoder); the link thread alone takes them out. Producers serialise on a
// small lock and publish the write index after the slot; the link thread reads
// without the lock. A full ring refuses the command instead of wrapping into an
// apparently empty queue. The drain request and the alarm reset's phase change
// under the same lock, so that "queue these, then drain them" and "the queue is
// empty, the drain is over" never overtake each other.
#include "core/CmdRing.h"

#include "core/Works.h"
#include "platform/Log.h"

#include <mutex>

namespace {
std::mutex g_producerMut;
} // namespace

int IncPNTIn_CMDLinear(int cmd, Works* w) {
    std::lock_guard<std::mutex> lock(g_producerMut);
    int wr = w->cmdQueueWrite.loadAcquire();
    int next = wr >= kCmdQueueSize - 1 ? 0 : wr + 1;
    if (next == w->cmdQueueRead.loadAcquire()) {
        LogErr("Linear: command queue full, command %d dropped", cmd);
        return -1;
    }
    w->cmdQueue[wr] = cmd;
    w->cmdQueueWrite.storeRelease(next);
    return cmd;
}

bool CmdQueueEmpty(Works* w) {
    return w->cmdQueueRead.loadAcquire() == w->cmdQueueWrite.loadAcquire();
}

int CmdQueueTake(Works* w) {
    int rd = w->cmdQueueRead.loadAcquire();
    if (rd == w->cmdQueueWrite.loadAcquire())
        return -1;
    int cmd = w->cmdQueue[rd];
    w->cmdQueue[rd] = 0;
    w->cmdQueueRead.storeRelease(rd >= kCmdQueueSize - 1 ? 0 : rd + 1);
    return cmd;
}

void CmdQueueStartDrain(Works* w, bool resetPhase) {
    std::lock_guard<std::mutex> lock(g_producerMut);
    // What is queued up to here goes out back to back; what comes later waits
    // its turn, so a key held meanwhile cannot keep the drain going for ever.
    w->cmdQueueDrainMark = w->cmdQueueWrite.load();
    w->cmdQueueDrain = 1;
    if (resetPhase)
        w->errorResetPhase = 1;
}

int CmdQueueTakeDraining(Works* w) {
    std::lock_guard<std::mutex> lock(g_producerMut);
    const int cmd = w->cmdQueueRead == w->cmdQueueDrainMark ? -1 : CmdQueueTake(w);
    if (cmd >= 0)
        return cmd;
    w->cmdQueueDrain = 0;
    if (w->errorResetPhase == 1) {
        LogOut(">>> ERRORI: Send All CMD for Error\n");
        w->errorResetPhase = 2;
    }
    return -1;
}

bool CmdQueueResetPhaseDone(Works* w) {
    std::lock_guard<std::mutex> lock(g_producerMut);
    if (w->errorResetPhase != 2)
        return false;
    w->errorResetPhase = 0;
    return true;
}
