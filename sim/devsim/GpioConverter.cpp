// The converter behind GPIO 4/6 and the output lines, fed by the virtual wire's write log.
#include "devsim/GpioConverter.h"

#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/GpioBlock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t kMaxCommands = 10000;
constexpr int kWaitMs = 1000; // Stop wakes the thread; this only bounds a missed wake-up
constexpr int kDataPin = 4;
constexpr int kClockPin = 6;
constexpr uint32_t kKeyBits = 0x0FC00000u; // GPIO 22..27, owned by GpioKeys
constexpr uint32_t kOwnedBits = 0x3FFFFFFFu & ~kKeyBits; // GPIO 0..29 but the keys
constexpr int kReplyBits = 12;

std::atomic_ref<uint32_t> word(volatile uint32_t* regs, int i) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[i]));
}

uint32_t bit(int pin) { return 1u << pin; }

// Pins whose function select reads 001, from words 0..2.
uint32_t outputMask(const std::array<uint32_t, 3>& fsel) {
    uint32_t mask = 0;
    for (int pin = 0; pin < 30; pin++)
        if (((fsel[pin / 10] >> (3 * (pin % 10))) & 7u) == 1u)
            mask |= bit(pin);
    return mask;
}

struct Entry {
    uint32_t word, value;
};

enum class Phase { Command, Reply };

} // namespace

struct GpioConverter {
    std::mutex mu;
    std::condition_variable cv; // hold released or stop
    GpioConverterConfig cfg;
    volatile uint32_t* regs = nullptr;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> exited{false};
    bool hold = false;

    uint32_t done = 0; // writes taken in (sequence number of the next one)
    uint32_t taken = 0;
    int overruns = 0;
    std::array<uint32_t, 3> fsel{};
    uint32_t outputs = 0; // pins configured as outputs
    uint32_t latch = 0;   // output register: what each pin drives once it is an output
    uint32_t levels = 0;  // owned bits of the level word as last published
    bool drive = true;    // converter's side of the data line (pulled up when idle)

    Phase phase = Phase::Command;
    int cmdBits = 0;
    uint8_t cmd = 0;
    int64_t lastBitMs = 0;
    uint16_t reply = 0;
    int replyBit = 0;
    std::deque<GpioConverterCommand> commands;
};

