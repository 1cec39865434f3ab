// The USB panadapter receiver under umockdev: see UsbRxModel.h.
#include "devsim/UsbRxModel.h"

#include "trx/UsbIds.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#ifdef PANEL_HAVE_UMOCKDEV
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

namespace {

constexpr int kBlockBytes = 32768;
constexpr int kBlockSamples = kBlockBytes / 8; // complex I/Q pairs of int32
constexpr size_t kInBuffers = 8; // host buffers kept between URBs (a host resubmits its few)
constexpr const char* kNode = "/dev/bus/usb/001/002";
constexpr const char* kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A reproducible noise source (xorshift and Box-Muller).
struct Noise {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    double uniform() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return ((s >> 11) + 0.5) * (1.0 / 9007199254740992.0);
    }
    double gauss() {
        return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * M_PI * uniform());
    }
};

// An URB between its submission and its reap.
struct Urb {
    UMockdevIoctlData* urb = nullptr; // the host's struct usbdevfs_urb
    UMockdevIoctlData* buf = nullptr; // its buffer; a bulk IN one is taken at the reap
    uint8_t type = 0;
    int length = 0;
    int64_t dueUs = 0; // ready to reap from then on
    bool answered = false; // control: the reply is in place
    int status = 0;
    int actual = 0;
    bool never = false; // a control request left unanswered
};

UsbRxRequest classify(const uint8_t* setup) {
    const uint8_t req = setup[1];
    const uint16_t value = setup[2] | setup[3] << 8;
    const uint16_t index = setup[4] | setup[5] << 8;
    if (req == 0xFF)
        return UsbRxRequest::DriverVersion;
    if (req == 0xA2 && index == 0x0151) {
        switch (value) {
        case 0x404C: return UsbRxRequest::HwVersion;
        case 0x4000: return UsbRxRequest::Serial;
        case 0x4028: return UsbRxRequest::GlobalOffset;
        case 0x402C: return UsbRxRequest::LpOffset;
        case 0x4030: return UsbRxRequest::AttOffset;
        }
    }
    if (req == 0xE1) {
        if (index == 0xE900 && value == 0)
            return UsbRxRequest::StopFifo;
        if (index == 0xE800)
            return UsbRxRequest::InitFifo;
        if (index == 0xE900 && value == 1)
            return UsbRxRequest::EnableStream;
    }
    return UsbRxRequest::Other;
}

// A bulk IN buffer of the host, read from it once and written at every reap
// that fills it: the kernel never reads an IN buffer, and each read here is a
// round trip through umockdev that wakes the host's thread.
struct InBuffer {
    // Held, so that no later client comes at its address: umockdev frees a
    // closed client without its client-vanished signal, and reuses the memory.
    UMockdevIoctlClient* client = nullptr;
    uint64_t addr = 0;
    UMockdevIoctlData* data = nullptr;
    // What umockdev last read there: it writes back only what differs from it.
    std::vector<uint8_t> read;
};

} // namespace

struct UsbRxModel {
    UsbRxModelConfig cfg;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string root;

    std::mutex mu; // everything below; the handler runs on umockdev's thread
    std::map<UsbRxRequest, UsbRxFault> faults;
    std::deque<Urb> pending; // in submission order
    std::deque<InBuffer> inBuffers; // at most kInBuffers, the oldest first
    bool driverBound = false;
    bool gone = false;
    bool held = false;
    int failCount = 0, failStatus = 0;
    int shortCount = 0, shortBytes = 0;
    int64_t streamDueUs = 0; // when the stream's next block is ready
    std::vector<double> phase;
    Noise noise;
    UsbRxStats stats;

    // Fills one block of I/Q; `bytes` at most a block.
    void fillBlock(uint8_t* out, int bytes) {
        const double full = 2147483647.0;
        phase.resize(cfg.tones.size(), 0.0);
        const int samples = std::min(bytes / 8, kBlockSamples);
        const double shift = cfg.stepHzPerBlock * static_cast<double>(stats.blocks);
        for (int n = 0; n < samples; n++) {
            double i = cfg.noise * noise.gauss(), q = cfg.noise * noise.gauss();
            for (size_t t = 0; t < cfg.tones.size(); t++) {
                i += cfg.tones[t].amplitude * std::cos(phase[t]);
                q += cfg.tones[t].amplitude * std::sin(phase[t]);
                phase[t] = std::fmod(phase[t] + 2.0 * M_PI * (cfg.tones[t].offsetHz + shift) / cfg.sampleRate, 2.0 * M_PI);
            }
            const int32_t vi = static_cast<int32_t>(std::lround(std::clamp(i * full, -full, full)));
            const int32_t vq = static_cast<int32_t>(std::lround(std::clamp(q * full, -full, full)));
            std::memcpy(out + 8 * n, &vi, 4); // little-endian host, as the wire
            std::memcpy(out + 8 * n + 4, &vq, 4);
        }
        std::memset(out + 8 * samples, 0, bytes - 8 * samples);
    }

