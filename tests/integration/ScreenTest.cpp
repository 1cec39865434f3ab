// What the panel shows from start-up to shutdown: the count-down over the
// start picture, the plain "statusB" picture after it, the closing message.
#include "PanelFixture.h"

#include "devsim/PngFile.h"
#include "devsim/Screen.h"

#include <linux/input.h>

namespace {

struct Box {
    int x0, y0, x1, y1;
    bool holds(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// Pixels of the screen that differ from the skin, outside `box`; and how many
// white-ish pixels lie inside it.
void compare(const SimScreen& s, const SimPng& skin, const Box& box, int* outside, int* whiteIn) {
    *outside = 0;
    *whiteIn = 0;
    for (int y = 0; y < s.height; y++)
        for (int x = 0; x < s.width; x++) {
            uint8_t r, g, b;
            SimScreenPixel(s, x, y, &r, &g, &b);
            const uint8_t* k = &skin.data[(static_cast<size_t>(y) * skin.width + x) * 4];
            if (box.holds(x, y))
                *whiteIn += r > 200 && g > 200 && b > 200 && (k[0] < 150 || k[1] < 150);
            else
                *outside += r != k[0] || g != k[1] || b != k[2];
        }
}

class Screens : public PanelRun {
  protected:
    SimPng skin(const char* name) {
        SimPng p;
        EXPECT_TRUE(SimPngReadRgba(std::string(PANEL_SKINS_DIR) + "/" + name + ".png", &p));
        return p;
    }
    SimScreen screen() {
        SimScreen s;
        EXPECT_TRUE(SimScreenRead(SimFbPath(dir.path), &s));
        return s;
    }
};

TEST_F(Screens, CountDownThenStatusPictureThenClosingMessage) {
    // Without the refresh thread the start-up pictures stay as they are drawn.
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/setup.txt", "EnableTime: 0\n"));
    start(2); // slow enough to catch each picture

    SimPng start = skin("start"), statusB = skin("statusB");
    ASSERT_EQ(start.width, 800);

    // The count-down: "Loading ... 4" over the start picture, nothing else changed.
    ASSERT_TRUE(printed("Time Loading ... 4..", 8000)) << output();
    const Box text{295, 365, 560, 412};
    int outside = -1, white = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            compare(screen(), start, text, &outside, &white);
            return outside == 0 && white > 50;
        },
        3000))
        << "outside " << outside << " white " << white;

    // After the splash: exactly the statusB picture.
    ASSERT_TRUE(printed("keyb open..", 10000)) << output();
    compare(screen(), statusB, Box{0, 0, 0, 0}, &outside, &white);
    EXPECT_EQ(outside, 0);

    // F12: the start picture with the closing message at (330, 400); its end runs
    // past the right edge and on at the left of the next row.
    ASSERT_TRUE(logged("Keyboard opened", 15000));
    ASSERT_TRUE(SimKeyboardTap(&kbd, KEY_F12));
    const Box closing{0, 365, 800, 413};
    ASSERT_TRUE(WaitFor(
        [&] {
            compare(screen(), start, closing, &outside, &white);
            return outside == 0 && white > 200;
        },
        4000))
        << "outside " << outside << " white " << white;
    ASSERT_TRUE(PanelWait(&panel, 15000));
    EXPECT_EQ(panel.exitStatus, 0);
}

} // namespace