namespace {

// What the owned pins show: outputs their latch, GPIO 4 as an input the converter;
// other inputs keep whatever they had.
uint32_t pinLevelsLocked(const GpioConverter* m) {
    uint32_t lv = (m->levels & ~m->outputs) | (m->latch & m->outputs);
    if (!(m->outputs & bit(kDataPin)))
        lv = m->drive ? lv | bit(kDataPin) : lv & ~bit(kDataPin);
    return lv & kOwnedBits;
}

// Changes only the bits that moved, each with one atomic step, so the key bits the
// key model flips concurrently are never written back stale.
void publishLocked(GpioConverter* m, uint32_t lv) {
    uint32_t rise = lv & ~m->levels, fall = m->levels & ~lv;
    auto level = word(m->regs, kGpioLevelWord);
    if (rise)
        level.fetch_or(rise);
    if (fall)
        level.fetch_and(~fall);
    m->levels = lv;
}

void resetExchangeLocked(GpioConverter* m) {
    m->phase = Phase::Command;
    m->cmdBits = 0;
    m->cmd = 0;
    m->replyBit = 0;
    m->drive = true;
}

void fallingClockLocked(GpioConverter* m, uint32_t lv) {
    if (m->outputs & bit(kDataPin)) {
        if (m->phase == Phase::Reply)
            resetExchangeLocked(m); // the panel took the line back before the reply ended
        int64_t now = plat_mono_ms();
        if (m->cmdBits > 0 && m->cfg.frameTimeoutMs > 0 &&
            now - m->lastBitMs > m->cfg.frameTimeoutMs)
            m->cmdBits = 0;
        m->lastBitMs = now;
        m->cmd = static_cast<uint8_t>((m->cmd << 1) | ((lv >> kDataPin) & 1u));
        if (++m->cmdBits < 8)
            return;
        m->commands.push_back({now, m->cmd});
        if (m->commands.size() > kMaxCommands)
            m->commands.pop_front();
        int slot = m->cmd & 3;
        m->reply = static_cast<uint16_t>(slot << 8 | m->cfg.replies[slot]);
        m->phase = Phase::Reply;
        m->replyBit = 0;
        m->cmdBits = 0;
        m->cmd = 0;
    } else if (m->phase == Phase::Reply && m->replyBit < kReplyBits) {
        bool b = (m->reply >> (kReplyBits - 1 - m->replyBit)) & 1u;
        m->drive = m->cfg.silent || b;
        m->replyBit++;
    }
}

void risingClockLocked(GpioConverter* m) {
    if (m->phase == Phase::Reply && m->replyBit >= kReplyBits)
        resetExchangeLocked(m); // last bit read: let go of the line
}

void directionLocked(GpioConverter* m, uint32_t before) {
    uint32_t changed = before ^ m->outputs;
    if (!(changed & bit(kDataPin)))
        return;
    if (m->outputs & bit(kDataPin)) {
        if (m->phase == Phase::Reply)
            resetExchangeLocked(m);
    } else if (m->phase == Phase::Command) {
        m->cmdBits = 0; // turned around mid-byte: nothing sensible was sent
        m->cmd = 0;
    }
}

void applyLocked(GpioConverter* m, const Entry& e) {
    uint32_t before = m->outputs;
    if (e.word < 3) {
        m->fsel[e.word] = e.value;
        m->outputs = outputMask(m->fsel);
    } else if (e.word == kGpioSetWord) {
        m->latch |= e.value;
    } else if (e.word == kGpioClearWord) {
        m->latch &= ~e.value;
    } else {
        return; // pull control and the rest change no level we model
    }
    directionLocked(m, before);
    uint32_t old = m->levels;
    uint32_t lv = pinLevelsLocked(m);
    if ((m->outputs & bit(kClockPin)) && ((old ^ lv) & bit(kClockPin))) {
        if (lv & bit(kClockPin))
            risingClockLocked(m);
        else
            fallingClockLocked(m, lv);
        lv = pinLevelsLocked(m);
    }
    publishLocked(m, lv);
}

void acknowledge(GpioConverter* m, uint32_t count) {
    word(m->regs, kVirtualAckWord).store(count, std::memory_order_release);
    plat_futex_wake(&m->regs[kVirtualAckWord]);
}

// Fell too far behind: the log no longer holds what was missed. Directions can be
// read back from the function select words; the rest starts over.
void resyncLocked(GpioConverter* m, uint32_t seq) {
    m->overruns++;
    for (int i = 0; i < 3; i++)
        m->fsel[i] = word(m->regs, i).load(std::memory_order_relaxed);
    m->outputs = outputMask(m->fsel);
    resetExchangeLocked(m);
    publishLocked(m, pinLevelsLocked(m));
    m->done = seq;
}

void takeIn(GpioConverter* m, uint32_t seq) {
    Entry batch[kVirtualLogPairs];
    uint32_t from = m->done;
    uint32_t n = seq - from;
    bool overrun = n > static_cast<uint32_t>(kVirtualLogPairs);
    if (!overrun) {
        for (uint32_t i = 0; i < n; i++) {
            int slot = kVirtualLogWord + 2 * static_cast<int>((from + i) % kVirtualLogPairs);
            // Acquire, so the sequence check below is not done before the copy.
            batch[i] = {word(m->regs, slot).load(std::memory_order_acquire),
                        word(m->regs, slot + 1).load(std::memory_order_acquire)};
        }
        // A writer that has reached from + 248 may have been rewriting the oldest
        // slot while it was copied.
        uint32_t now = word(m->regs, kVirtualSeqWord).load(std::memory_order_acquire);
        overrun = now - from >= static_cast<uint32_t>(kVirtualLogPairs);
        if (overrun)
            seq = now;
    }
    std::lock_guard<std::mutex> lock(m->mu);
    if (overrun) {
        resyncLocked(m, seq);
    } else {
        for (uint32_t i = 0; i < n; i++)
            applyLocked(m, batch[i]);
        m->taken += n;
        m->done = seq;
    }
    acknowledge(m, m->done);
}

void run(GpioConverter* m) {
    while (!m->stop.load()) {
        {
            std::unique_lock<std::mutex> lock(m->mu);
            if (m->hold) {
                m->cv.wait_for(lock, std::chrono::milliseconds(kWaitMs));
                continue;
            }
        }
        uint32_t seq = word(m->regs, kVirtualSeqWord).load(std::memory_order_acquire);
        if (seq == m->done) {
            plat_futex_wait(&m->regs[kVirtualSeqWord], seq, kWaitMs);
            continue;
        }
        takeIn(m, seq);
    }
    m->exited.store(true);
}

volatile uint32_t* mapBlock(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    void* p =
        mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, SimGpioOffset(path));
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<volatile uint32_t*>(p);
}

} // namespace