    // The reply of a control request into `data` (after the setup); its length.
    int controlReply(UsbRxRequest r, uint8_t* data, int asked) {
        uint8_t reply[64] = {};
        int n = 0;
        auto put = [&](const void* p, int len) {
            std::memcpy(reply, p, len);
            n = len;
        };
        switch (r) {
        case UsbRxRequest::DriverVersion: {
            const uint8_t v[2] = {cfg.driverMajor, cfg.driverMinor};
            put(v, 2);
            break;
        }
        case UsbRxRequest::HwVersion: {
            const uint8_t v[2] = {cfg.hwMajor, cfg.hwMinor};
            put(v, 2);
            break;
        }
        case UsbRxRequest::Serial: {
            char s[32] = {};
            std::strncpy(s, cfg.serial.c_str(), sizeof s - 1);
            put(s, 32);
            break;
        }
        case UsbRxRequest::GlobalOffset: put(&cfg.globalOffset, 4); break;
        case UsbRxRequest::LpOffset: put(&cfg.lpOffset, 4); break;
        case UsbRxRequest::AttOffset: put(&cfg.attOffset, 4); break;
        case UsbRxRequest::StopFifo:
        case UsbRxRequest::InitFifo:
        case UsbRxRequest::EnableStream: {
            const uint8_t ack = r == UsbRxRequest::EnableStream ? 0xE9 : 0x01;
            put(&ack, 1);
            break;
        }
        case UsbRxRequest::Other: break;
        }
        n = std::min(n, asked);
        std::memcpy(data, reply, n);
        return n;
    }
};

namespace {

void completeErrno(UMockdevIoctlClient* client, int err) { umockdev_ioctl_client_complete(client, -1, err); }

// The host's value behind the pointer argument, `len` bytes; nullptr and the
// client completed with EFAULT when it cannot be read.
UMockdevIoctlData* argStruct(UMockdevIoctlClient* client, size_t len) {
    GError* error = nullptr;
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, len, &error);
    if (!d) {
        g_clear_error(&error);
        completeErrno(client, EFAULT);
    }
    return d;
}

void submit(UsbRxModel* m, UMockdevIoctlClient* client) {
    UMockdevIoctlData* urbData = argStruct(client, sizeof(usbdevfs_urb));
    if (!urbData)
        return;
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    const bool bulkIn = urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80);
    const bool read = urb->buffer_length > 0 && !bulkIn; // an IN buffer is only written, at the reap
    GError* error = nullptr;
    UMockdevIoctlData* buf = read ? umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                                urb->buffer_length, &error)
                                  : nullptr;
    if (read && !buf) {
        g_clear_error(&error);
        g_object_unref(urbData);
        completeErrno(client, EFAULT);
        return;
    }
    Urb u;
    u.urb = urbData;
    u.buf = buf;
    u.type = urb->type;
    u.length = urb->buffer_length;
    const int64_t now = nowUs();
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && u.length >= 8) {
        const uint8_t* setup = buf->data;
        const UsbRxRequest r = classify(setup);
        m->stats.requests.push_back(r);
        const auto it = m->faults.find(r);
        const UsbRxFault f = it == m->faults.end() ? UsbRxFault::None : it->second;
        if (f == UsbRxFault::Refuse) {
            g_object_unref(buf);
            g_object_unref(urbData);
            completeErrno(client, EIO);
            return;
        }
        const int asked = setup[6] | setup[7] << 8;
        u.dueUs = now + 200; // a device answers within a frame or so
        if (f == UsbRxFault::Stall) {
            u.status = -EPIPE;
        } else if (f == UsbRxFault::Timeout) {
            u.never = true;
        } else {
            const int room = std::min(asked, u.length - 8);
            int n = m->controlReply(r, buf->data + 8, room);
            if (f == UsbRxFault::Short && n > 0)
                n--;
            if (f == UsbRxFault::Wrong && r == UsbRxRequest::EnableStream)
                buf->data[8] = 0x00;
            u.actual = n;
        }
        u.answered = true;
    } else if (bulkIn) {
        m->stats.bulkSubmitMax = std::max(m->stats.bulkSubmitMax, u.length);
        // Blocks come at the stream's rate; a host that fell far behind finds the
        // device's buffer full and gets its next block at once.
        const int64_t period = static_cast<int64_t>(kBlockSamples * 1e6 / m->cfg.sampleRate);
        m->streamDueUs = std::max(m->streamDueUs + period, now - 4 * period);
        u.dueUs = std::max(m->streamDueUs, now);
    } else {
        // OUT transfers and anything else are taken at once.
        u.dueUs = now;
        u.actual = u.length;
        u.answered = true;
    }
    m->pending.push_back(u);
    m->stats.urbsInFlight = static_cast<int>(m->pending.size());
    umockdev_ioctl_client_complete(client, 0, 0);
}

