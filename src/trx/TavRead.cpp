// The USB panadapter receiver thread.
//
// Every wait is bounded: a control request gives up after a second, the event
// loop looks at its enable byte every 200 ms, and transfers still in flight are
// cancelled and reaped before the device is closed, so the thread always ends
// and a restart starts from nothing.
#include "trx/TavRead.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Thread.h"
#include "platform/UsbDevices.h"
#include "trx/Fft.h"
#include "trx/Serial.h"
#include "trx/UsbIds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <libusb-1.0/libusb.h>
#include <vector>

namespace {

constexpr const char* kSource = "TavRead.cpp";
constexpr int kTransfers = 4;
constexpr int kBlockBytes = 32768;
constexpr unsigned char kStreamEndpoint = 0x86;
constexpr unsigned kBulkTimeoutMs = 2000;
constexpr unsigned kControlTimeoutMs = 1000;
constexpr int kEventWaitMs = 200;
constexpr int kCancelWaitMs = 3000;
constexpr int kMaxFailedTransfers = 10; // one more ends streaming

struct UsbRun;

// What each transfer's completion needs.
struct TransferContext {
    int index = 0;
    libusb_transfer* transfer = nullptr;
    std::vector<uint8_t> buffer;
    std::vector<float> samples; // the block scaled
    DivideCounter* divide = nullptr; // the run's FFT down-counter
    Works* works = nullptr;
    int count = kFftFloats;
    bool* stop = nullptr;
    UsbRun* run = nullptr;
    bool inFlight = false;
};

// One run of the thread, from the library's start to its end.
struct UsbRun {
    Works* works = nullptr;
    libusb_context* ctx = nullptr;
    libusb_device_handle* dev_handle = nullptr;
    int status_usb_open = 0;
    bool claimed = false;
    float globalOffset = 0, lpOffset = 0, attOffset = 0;
    float recalc = 1;
    int err_counter = 0;
    DivideCounter divide; // FFT down-counter
    bool stop = false;   // completed transfers are no longer resubmitted
    bool failed = false; // ExitTavread already called
    TransferContext transfers[kTransfers];
};

// The thread's failure: logged, reported once.
void fail(UsbRun* run) {
    if (!run->failed) {
        run->failed = true;
        ExitTavread(run->works);
    }
}

bool stopping(UsbRun* run) {
    return run->stop || run->works->setup->EnableFFT != '1' || !run->works->running || !ThreadStillWanted();
}

int inFlight(UsbRun* run) {
    int n = 0;
    for (TransferContext& c : run->transfers)
        n += c.inFlight;
    return n;
}

// A device-to-host vendor request into the zeroed 1024-byte reply buffer.
int vendorIn(UsbRun* run, uint8_t request, uint16_t value, uint16_t index, uint8_t* reply, uint16_t length) {
    std::memset(reply, 0, 1024);
    return libusb_control_transfer(run->dev_handle, 0xC0, request, value, index, reply, length, kControlTimeoutMs);
}

// One calibration offset (a float in dB); false when the device did not give it.
bool readOffset(UsbRun* run, uint16_t value, const char* name, float* out) {
    uint8_t reply[1024];
    const int r = vendorIn(run, 0xA2, value, 0x0151, reply, 4);
    if (r != 4) {
        LogErrOut("%s failed (%d)", name, r);
        return false;
    }
    std::memcpy(out, reply, 4);
    LogOut("%s: %f\n", name, static_cast<double>(*out));
    return true;
}

// A completed block: scaled over the bytes received; every divide-th full block
// becomes a spectrum while a peer is connected.
void received(TransferContext* c, int length) {
    Works* w = c->works;
    UsbRun* run = c->run;
    if (w->setup->usbSpectrum == '0')
        return;
    TrxParameters params;
    getParameters(&params, w);
    const float lp = params.lp > 0 ? run->lpOffset : 0.0f;
    run->recalc = std::pow(10.0f, (21.4f - run->globalOffset + lp) / 20.0f);
    ScaleBlock(c->buffer.data(), length, run->recalc / 2 / 1024 / 1024 / 1024, c->samples.data(), c->count);
    if (length < kBlockBytes)
        return; // a short block is no spectrum
    if (SpectrumBlockDue(c->divide, w->settings.divide.load()) && w->remoteConnected)
        fftCalc(c->samples.data(), c->count, w);
}

} // namespace

bool SpectrumBlockDue(DivideCounter* c, int divide) {
    const int d = divide < kDivideMin ? kDivideMin : divide > kDivideMax ? kDivideMax : divide;
    if (c->loadedFrom != 0 && c->loadedFrom != d)
        c->left = static_cast<unsigned>(d);
    c->loadedFrom = d;
    if (--c->left > 0)
        return false;
    c->left = static_cast<unsigned>(d);
    return true;
}

