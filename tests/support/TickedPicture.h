// The refresh tick's set-up: the shared record with an 800 x 480 picture in
// memory, the panel's fonts and the test's own clock, so that pictures come out
// the same in every run. With `skins`, the working directory is the skins'
// folder, where the tick reads them; otherwise skin loads are refused.
#pragma once

#include "RootedWorks.h"

#include "draw/Fb.h"
#include "ui/Time.h"

#include <filesystem>

class TickedPicture : public RootedWorks {
  protected:
    explicit TickedPicture(bool skins = false) : skins(skins) {}
    static void SetUpTestSuite() { LoadSimFonts(); }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useManualClock();
        if (skins) std::filesystem::current_path(PANEL_SKINS_DIR);
        TimerInit(w.get());
        fb = fbInitMemory(800, 480, 32);
        w->fb = fb;
        w->lastKeyTime = static_cast<int64_t>(plat_mono_s());
    }
    void TearDown() override {
        fbRelease(fb, true);
        std::filesystem::current_path(old);
        RootedWorks::TearDown();
    }

    const bool skins;
    const std::filesystem::path old = std::filesystem::current_path();
    FrameBuffer* fb = nullptr;
};
