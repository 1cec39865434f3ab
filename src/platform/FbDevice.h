// The framebuffer device.
//
// On the amplifier "/dev/fb0" is the panel's Linux framebuffer. Under a root
// folder a regular file at DIR/dev/fb0 stands for it: an 800 x 480 panel of
// 32-bit pixels (bytes B, G, R, 0) that other processes can map to see the
// picture. The screen-information calls answer for that virtual panel.
#pragma once

#include <cstddef>

struct fb_var_screeninfo;

constexpr int kVirtualPanelWidth = 800;
constexpr int kVirtualPanelHeight = 480;
constexpr int kVirtualPanelBpp = 32;

// Opens the device read-write; -1 on failure (errno set).
int plat_fb_open(const char* path);
// FBIOGET_VSCREENINFO / FBIOPUT_VSCREENINFO; 0 on success.
int plat_fb_get_vscreeninfo(int fd, fb_var_screeninfo* vi);
int plat_fb_put_vscreeninfo(int fd, fb_var_screeninfo* vi);
// Maps `size` bytes shared and read-write from offset 0 (a virtual panel file
// is grown to that size first); nullptr on failure.
void* plat_fb_map(int fd, size_t size);
