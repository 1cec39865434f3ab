// A fixture that runs the real panel program in a fresh root folder.
#pragma once

#include "TestRoot.h"

#include "devsim/Keyboard.h"
#include "devsim/PanelProcess.h"
#include "devsim/SimRoot.h"

#include <linux/input.h>

class PanelRun : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string err;
        SimRootOptions opt;
        opt.fbgrabTool = SIM_FBGRAB_EXE;
        ASSERT_TRUE(SimRootCreate(dir.path, opt, &err)) << err;
        ASSERT_TRUE(SimKeyboardOpen(&kbd, SimKeyboardFifo(dir.path)));
    }
    void TearDown() override {
        PanelKill(&panel);
        SimKeyboardClose(&kbd);
    }
    // The program's clock runs `timeScale` times faster than the wall clock, so
    // that the splash and the closing message take a fraction of their time.
    void start(int timeScale = 4) {
        std::string err;
        ASSERT_TRUE(PanelStart(&panel, PANEL_EXE, dir.path, PANEL_SKINS_DIR, &err, timeScale))
            << err;
    }
    // Ends the program with F12, once its keyboard thread reads the keys, and
    // expects a clean exit.
    void stop() {
        ASSERT_TRUE(logged("6 Keyboard opened", 15000)) << syslog();
        ASSERT_TRUE(SimKeyboardTap(&kbd, KEY_F12));
        ASSERT_TRUE(PanelWait(&panel, 15000)) << output();
        EXPECT_EQ(panel.exitStatus, 0);
    }
    std::string syslog() const { return ReadFile(dir.path + "/syslog.log"); }
    std::string output() const { return ReadFile(dir.path + "/panel.out"); }
    bool logged(const std::string& text, int timeoutMs) {
        return WaitFor([&] { return Contains(syslog(), text); }, timeoutMs);
    }
    bool printed(const std::string& text, int timeoutMs) {
        return WaitFor([&] { return Contains(output(), text); }, timeoutMs);
    }

    TempDir dir;
    SimKeyboard kbd;
    PanelProcess panel;
};
