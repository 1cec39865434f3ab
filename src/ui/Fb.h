// The framebuffer: the panel's device memory and two off-screen pictures.
//
// Every page is composed off screen: the stored background (`back`) is copied
// into `work`, drawn over, and `work` is copied to the device in one step, so the
// panel never shows a half-drawn picture.
#pragma once

#include <cstdint>
#include <mutex>

struct FrameDamage;
struct FrameBuffer;

// The recording layer above the pictures (ui/Damage.h) attaches itself to a
// framebuffer with these: the whole-picture copies below tell it before they
// write, so that a refresh tick's record never goes stale unnoticed.
struct FbRecorderHooks {
    // Whatever writes a picture outside the record: the record is drawn first.
    void (*touched)(FrameBuffer* fb);
    // The background is wanted in the work picture: true when the record did
    // what that means for it (inside a tick it only drops what was recorded).
    bool (*setBack)(FrameBuffer* fb);
    void (*release)(FrameDamage* damage);
};

struct FrameBuffer {
    int32_t width;
    int32_t height;
    int32_t memSize;   // bytes of one picture
    int32_t lineSize;  // bytes of one row: pixelSize x width
    int32_t pixelSize; // 1, 2, 3 or 4
    uint8_t* screen;   // device memory, mapped shared
    uint8_t* work;     // the picture being composed
    uint8_t* back;     // the stored background of the page
    FrameDamage* damage; // what the refresh ticks drew, once a tick attached it (ui/Damage.h)
    const FbRecorderHooks* recorder; // set with `damage`
};

// Opens and maps "/dev/fb0"; nullptr (after logging why) on failure.
FrameBuffer* fbInit();
// Builds the descriptor for an open device of the given geometry (the steps of
// fbInit after the screen information is known); nullptr on failure.
FrameBuffer* fbInitFromInfo(int fd, int xres, int yres, int bitsPerPixel);
// A framebuffer whose screen is ordinary memory, for running without a panel.
FrameBuffer* fbInitMemory(int xres, int yres, int bitsPerPixel);

// Unmaps and frees a framebuffer. The program keeps its one framebuffer to exit;
// tests and tools that make several release them. `fromMemory` tells which
// constructor made it.
void fbRelease(FrameBuffer* fb, bool fromMemory);

// The pictures are drawn by several threads (refresh, keys, start-up); one
// picture is changed by one of them at a time under this lock, taken around a
// whole tick or page change (it may be taken again by the thread holding it).
std::recursive_mutex& PictureMutex();
using PictureLock = std::lock_guard<std::recursive_mutex>;

// The whole-picture copies. Inside a refresh tick (ui/Damage.h) fbSetBack only
// drops what the tick recorded so far (the tick composes from the background at
// its end), and fbRealize first draws the record.
void fbRealize(FrameBuffer* fb); // work -> screen
void fbSetBack(FrameBuffer* fb); // back -> work
