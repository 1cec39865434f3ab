// The maker's USB panadapter receiver, emulated under Debian's umockdev.
//
// The model puts a USB device of the receiver's vendor into a umockdev testbed
// (sysfs entry and /dev/bus/usb node) and answers the usbdevfs ioctls that the
// unmodified libusb sends to it: capabilities, driver query and detach,
// interface claim and release, and URBs (control requests of the receiver, bulk
// IN on endpoint 0x86) submitted, reaped and discarded. A process sees the
// device when it runs with LD_PRELOAD=libumockdev-preload.so.0 and the
// testbed's UMOCKDEV_DIR (UsbRxModelEnvironment), the model's own process
// included.
//
// The stream is signed 32-bit little-endian I/Q at a steady rate: tones at
// chosen offsets over a little noise, so the spectrum's peaks fall on bins a
// test can compute. A block completes when the stream time says it is ready,
// judged inside the reap (the node is a plain file, so libusb reaps without
// pause).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct UsbRxTone {
    double offsetHz;  // from the centre, negative below it
    double amplitude; // fraction of full scale
};

struct UsbRxModelConfig {
    uint16_t product = 0x05DC;
    double sampleRate = 192000.0; // complex samples per second
    std::vector<UsbRxTone> tones;
    double noise = 1e-5; // RMS fraction of full scale, on I and on Q
    // The tones move by this much from one block to the next (block 1 has them
    // at their offsets), so a spectrum tells which block it came from.
    double stepHzPerBlock = 0.0;
    float globalOffset = 21.4f;
    float lpOffset = 3.0f;
    float attOffset = 20.0f;
    uint8_t driverMajor = 2, driverMinor = 7;
    uint8_t hwMajor = 1, hwMinor = 3;
    std::string serial = "KV2026-000417";
    bool kernelDriver = false; // a kernel driver holds interface 0 until detached
};

// Requests of the receiver, as the model tells them apart.
enum class UsbRxRequest { DriverVersion, HwVersion, Serial, GlobalOffset, LpOffset, AttOffset,
    StopFifo, InitFifo, EnableStream, Other };

enum class UsbRxFault {
    None,
    Refuse,  // the submission itself fails (EIO)
    Stall,   // the request completes with a stall (EPIPE)
    Timeout, // never answered; only the host's cancel ends it
    Short,   // one byte less than asked for
    Wrong,   // the enable request answers a byte other than 0xE9
};

struct UsbRxModel;

// Creates the testbed and the device; nullptr (and *err) when umockdev is not
// there. Sets UMOCKDEV_DIR in this process's environment.
UsbRxModel* UsbRxModelStart(const UsbRxModelConfig& cfg, std::string* err);
// Removes the testbed; nullptr is ignored.
void UsbRxModelStop(UsbRxModel* m);
// True when this build has the model (umockdev was found).
bool UsbRxModelAvailable();
// True when another program may be run under the model's preload library. Not
// in a ThreadSanitizer build: that library calls the C library directly, past
// the sanitizer, so the program's descriptors would look shared unordered.
bool UsbRxModelPreloadable();
// "LD_PRELOAD=..." and "UMOCKDEV_DIR=..." for a program that should see the device.
std::vector<std::string> UsbRxModelEnvironment(UsbRxModel* m);

void UsbRxModelSetFault(UsbRxModel* m, UsbRxRequest r, UsbRxFault f);
// The next `count` bulk transfers complete with this usbdevfs status (-EPIPE a
// stall, -EPROTO an error, -EOVERFLOW an overflow) instead of data.
void UsbRxModelFailBlocks(UsbRxModel* m, int count, int status);
// The next `count` blocks carry only `bytes` bytes.
void UsbRxModelShortBlocks(UsbRxModel* m, int count, int bytes);
// Stops completing bulk transfers (the host's time-out then ends each), or goes on.
void UsbRxModelHoldStream(UsbRxModel* m, bool held);
// Unplugs the device: pending transfers are reaped with ESHUTDOWN, every other
// call fails with ENODEV, and it leaves the bus.
void UsbRxModelUnplug(UsbRxModel* m);
void UsbRxModelSetTones(UsbRxModel* m, const std::vector<UsbRxTone>& tones);

struct UsbRxStats {
    int opens = 0;                    // device node opened
    int claims = 0, releases = 0;     // interface 0
    int detaches = 0;                 // kernel driver detached
    int urbsInFlight = 0;             // submitted, not yet reaped
    long long blocks = 0;             // bulk transfers completed with data
    long long discarded = 0;          // transfers the host cancelled
    int bulkSubmitMax = 0;            // the largest bulk transfer asked for
    long long inBufferReads = 0;      // bulk IN buffers read from the host (the kernel reads none)
    std::vector<UsbRxRequest> requests; // control requests in order of arrival
    std::vector<std::string> unknown;   // ioctls the model did not know, as hex
};
UsbRxStats UsbRxModelStats(UsbRxModel* m);
// Waits up to `ms` for at least `blocks` blocks in all.
bool UsbRxModelWaitBlocks(UsbRxModel* m, long long blocks, int ms);