void dropInBuffer(InBuffer& b) {
    g_clear_object(&b.data);
    g_clear_object(&b.client);
}

// Fills the host's buffer of bulk IN URB `u` with `bytes` of the stream and
// hangs it on the URB, so that the reap writes it back; false (the client
// completed with EFAULT) when the buffer cannot be read.
bool fillInBuffer(UsbRxModel* m, UMockdevIoctlClient* client, Urb& u, int bytes) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data);
    const uint64_t addr = reinterpret_cast<uintptr_t>(urb->buffer);
    const size_t at = offsetof(usbdevfs_urb, buffer);
    const size_t length = static_cast<size_t>(u.length);
    // A short block leaves the rest of the buffer as the host had it, so that
    // one is read again.
    auto it = std::find_if(m->inBuffers.begin(), m->inBuffers.end(), [&](const InBuffer& b) {
        return b.client == client && b.addr == addr && static_cast<size_t>(b.data->data_len) == length;
    });
    if (bytes == u.length && it != m->inBuffers.end()) {
        umockdev_ioctl_data_set_ptr(u.urb, at, it->data);
        m->fillBlock(it->data->data, bytes);
        if (std::memcmp(it->data->data, it->read.data(), length) == 0) {
            // umockdev would take the block for unchanged and write nothing,
            // while the host's buffer holds an earlier one: read it again.
            const std::vector<uint8_t> block = it->read;
            GError* error = nullptr;
            if (!umockdev_ioctl_data_reload(it->data, &error)) {
                g_clear_error(&error);
                completeErrno(client, EFAULT);
                return false;
            }
            m->stats.inBufferReads++;
            it->read.assign(it->data->data, it->data->data + length);
            std::memcpy(it->data->data, block.data(), length);
        }
        return true;
    }
    GError* error = nullptr;
    UMockdevIoctlData* buf = umockdev_ioctl_data_resolve(u.urb, at, length, &error);
    if (!buf) {
        g_clear_error(&error);
        completeErrno(client, EFAULT);
        return false;
    }
    m->stats.inBufferReads++;
    if (bytes == u.length) {
        // Writing through a closed client's buffer would never reach anyone.
        for (auto b = m->inBuffers.begin(); b != m->inBuffers.end();) {
            if (b == it || !umockdev_ioctl_client_get_connected(b->client)) {
                dropInBuffer(*b);
                b = m->inBuffers.erase(b);
            } else {
                ++b;
            }
        }
        if (m->inBuffers.size() >= kInBuffers) {
            dropInBuffer(m->inBuffers.front());
            m->inBuffers.pop_front();
        }
        m->inBuffers.push_back({g_object_ref(client), addr, g_object_ref(buf),
                                std::vector<uint8_t>(buf->data, buf->data + length)});
    }
    m->fillBlock(buf->data, bytes);
    g_object_unref(buf); // the URB holds it
    return true;
}