namespace {

void LIBUSB_CALL cb_in(libusb_transfer* transfer) {
    auto* c = static_cast<TransferContext*>(transfer->user_data);
    UsbRun* run = c->run;
    c->inFlight = false;
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        run->err_counter = 0;
        received(c, transfer->actual_length);
        break;
    case LIBUSB_TRANSFER_ERROR:
        LogOut("CB result: Error %d\n", c->index);
        run->err_counter++;
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
        LogOut("CB result: Timedout %d\n", c->index);
        run->err_counter++;
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        LogOut("CB result: Cancelled %d\n", c->index);
        run->err_counter++;
        break;
    case LIBUSB_TRANSFER_STALL:
        LogOut("CB result: Stalled %d\n", c->index);
        run->err_counter++;
        break;
    case LIBUSB_TRANSFER_NO_DEVICE:
        LogOut("CB result: Nodevice %d\n", c->index);
        run->err_counter++;
        break;
    case LIBUSB_TRANSFER_OVERFLOW:
        LogOut("CB result: Overflowed %d\n", c->index);
        run->err_counter++;
        break;
    }
    if (run->err_counter > kMaxFailedTransfers) {
        LogOut("libusb_err_counter (%d), %s:%d\n", run->err_counter, kSource, __LINE__);
        return;
    }
    if (stopping(run))
        return;
    const int r = libusb_submit_transfer(transfer);
    if (r != 0) {
        LogOut("libusb_submit_transfer failed (%d)  %s:%d\n", r, kSource, __LINE__);
        LogErr("libusb_submit_transfer failed (%d)", r);
        fail(run);
        return;
    }
    c->inFlight = true;
}

// Finds, opens and claims the receiver and reads who it is; false (the reason
// printed) when it is not there or not usable.
bool openReceiver(UsbRun* run) {
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(run->ctx, &list);
    if (count > 0 && !plat_usb_bus_visible())
        count = 0; // not this unit's bus
    if (count < 0) {
        LogErrOut("Get Device Error");
        return false;
    }
    bool ok = false, found = false;
    for (ssize_t i = 0; i < count && !found; i++) {
        libusb_device_descriptor d{};
        const int r = libusb_get_device_descriptor(list[i], &d);
        if (r != 0) {
            LogErrOut("Get Device Descriptor %d %d", static_cast<int>(i), r);
            break;
        }
        LogOut("%d vid %04x pid %04x %d\n", static_cast<int>(i), d.idVendor, d.idProduct,
                     libusb_get_device_address(list[i]));
        if (d.idVendor != RX_VENDOR_ID)
            continue;
        found = true;
        if (libusb_open(list[i], &run->dev_handle) != 0) {
            run->dev_handle = nullptr;
            LogErrOut("Cannot open VRN Device");
            break;
        }
        LogOut("VRN Device Opened\n");
        run->status_usb_open = 1;
        if (libusb_kernel_driver_active(run->dev_handle, 0) == 1) {
            LogOut("Kernel Driver Active\n");
            if (libusb_detach_kernel_driver(run->dev_handle, 0) == 0)
                LogOut("Kernel Driver Detached\n");
        }
        if (libusb_claim_interface(run->dev_handle, 0) != 0) {
            LogErrOut("Cannot claim Interface");
            break;
        }
        run->claimed = true;
        LogOut("Interface claimed\n");

        uint8_t reply[1024];
        int r2 = vendorIn(run, 0xFF, 0, 0, reply, 2);
        if (r2 > 0)
            LogOut("USB Driver Version: %d.%d\n", reply[0], reply[1]);
        else
            LogOut("USB Driver Version read failed\n");
        r2 = vendorIn(run, 0xA2, 0x404C, 0x0151, reply, 2);
        if (r2 == 2)
            LogOut("HW Version: %d.%d\n", reply[0], reply[1]);
        else
            LogOut("HW Version read failed\n");
        r2 = vendorIn(run, 0xA2, 0x4000, 0x0151, reply, 32);
        if (r2 != 32) {
            LogErrOut("Serial read failed (%d)", r2);
            break;
        }
        reply[32] = 0;
        LogOut("Serial: %-s\n", reinterpret_cast<char*>(reply));
        if (d.idProduct == RX_PID_TAV) {
            LogInfo("VRN TAV ");
        } else if (d.idProduct == RX_PID_S2) {
            LogErr("VRN S2 ");
            break;
        } else if (d.idProduct == RX_PID_S1) {
            LogErr("VRN S1 ");
            break;
        }
        LogOut("Device caught\n");
        ok = true;
    }
    libusb_free_device_list(list, 1);
    LogOut("libusb devices list freed\n");
    if (!found) {
        LogErrOut("Cannot find VRN Device");
    }
    return ok;
}

// Offsets, FIFO and stream start; false when an offset could not be read.
bool startStream(UsbRun* run) {
    if (!readOffset(run, 0x4028, "Global Offset", &run->globalOffset) ||
        !readOffset(run, 0x402C, "LP Offset", &run->lpOffset) ||
        !readOffset(run, 0x4030, "ATT Offset", &run->attOffset))
        return false;
    uint8_t reply[1024];
    int r = vendorIn(run, 0xE1, 0, 0xE900, reply, 1);
    if (r == 1)
        LogOut("Stop FIFO\n");
    else
        LogOut("Stop FIFO failed (%d)\n", r);
    r = vendorIn(run, 0xE1, 0, 0xE800, reply, 1);
    if (r == 1)
        LogOut("Init FIFO\n");
    else
        LogOut("Init FIFO failed (%d)\n", r);
    r = vendorIn(run, 0xE1, 1, 0xE900, reply, 1);
    if (r != 1 || reply[0] != 0xE9)
        LogOut("Enable SYN failed (%d %02X)\n", r, reply[0]);
    LogOut("SYN Enabled\n");
    return true;
}