GpioConverter* GpioConverterStart(const std::string& memPath, const GpioConverterConfig& cfg) {
    volatile uint32_t* regs = mapBlock(memPath);
    if (!regs)
        return nullptr;
    auto* m = new GpioConverter;
    m->cfg = cfg;
    m->regs = regs;
    {
        // Writes made before we were attached are history; the registers hold their result.
        std::lock_guard<std::mutex> lock(m->mu);
        uint32_t seq = word(regs, kVirtualSeqWord).load(std::memory_order_acquire);
        for (int i = 0; i < 3; i++)
            m->fsel[i] = word(regs, i).load(std::memory_order_relaxed);
        m->outputs = outputMask(m->fsel);
        m->levels = word(regs, kGpioLevelWord).load() & kOwnedBits;
        m->latch = m->levels;
        publishLocked(m, pinLevelsLocked(m));
        m->done = seq;
        acknowledge(m, seq);
    }
    word(regs, kVirtualMagicWord).store(kVirtualMagic, std::memory_order_release);
    m->thread = std::thread(run, m);
    return m;
}

void GpioConverterStop(GpioConverter* m) {
    if (!m)
        return;
    m->stop.store(true);
    {
        std::lock_guard<std::mutex> lock(m->mu);
        m->cv.notify_all();
    }
    // The thread may be just about to sleep on the sequence word; wake until it is out.
    while (!m->exited.load()) {
        plat_futex_wake(&m->regs[kVirtualSeqWord]);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m->thread.join();
    word(m->regs, kVirtualMagicWord).store(0, std::memory_order_release);
    plat_futex_wake(&m->regs[kVirtualAckWord]);
    munmap(const_cast<uint32_t*>(m->regs), kGpioBlockSize);
    delete m;
}

void GpioConverterSetReply(GpioConverter* m, int slot, uint8_t byte) {
    if (slot < 0 || slot > 3)
        return;
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.replies[static_cast<size_t>(slot)] = byte;
}

void GpioConverterSetSilent(GpioConverter* m, bool silent) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.silent = silent;
}

void GpioConverterHold(GpioConverter* m, bool hold) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->hold = hold;
    m->cv.notify_all();
}

std::vector<GpioConverterCommand> GpioConverterCommands(GpioConverter* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return {m->commands.begin(), m->commands.end()};
}

void GpioConverterClearCommands(GpioConverter* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->commands.clear();
}

bool GpioConverterOutput(GpioConverter* m, int pin) {
    if (pin < 0 || pin >= 30)
        return false;
    if (kKeyBits & bit(pin))
        return word(m->regs, kGpioLevelWord).load() & bit(pin);
    std::lock_guard<std::mutex> lock(m->mu);
    return m->levels & bit(pin);
}

bool GpioConverterIsOutput(GpioConverter* m, int pin) {
    if (pin < 0 || pin >= 30)
        return false;
    std::lock_guard<std::mutex> lock(m->mu);
    return m->outputs & bit(pin);
}

uint32_t GpioConverterWritesTaken(GpioConverter* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->taken;
}

int GpioConverterOverruns(GpioConverter* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->overruns;
}

uint8_t GpioConverterAdc(double volts, bool model120W) {
    double k = model120W ? 348 : 118;
    return static_cast<uint8_t>(std::clamp(std::lround(volts * 255 * 18 / (3.3 * k)), 0L, 255L));
}