// Gives the host the first URB that is ready (a bulk one gets its block now).
void reap(UsbRxModel* m, UMockdevIoctlClient* client, std::unique_lock<std::mutex>& lock) {
    for (int round = 0;; round++) {
        if (m->gone && m->pending.empty()) {
            completeErrno(client, ENODEV);
            return;
        }
        const int64_t now = nowUs();
        int64_t nextDue = INT64_MAX;
        for (auto it = m->pending.begin(); it != m->pending.end(); ++it) {
            if (m->gone) {
                // Unplugged: what was pending ends with ESHUTDOWN, as the kernel
                // kills the URBs of a device that left.
                it->status = -ESHUTDOWN;
                it->actual = 0;
                it->dueUs = 0;
                it->never = false;
            }
            const bool heldBulk = it->type == USBDEVFS_URB_TYPE_BULK && m->held && it->status == 0;
            if (it->never || heldBulk)
                continue;
            if (it->dueUs > now) {
                nextDue = std::min(nextDue, it->dueUs);
                continue;
            }
            Urb u = *it;
            m->pending.erase(it);
            m->stats.urbsInFlight = static_cast<int>(m->pending.size());
            auto* urb = reinterpret_cast<usbdevfs_urb*>(u.urb->data);
            if (u.type == USBDEVFS_URB_TYPE_BULK && u.status == 0) {
                if (m->failCount > 0) {
                    m->failCount--;
                    u.status = m->failStatus;
                    u.actual = 0;
                } else {
                    int bytes = u.length;
                    if (m->shortCount > 0) {
                        m->shortCount--;
                        bytes = std::min(bytes, m->shortBytes);
                    }
                    if (!fillInBuffer(m, client, u, bytes)) {
                        g_object_unref(u.urb);
                        return;
                    }
                    u.actual = bytes;
                    m->stats.blocks++;
                }
            }
            urb->status = u.status;
            urb->actual_length = u.actual;
            UMockdevIoctlData* where = argStruct(client, sizeof(void*));
            if (!where) {
                g_clear_object(&u.buf);
                g_object_unref(u.urb);
                return;
            }
            umockdev_ioctl_data_set_ptr(where, 0, u.urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(where);
            g_clear_object(&u.buf);
            g_object_unref(u.urb);
            return;
        }
        // Nothing ready: wait here until the next block is due. The node is a
        // plain file, so the host's poll never waits and it asks again at once;
        // the wait stands in for the kernel's poll (at most 25 ms, so an unplug
        // or a release is seen soon). A URB that nothing will complete (a held
        // stream, an unanswered request) waits the whole 25 ms, or the host
        // spins until its own time-out cancels it.
        if (round > 0 || m->pending.empty()) {
            completeErrno(client, EAGAIN);
            return;
        }
        const int64_t waitUs = nextDue == INT64_MAX ? 25000 : std::min<int64_t>(nextDue - now, 25000);
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
        lock.lock();
    }
}

void discard(UsbRxModel* m, UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    uint64_t addr = 0;
    std::memcpy(&addr, arg->data, std::min<size_t>(sizeof addr, arg->data_len));
    for (Urb& u : m->pending) {
        if (u.urb->client_addr == addr && u.status != -ENOENT) {
            // A cancelled URB is still reaped, with ENOENT, or the cancel never ends.
            u.status = -ENOENT;
            u.actual = 0;
            u.never = false;
            u.dueUs = 0;
            m->stats.discarded++;
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    completeErrno(client, EINVAL);
}

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* m = static_cast<UsbRxModel*>(self);
    std::unique_lock<std::mutex> lock(m->mu);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (m->gone && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
        completeErrno(client, ENODEV);
        return TRUE;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* d = argStruct(client, sizeof(uint32_t));
        if (!d)
            return TRUE;
        // Scatter-gather: a 32 KiB transfer is one URB, as on the board's kernel.
        const uint32_t caps = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                              USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                              USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(d->data, &caps, sizeof caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(d);
        return TRUE;
    }
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* d = argStruct(client, sizeof(usbdevfs_getdriver));
        if (!d)
            return TRUE;
        auto* g = reinterpret_cast<usbdevfs_getdriver*>(d->data);
        if (g->interface == 0 && m->driverBound) {
            std::snprintf(g->driver, sizeof g->driver, "kavo_rx");
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            completeErrno(client, ENODATA);
        }
        g_object_unref(d);
        return TRUE;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* d = argStruct(client, sizeof(usbdevfs_ioctl));
        if (!d)
            return TRUE;
        auto* io = reinterpret_cast<usbdevfs_ioctl*>(d->data);
        if (io->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT) && io->ifno == 0 && m->driverBound) {
            m->driverBound = false;
            m->stats.detaches++;
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            completeErrno(client, ENODATA);
        }
        g_object_unref(d);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* d = argStruct(client, sizeof(unsigned));
        if (!d)
            return TRUE;
        unsigned ifno = 0;
        std::memcpy(&ifno, d->data, sizeof ifno);
        if (ifno != 0) {
            completeErrno(client, EINVAL);
        } else if (request == USBDEVFS_CLAIMINTERFACE && m->driverBound) {
            completeErrno(client, EBUSY);
        } else {
            (request == USBDEVFS_CLAIMINTERFACE ? m->stats.claims : m->stats.releases)++;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        g_object_unref(d);
        return TRUE;
    }
    case USBDEVFS_SUBMITURB:
        submit(m, client);
        return TRUE;
    case USBDEVFS_REAPURBNDELAY:
    case USBDEVFS_REAPURB:
        reap(m, client, lock);
        return TRUE;
    case USBDEVFS_DISCARDURB:
        discard(m, client);
        return TRUE;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_GET_SPEED:
        umockdev_ioctl_client_complete(client, 3 /* USB_SPEED_HIGH */, 0);
        return TRUE;
    default: {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%lx", request);
        m->stats.unknown.push_back(hex);
        completeErrno(client, ENOTTY);
        return TRUE;
    }
    }
}

void clientConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
    auto* m = static_cast<UsbRxModel*>(self);
    std::lock_guard<std::mutex> lock(m->mu);
    m->stats.opens++;
}

void clientVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
    auto* m = static_cast<UsbRxModel*>(self);
    std::lock_guard<std::mutex> lock(m->mu);
    // Closing the node ends what it had in flight, as usbfs does.
    for (Urb& u : m->pending) {
        g_clear_object(&u.buf);
        g_clear_object(&u.urb);
    }
    m->pending.clear();
    m->stats.urbsInFlight = 0;
}

std::string hexBytes(const std::vector<uint8_t>& b) {
    std::string s;
    char two[3];
    for (uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02X", v);
        s += two;
    }
    return s;
}

// Device and configuration descriptors: one vendor interface with bulk IN 0x86
// and bulk OUT 0x02.
std::vector<uint8_t> descriptors(uint16_t product) {
    return {0x12, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x40,
            static_cast<uint8_t>(RX_VENDOR_ID), static_cast<uint8_t>(RX_VENDOR_ID >> 8),
            static_cast<uint8_t>(product), static_cast<uint8_t>(product >> 8),
            0x00, 0x01, 0x01, 0x02, 0x03, 0x01,
            0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
            0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
            0x07, 0x05, 0x86, 0x02, 0x00, 0x02, 0x00,
            0x07, 0x05, 0x02, 0x02, 0x00, 0x02, 0x00};
}

} // namespace

bool UsbRxModelAvailable() { return true; }

bool UsbRxModelPreloadable() {
#if defined(__SANITIZE_THREAD__)
    return false;
#else
    return true;
#endif
}

// GLib and umockdev are not built for ThreadSanitizer, which cannot see how
// their threads synchronise; a program with the model leaves their races out.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\nrace:libgobject-2.0.so\nrace:libgio-2.0.so\nrace:libumockdev.so\n";
}

UsbRxModel* UsbRxModelStart(const UsbRxModelConfig& cfg, std::string* err) {
    auto* m = new UsbRxModel;
    m->cfg = cfg;
    m->driverBound = cfg.kernelDriver;
    m->testbed = umockdev_testbed_new();
    if (!m->testbed) {
        if (err)
            *err = "umockdev: cannot create a testbed";
        delete m;
        return nullptr;
    }
    gchar* root = umockdev_testbed_get_root_dir(m->testbed);
    m->root = root;
    g_free(root);
    m->handler = umockdev_ioctl_base_new();
    g_signal_connect(m->handler, "handle-ioctl", G_CALLBACK(handleIoctl), m);
    g_signal_connect(m->handler, "client-connected", G_CALLBACK(clientConnected), m);
    g_signal_connect(m->handler, "client-vanished", G_CALLBACK(clientVanished), m);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m->testbed, kNode, m->handler, &error)) {
        if (err)
            *err = std::string("umockdev: ") + (error ? error->message : "cannot attach");
        g_clear_error(&error);
        UsbRxModelStop(m);
        return nullptr;
    }
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", RX_VENDOR_ID, cfg.product);
    const std::string device = std::string("P: ") + (kSysPath + 4) + "\nN: bus/usb/001/002\n" +
                               "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=002\n" +
                               "E: DEVNAME=" + kNode + "\n" +
                               "A: busnum=1\nA: devnum=2\nA: bConfigurationValue=1\nA: speed=480\n" + ids +
                               "H: descriptors=" + hexBytes(descriptors(cfg.product)) + "\n";
    if (!umockdev_testbed_add_from_string(m->testbed, device.c_str(), &error)) {
        if (err)
            *err = std::string("umockdev: ") + (error ? error->message : "cannot add the device");
        g_clear_error(&error);
        UsbRxModelStop(m);
        return nullptr;
    }
    return m;
}

