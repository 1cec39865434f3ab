// A whole 800 x 480 picture against its reference PNG, tests/reference/NAME.png.
// A reference is made (or remade after an intended change) by running the test
// with PANEL_UPDATE_REFERENCES=1 and looking at the written PNG before
// committing it. A failing comparison leaves the picture it got in the current
// directory as NAME-actual.png.
#pragma once

#include "devsim/PngFile.h"

#include <cstdint>
#include <cstdlib>

// A pixel differs when a channel is off by more than this; a picture matches
// when at most kMaxDiffering pixels differ: a few text edges may shift by a
// shade with another FreeType build, but one changed digit is already more.
constexpr int kChannelTolerance = 24;
constexpr int kMaxDiffering = 16;

// `bgr0`: the picture's pixels as the framebuffer holds them (B, G, R, 0).
inline void ExpectPictureMatches(const uint8_t* bgr0, const std::string& name,
                                 const std::string& actualDir) {
    // 800 x 480, 8-bit RGBA.
    SimPng got{800, 480, 8, 6, std::vector<uint8_t>(800 * 480 * 4)};
    for (size_t i = 0; i < 800 * 480 * 4; i += 4) {
        got.data[i] = bgr0[i + 2];
        got.data[i + 1] = bgr0[i + 1];
        got.data[i + 2] = bgr0[i];
        got.data[i + 3] = 255;
    }
    const std::string ref = std::string(PANEL_REFERENCE_DIR) + "/" + name + ".png";
    if (std::getenv("PANEL_UPDATE_REFERENCES")) {
        ASSERT_TRUE(SimPngWrite(got, ref));
        GTEST_SKIP() << "wrote " << ref;
    }
    SimPng want;
    ASSERT_TRUE(SimPngReadRgba(ref, &want)) << ref;
    ASSERT_EQ(want.width, 800);
    ASSERT_EQ(want.height, 480);
    int differing = 0;
    for (size_t i = 0; i < got.data.size(); i += 4) {
        bool off = false;
        for (int c = 0; c < 3; c++)
            off |= std::abs(got.data[i + c] - want.data[i + c]) > kChannelTolerance;
        differing += off;
    }
    if (differing > kMaxDiffering) {
        const std::string actual = actualDir + "/" + name + "-actual.png";
        SimPngWrite(got, actual);
        ADD_FAILURE() << name << ": " << differing << " pixels differ from " << ref << "; got "
                      << actual;
    }
}
