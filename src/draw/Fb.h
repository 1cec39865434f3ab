// The framebuffer: the panel's device memory and two off-screen pictures.
//
// Every page is composed off screen: the stored background (`back`) is copied
// into `work`, drawn over, and `work` is copied to the device in one step, so the
// panel never shows a half-drawn picture.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct FrameDamage;
struct FrameBuffer;

// A pixel rectangle [x0, x1) x [y0, y1).
struct PixelRect {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};
bool fbOverlaps(const PixelRect& a, const PixelRect& b);
int64_t fbArea(const PixelRect& r);
// Overlapping rectangles become one (a pixel is then copied once), and past
// `most` the pair that grows least when merged is merged.
void fbMergeRects(std::vector<PixelRect>* rects, size_t most);

// The recording layer above the pictures (draw/Damage.h) attaches itself to a
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
    FrameDamage* damage; // what the refresh ticks drew, once a tick attached it (draw/Damage.h)
    const FbRecorderHooks* recorder; // set with `damage`
    // What reached the screen since a watcher (the browser console) last took
    // it, kept while `watched`, under the picture lock.
    std::atomic<bool> watched{false};
    bool shownWhole = false;
    std::vector<PixelRect> shown;
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

// The whole-picture copies. Inside a refresh tick (draw/Damage.h) fbSetBack only
// drops what the tick recorded so far (the tick composes from the background at
// its end), and fbRealize first draws the record.
void fbRealize(FrameBuffer* fb); // work -> screen
// Tells the watcher that `r` (null: the whole picture) reached the screen.
void fbShown(FrameBuffer* fb, const PixelRect* r);
constexpr size_t kShownRects = 16;
void fbSetBack(FrameBuffer* fb); // back -> work