void UsbRxModelStop(UsbRxModel* m) {
    if (!m)
        return;
    if (m->testbed) {
        GError* error = nullptr;
        umockdev_testbed_detach_ioctl(m->testbed, kNode, &error);
        g_clear_error(&error);
    }
    {
        std::lock_guard<std::mutex> lock(m->mu);
        for (Urb& u : m->pending) {
            g_clear_object(&u.buf);
            g_clear_object(&u.urb);
        }
        m->pending.clear();
        for (InBuffer& b : m->inBuffers)
            dropInBuffer(b);
        m->inBuffers.clear();
    }
    if (m->handler)
        g_object_unref(m->handler);
    if (m->testbed)
        g_object_unref(m->testbed); // removes its folder
    delete m;
}

std::vector<std::string> UsbRxModelEnvironment(UsbRxModel* m) {
    // A sanitizer build of the program would refuse a library loaded before its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOptions = std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") +
                              "verify_asan_link_order=0";
    return {"LD_PRELOAD=libumockdev-preload.so.0", "UMOCKDEV_DIR=" + m->root, asanOptions};
}

void UsbRxModelSetFault(UsbRxModel* m, UsbRxRequest r, UsbRxFault f) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->faults[r] = f;
}

void UsbRxModelFailBlocks(UsbRxModel* m, int count, int status) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->failCount = count;
    m->failStatus = status;
}

void UsbRxModelShortBlocks(UsbRxModel* m, int count, int bytes) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->shortCount = count;
    m->shortBytes = std::clamp(bytes, 0, kBlockBytes);
}

void UsbRxModelHoldStream(UsbRxModel* m, bool held) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->held = held;
}

void UsbRxModelUnplug(UsbRxModel* m) {
    {
        std::lock_guard<std::mutex> lock(m->mu);
        m->gone = true;
    }
    umockdev_testbed_remove_device(m->testbed, kSysPath);
}

void UsbRxModelSetTones(UsbRxModel* m, const std::vector<UsbRxTone>& tones) {
    std::lock_guard<std::mutex> lock(m->mu);
    m->cfg.tones = tones;
}

UsbRxStats UsbRxModelStats(UsbRxModel* m) {
    std::lock_guard<std::mutex> lock(m->mu);
    return m->stats;
}

bool UsbRxModelWaitBlocks(UsbRxModel* m, long long blocks, int ms) {
    const int64_t end = nowUs() + ms * 1000ll;
    while (nowUs() < end) {
        {
            std::lock_guard<std::mutex> lock(m->mu);
            if (m->stats.blocks >= blocks)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

#else // no umockdev on this machine

bool UsbRxModelAvailable() { return false; }
bool UsbRxModelPreloadable() { return false; }
UsbRxModel* UsbRxModelStart(const UsbRxModelConfig&, std::string* err) {
    if (err)
        *err = "umockdev is not installed";
    return nullptr;
}
void UsbRxModelStop(UsbRxModel*) {}
std::vector<std::string> UsbRxModelEnvironment(UsbRxModel*) { return {}; }
void UsbRxModelSetFault(UsbRxModel*, UsbRxRequest, UsbRxFault) {}
void UsbRxModelFailBlocks(UsbRxModel*, int, int) {}
void UsbRxModelShortBlocks(UsbRxModel*, int, int) {}
void UsbRxModelHoldStream(UsbRxModel*, bool) {}
void UsbRxModelUnplug(UsbRxModel*) {}
void UsbRxModelSetTones(UsbRxModel*, const std::vector<UsbRxTone>&) {}
UsbRxStats UsbRxModelStats(UsbRxModel*) { return {}; }
bool UsbRxModelWaitBlocks(UsbRxModel*, long long, int) { return false; }

#endif