bool submitTransfers(UsbRun* run) {
    for (int i = 0; i < kTransfers; i++) {
        TransferContext& c = run->transfers[i];
        c.transfer = libusb_alloc_transfer(0);
        if (!c.transfer) {
            LogErrOut("libusb_alloc_transfer failed");
            return false;
        }
    }
    LogOut("libusb_alloc_transfer succedeed\n");
    for (int i = 0; i < kTransfers; i++) {
        TransferContext& c = run->transfers[i];
        c.index = i;
        c.buffer.assign(kBlockBytes, 0);
        c.samples.assign(kFftFloats, 0.0f);
        c.divide = &run->divide;
        c.works = run->works;
        c.stop = &run->stop;
        c.run = run;
        libusb_fill_bulk_transfer(c.transfer, run->dev_handle, kStreamEndpoint, c.buffer.data(), kBlockBytes,
                                  cb_in, &c, kBulkTimeoutMs);
        const int r = libusb_submit_transfer(c.transfer);
        if (r != 0) {
            LogErrOut("libusb_submit_transfer failed (%d)", r);
            return false;
        }
        c.inFlight = true;
    }
    LogOut("libusb_submit_transfer succedeed\n");
    LogOut("SYN transfer starting\n");
    return true;
}

// Cancels what is in flight and lets it come back, then frees everything.
void closeRun(UsbRun* run) {
    run->stop = true;
    if (run->ctx && inFlight(run) > 0) {
        for (TransferContext& c : run->transfers)
            if (c.inFlight)
                libusb_cancel_transfer(c.transfer);
        const int64_t end = plat_mono_ms() + kCancelWaitMs;
        while (inFlight(run) > 0 && plat_mono_ms() < end) {
            timeval tv{0, 100 * 1000};
            libusb_handle_events_timeout_completed(run->ctx, &tv, nullptr);
        }
    }
    bool leaked = false;
    for (TransferContext& c : run->transfers) {
        if (c.transfer && c.inFlight) {
            leaked = true; // the library still owns it: freeing it now would corrupt memory
        } else if (c.transfer) {
            libusb_free_transfer(c.transfer);
            c.transfer = nullptr;
        }
    }
    if (leaked)
        LogErr("TAVRead: transfers did not come back from the device");
    if (run->dev_handle) {
        if (run->claimed)
            libusb_release_interface(run->dev_handle, 0);
        if (!leaked)
            libusb_close(run->dev_handle);
        run->dev_handle = nullptr;
        run->status_usb_open = 0;
    }
    if (run->ctx && !leaked)
        libusb_exit(run->ctx);
    run->ctx = nullptr;
}

} // namespace

int ScaleBlock(const uint8_t* bytes, int length, float scale, float* out, int count) {
    const int values = std::min(length / 4, count);
    for (int i = 0; i < values; i++) {
        int32_t v;
        std::memcpy(&v, bytes + 4 * i, 4); // little-endian, as the board
        out[i] = static_cast<float>(v) * scale;
    }
    return values;
}

void ExitTavread(Works* w) {
    AddErrore(w, kAlarmRemoteUsb);
    w->setup->EnableFFT = '0';
    w->remoteRestart = 1;
}

void TAVRead(Works* w) {
    LogInfoOut("Operations init kavo-comms version 1.0");
    UsbRun run;
    run.works = w;
    int r = libusb_init(&run.ctx);
    if (r != 0) {
        run.ctx = nullptr;
        LogErrOut("Init Error %d", r);
        fail(&run);
        return;
    }
    libusb_set_option(run.ctx, LIBUSB_OPTION_LOG_LEVEL, 3);
    if (!openReceiver(&run) || !startStream(&run) || !submitTransfers(&run)) {
        closeRun(&run);
        fail(&run);
        return;
    }
    r = 0;
    while (!stopping(&run) && run.err_counter <= kMaxFailedTransfers && inFlight(&run) > 0) {
        timeval tv{0, kEventWaitMs * 1000};
        r = libusb_handle_events_timeout_completed(run.ctx, &tv, nullptr);
        if (r != 0) {
            LogOut("%d\n", r);
            plat_sleep_ms(10); // an error the library keeps returning
        }
    }
    run.stop = true;
    LogOut("libusb_handle events completed (%d)\n", r);
    LogOut("%s Operations end\n", kSource);
    // Switched off or the program ending is no failure; a dead stream is.
    const bool dead = run.err_counter > kMaxFailedTransfers || inFlight(&run) == 0;
    const bool wanted = w->setup->EnableFFT == '1' && w->running && ThreadStillWanted();
    closeRun(&run);
    if (dead && wanted)
        fail(&run);
}
