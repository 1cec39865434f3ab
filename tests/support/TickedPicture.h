// The refresh tick's set-up: the shared record with an 800 x 480 picture in
// memory, the panel's fonts and the test's own clock, so that pictures come out
// the same in every run. With `skins`, the working directory is the skins'
// folder, where the tick reads them; otherwise skin loads are refused.
#pragma once

#include "RootedWorks.h"

#include "ui/Time.h"

class TickedPicture : public RootedWorks {
  protected:
    explicit TickedPicture(bool skins = false) : skins(skins) {}
    static void SetUpTestSuite() { LoadSimFonts(); }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useManualClock();
        usePicture(skins ? PANEL_SKINS_DIR : "");
        TimerInit(w.get());
    }

    const bool skins;
};
