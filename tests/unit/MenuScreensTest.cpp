// The text screens of the menu: the three menu lines over their bands, the lit
// octet of an address and the lit symbol of the remote code being edited, the memory table with its selected row and
// cell, the firmware-update notice and the status page in both units.
//
// Each picture is compared, pixel for pixel, with a reference built from the
// layout alone: the bands filled byte by byte, and every expected text drawn
// with its font and colour at its place into a blank picture. A text at another
// place, in another font or colour, or one too many or too few, makes them differ.
#include "RootedWorks.h"

#include "amp/Alarms.h"
#include "draw/Fb.h"
#include "ui/Keys.h"
#include "ui/Menu.h"
#include "ui/Network.h"
#include "ui/Nuova.h"
#include "draw/TTF.h"
#include "ui/Time.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << int(c.r) << ", " << int(c.g) << ", " << int(c.b) << ")";
}

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kOrange{250, 150, 0};
constexpr Rgb kLight{250, 250, 250};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBand{40, 40, 40};
constexpr Rgb kCurrentBand{80, 80, 80};

const char* const kDeg = "\xC2\xB0";

class MenuScreens : public RootedWorks {
  protected:
    static void SetUpTestSuite() { LoadSimFonts(); }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useManualClock();
        fb = blank();
        ref = blank();
        w->fb = fb;
        w->startupFlags.replace(0); // alarms are taken
        w->deviceErrorCode = 0;
        w->serviceFlags.replace(0);
        w->pages.viewFlags.replace(0);
        setup->serialLinkEnabled = '1';
        w->remotePassword.set("ABCDEFGH2345"); // a unit's own code is random
    }
    void TearDown() override {
        fbRelease(fb, true);
        fbRelease(ref, true);
        RootedWorks::TearDown();
    }
    static FrameBuffer* blank() {
        FrameBuffer* f = fbInitMemory(800, 480, 32);
        std::memset(f->work, 0, static_cast<size_t>(f->memSize));
        return f;
    }
    static Rgb px(const FrameBuffer* f, int x, int y) {
        const uint8_t* p = f->work + y * f->lineSize + x * 4; // B, G, R, 0
        return {p[2], p[1], p[0]};
    }
    // Rows y0..y1 and columns x0..x1, both inclusive, in one colour.
    static void fill(FrameBuffer* f, int x0, int x1, int y0, int y1, Rgb c) {
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                uint8_t* p = f->work + y * f->lineSize + x * 4;
                p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
            }
    }
    static void text(FrameBuffer* f, int font, int x, int y, const std::string& s, Rgb c) {
        putString(font, x, y, s.c_str(), c.r, c.g, c.b, f);
    }
    // Right-aligned to end at x 790.
    static void value(FrameBuffer* f, int font, int y, const std::string& s, Rgb c) {
        text(f, font, 790 - getStringSpace(font, s.c_str()), y, s, c);
    }
    // Pixels whose colour differs between the two pictures; `where` tells
    // the box they lie in.
    static int differing(const FrameBuffer* a, const FrameBuffer* b, std::string* where = nullptr) {
        int n = 0, x0 = 800, x1 = -1, y0 = 480, y1 = -1;
        for (int o = 0; o < a->memSize; o += 4)
            if (std::memcmp(a->work + o, b->work + o, 3) != 0) {
                n++;
                const int x = (o % a->lineSize) / 4, y = o / a->lineSize;
                x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y),
                y1 = std::max(y1, y);
            }
        if (where)
            *where = n ? "x " + std::to_string(x0) + ".." + std::to_string(x1) + ", y " +
                             std::to_string(y0) + ".." + std::to_string(y1)
                       : "";
        return n;
    }
    // The work picture against the reference.
    void expectSame() {
        std::string where;
        EXPECT_EQ(differing(fb, ref, &where), 0) << "differing pixels within " << where;
    }
    // Pixels of `f` in the box that are exactly `c`.
    static int countColour(const FrameBuffer* f, int x0, int x1, int y0, int y1, Rgb c) {
        int n = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                n += px(f, x, y) == c;
        return n;
    }

    struct Line {
        std::string number, title, item, value;
    };
    // The menu bands and three lines as the layout places them. `current` draws
    // the middle line's value (an address in parts draws it itself).
    void menuReference(bool statusOpen, const Line (&lines)[3], int page,
                       bool drawCurrentValue = true) {
        const int top = statusOpen ? 335 : 285, cur = statusOpen ? 361 : 311;
        fill(ref, 1, 798, top, top + 79, kBand);
        fill(ref, 1, 798, cur, cur + 28, kCurrentBand);
        const int base[3] = {statusOpen ? 355 : 305, statusOpen ? 385 : 335,
                             statusOpen ? 410 : 360};
        for (int i = 0; i < 3; i++) {
            const bool current = i == 1;
            const int font = current ? 7 : 1;
            const Rgb c = current ? kWhite : kOrange;
            text(ref, font, 20, base[i], lines[i].number, c);
            text(ref, font, 70, base[i], lines[i].title, c);
            text(ref, font, 350, base[i], lines[i].item, c);
            if (!current)
                value(ref, 11, base[i], lines[i].value, kOrange);
            else if (drawCurrentValue && page == kPageMenuChoose)
                value(ref, 0, base[i], lines[i].value, kWhite);
            else if (drawCurrentValue)
                value(ref, 7, base[i], lines[i].value, kLight);
        }
    }
    void draw(int page) {
        w->pages.keyPage = page;
        DrawParameters(w.get());
    }

    FrameBuffer* fb = nullptr;
    FrameBuffer* ref = nullptr;
};

TEST_F(MenuScreens, ChoosingAnEntryShowsItBetweenItsNeighbours) {
    w->pages.menuEntry = 0;
    w->MAXbank = 20;
    w->settings.freqSensIn = 0;
    draw(kPageMenuChoose);

    // The bands: full width from x 1 to 798, rows 285..364, the current line 311..339.
    EXPECT_EQ(px(fb, 1, 285), kBand);
    EXPECT_EQ(px(fb, 798, 364), kBand);
    EXPECT_EQ(px(fb, 5, 310), kBand);
    EXPECT_EQ(px(fb, 5, 340), kBand);
    EXPECT_EQ(px(fb, 1, 311), kCurrentBand);
    EXPECT_EQ(px(fb, 798, 339), kCurrentBand);
    for (int y : {284, 365})
        EXPECT_EQ(px(fb, 5, y), kBlack) << y;
    for (int x : {0, 799})
        EXPECT_EQ(px(fb, x, 320), kBlack) << x;
    // Values end at x 790: nothing but the bands right of it.
    EXPECT_EQ(countColour(fb, 791, 798, 285, 310, kBand) +
                  countColour(fb, 791, 798, 340, 364, kBand),
              8 * (26 + 25));
    EXPECT_EQ(countColour(fb, 791, 798, 311, 339, kCurrentBand), 8 * 29);

    SetSettingNumber(w.get(), "HamlibPoll", 200);
    const Line lines[3] = {{"102 -", "HAMLIB RIG", "Poll (ms)", "200"},
                           {"1 -", "MAX BANK", " ", "20"},
                           {"2 -", "FREQ", "Input Sens", "FQ1"}};
    menuReference(false, lines, kPageMenuChoose);
    expectSame();

    // The comparison tells a font and a pixel apart: the current value in the
    // editing font, or the title one pixel off, would not pass.
    FrameBuffer* other = blank();
    std::swap(ref, other);
    menuReference(false, lines, kPageMenuEdit);
    EXPECT_GT(differing(fb, ref), 0);
    std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    const Line shifted[3] = {lines[0], {"1 -", " MAX BANK", " ", "20"}, lines[2]};
    menuReference(false, shifted, kPageMenuChoose);
    EXPECT_GT(differing(fb, ref), 0);
    std::swap(ref, other);
    fbRelease(other, true);
}

TEST_F(MenuScreens, TheLastEntryWrapsToTheFirst) {
    w->pages.menuEntry = MenuEntryCount() - 1;
    SetSettingNumber(w.get(), "HamlibSpeed", 38400);
    SetSettingNumber(w.get(), "HamlibPoll", 500);
    w->MAXbank = 12;
    draw(kPageMenuChoose);
    const Line lines[3] = {{"101 -", "HAMLIB RIG", "Speed", "38400"},
                           {"102 -", "HAMLIB RIG", "Poll (ms)", "500"},
                           {"1 -", "MAX BANK", " ", "12"}};
    menuReference(false, lines, kPageMenuChoose);
    expectSame();
}

TEST_F(MenuScreens, NeighboursShowItemZeroAndTheCurrentLineItsOwnItem) {
    // On another item the current entry has neither an item name nor a value,
    // while its neighbour of the same kind still shows item 0's value.
    w->pages.menuEntry = 18;
    w->pages.menuItem = 1;
    w->settings.viewTimeStr = 0;
    w->settings.tempMode = 1;
    w->settings.pwrPeakEnabled = 0;
    draw(kPageMenuChoose);
    const Line lines[3] = {{"50 -", "VIEW SCREEN", "DateTime", "OFF"},
                           {"51 -", "TEMPERATURE UNITS", "", ""},
                           {"52 -", "PEAK POWER METER", " ", "OFF"}};
    menuReference(false, lines, kPageMenuChoose);
    expectSame();
}

TEST_F(MenuScreens, EditingWithTheStatusPageOpenMovesTheLinesDown) {
    w->pages.viewFlags.replace(1);
    w->pages.menuEntry = 21;
    w->settings.maxTemperature = 60.0f;
    w->settings.TimerPeakSec = 3000;
    w->settings.powerUnits = 0;
    draw(kPageMenuEdit);
    EXPECT_EQ(px(fb, 1, 335), kBand);
    EXPECT_EQ(px(fb, 798, 414), kBand);
    EXPECT_EQ(px(fb, 5, 360), kBand);
    EXPECT_EQ(px(fb, 5, 361), kCurrentBand);
    EXPECT_EQ(px(fb, 5, 389), kCurrentBand);
    EXPECT_EQ(px(fb, 5, 390), kBand);
    EXPECT_EQ(px(fb, 5, 334), kBlack);
    EXPECT_EQ(px(fb, 5, 415), kBlack);
    const Line lines[3] = {{"53 -", "PEAK POWER METER", "Release Time (ms)", "3000"},
                           {"54 -", "TEMPERATURE ALARM", " SET POINT", "60.00"},
                           {"55 -", "SET POWER UNITS", " ", "Watt"}};
    menuReference(true, lines, kPageMenuEdit);
    expectSame();
}

TEST_F(MenuScreens, TheOctetBeingEditedIsLit) {
    const uint8_t ip[4] = {192, 168, 1, 20}, mask[4] = {255, 255, 255, 0};
    for (int i = 0; i < 4; i++)
        lan.IP_v[i] = ip[i], lan.NetMask_v[i] = mask[i];
    w->remoteEnabled = 0;
    w->pages.menuEntry = 9;
    struct Case {
        int cursor;
        const char *before, *under, *after;
    } cases[] = {
        {1, "192.", "168", ".1.20"}, {3, "192.168.1.", "20", ""}, {0, "", "192", ".168.1.20"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cursor);
        std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
        std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
        lan.CntIP = c.cursor;
        draw(kPageMenuEdit);
        const Line lines[3] = {{"9 -", "TAV ZIM USE MODE", " ", "Local"},
                               {"10 -", "NETWORK LAN", "IP", ""},
                               {"11 -", "NETWORK LAN", "SUBNET", "255.255.255.0"}};
        menuReference(false, lines, kPageMenuEdit, false);
        const int wb = getStringSpace(7, c.before), wu = getStringSpace(7, c.under),
                  wa = getStringSpace(7, c.after);
        const int x = 790 - (wb + wu + wa);
        text(ref, 7, x, 335, c.before, kOrange);
        text(ref, 7, x + wb, 335, c.under, kLight);
        text(ref, 7, x + wb + wu, 335, c.after, kOrange);
        expectSame();
        // Only the octet's own columns carry the light colour, and the rest of
        // the address is orange (a slanted glyph may lean a few pixels over).
        constexpr int lean = 4;
        EXPECT_GT(countColour(fb, x + wb, x + wb + wu - 1, 311, 339, kLight), 10);
        EXPECT_EQ(countColour(fb, x + wb + lean, x + wb + wu - lean, 311, 339, kOrange), 0);
        EXPECT_EQ(countColour(fb, x - lean, x + wb - lean, 311, 339, kLight) +
                      countColour(fb, x + wb + wu + lean, 798, 311, 339, kLight),
                  0);
        if (wb > 0) {
            EXPECT_GT(countColour(fb, x, x + wb, 311, 339, kOrange), 10);
        }
        if (wa > 0) {
            EXPECT_GT(countColour(fb, x + wb + wu, 798, 311, 339, kOrange), 10);
        }
    }
    // While choosing, the address is one white value.
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    draw(kPageMenuChoose);
    const Line lines[3] = {{"9 -", "TAV ZIM USE MODE", " ", "Local"},
                           {"10 -", "NETWORK LAN", "IP", "192.168.1.20"},
                           {"11 -", "NETWORK LAN", "SUBNET", "255.255.255.0"}};
    menuReference(false, lines, kPageMenuChoose);
    expectSame();
}

TEST_F(MenuScreens, TheCodeSymbolBeingEditedIsLit) {
    w->pages.menuEntry = 27;
    w->pages.newCodeArmed = 1;
    const Line before[3] = {{"93 -", "REMOTE TX LIMIT", " ", "180 s"},
                            {"94 -", "REMOTE CODE", " ", ""},
                            {"95 -", "NEW REMOTE CODE", " ", "New code?"}};
    // Before any key the cursor is on the first symbol; then PLUS, RIGHT twice
    // and MINUS: the third symbol is lit, and the code in use stays.
    struct Case {
        std::vector<int> actions;
        const char *left, *under, *right;
    } cases[] = {{{}, "", "A", "BCDEFGH2345"},
                 {{kMenuPlus, kMenuRight, kMenuRight, kMenuMinus}, "BB", "B", "DEFGH2345"},
                 {{kMenuLeft, kMenuLeft, kMenuLeft}, "BBBDEFGH234", "5", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.under);
        for (int a : c.actions)
            ModifyParameter(w.get(), a);
        std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
        std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
        draw(kPageMenuEdit);
        menuReference(false, before, kPageMenuEdit, false);
        const int wl = getStringSpace(7, c.left), wu = getStringSpace(7, c.under),
                  wr = getStringSpace(7, c.right);
        const int x = 790 - (wl + wu + wr);
        text(ref, 7, x, 335, c.left, kOrange);
        text(ref, 7, x + wl, 335, c.under, kLight);
        text(ref, 7, x + wl + wu, 335, c.right, kOrange);
        expectSame();
        EXPECT_GT(countColour(fb, x + wl, x + wl + wu - 1, 311, 339, kLight), 10);
        EXPECT_EQ(countColour(fb, x - 4, x + wl - 4, 311, 339, kLight) +
                      countColour(fb, x + wl + wu + 4, 798, 311, 339, kLight),
                  0);
    }
    // While choosing, the code is one white value: the edit not yet saved is
    // dropped when the editing page opens again.
    MenuEditStarts(w.get());
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    draw(kPageMenuChoose);
    const Line choosing[3] = {before[0], {"94 -", "REMOTE CODE", " ", "ABCDEFGH2345"}, before[2]};
    menuReference(false, choosing, kPageMenuChoose);
    expectSame();
}

TEST_F(MenuScreens, NothingWhileADeviceErrorIsShown) {
    w->deviceErrorCode = 3;
    draw(kPageMenuChoose);
    w->pages.viewFlags.replace(2);
    draw(kPageMemTable);
    w->serviceFlags.replace(4);
    draw(kPageMain);
    expectSame();
}

TEST_F(MenuScreens, FirmwareUpdateNoticeAloneOnTheOtherPages) {
    const char* notice = "FW UPDATE: please update fw with FlashMagic and then Reset HW";
    w->serviceFlags.replace(4);
    w->pages.keyNotice.replace(4); // a notice of the operating page is not drawn over it
    draw(kPageMain);
    text(ref, 8, 100, 400, notice, kLight);
    expectSame();
    // Also instead of the memory table.
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    w->pages.viewFlags.replace(2);
    w->antennaRowCount = 2;
    draw(kPageMemTable);
    expectSame();
    // The menu pages show the menu, not the notice.
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    w->pages.viewFlags.replace(0);
    draw(kPageMenuChoose);
    EXPECT_EQ(countColour(fb, 0, 799, 370, 479, kBlack), 800 * 110);
    EXPECT_EQ(px(fb, 5, 320), kCurrentBand);
}

class MemoryTable : public MenuScreens {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MenuScreens::SetUp());
        w->pages.viewFlags.replace(2);
        w->NumBanco = 4;
        w->ModeWorkIdx = 1;
        struct R {
            const char* name;
            float pwr;
            uint8_t att, amp, ant, bypass;
        } rows[3] = {
            {"160m", 50.0f, 0, 1, 1, 0}, {"40m", 7.5f, 2, 0, 3, 1}, {"10m", 100.0f, 3, 1, 2, 0}};
        for (int i = 0; i < 3; i++) {
            AntennaRow& r = w->antennaTable[i];
            r.name.set(rows[i].name);
            r.pwr = rows[i].pwr;
            r.attStep = rows[i].att;
            r.ampEnable = rows[i].amp;
            r.antenna = rows[i].ant;
            r.atuBypass = rows[i].bypass;
        }
        w->antennaRowCount = 3;
        w->pages.editRow = 1;
    }
    // The view with row 1 selected and `column` of it as the selected cell.
    void reference(int column) {
        text(ref, 0, 100, 50, " Memory Table Bank 4 - Interface: VRNTAV", kOrange);
        text(ref, 8, 50, 100, "N     Band     Pwr    Att(dB)  AmpEnable    Ant       Atu", kWhite);
        const char* cells[3][7] = {{"1", "160m", "50.0", "0", "On", "1", "On"},
                                   {"2", "40m", "7.5", "3", "Off", "3", "Off"},
                                   {"3", "10m", "100.0", "5", "On", "2", "On"}};
        const int xs[7] = {50, 90, 170, 250, 350, 470, 540};
        for (int row = 0; row < 3; row++) {
            const Rgb c = row == 1 ? kOrange : kLight;
            for (int col = 0; col < 7; col++) {
                if (row == 1 && col == column + 2)
                    text(ref, 7, xs[col], 130 + 22 * row, cells[row][col], kRed);
                else
                    text(ref, 8, xs[col], 130 + 22 * row, cells[row][col], c);
            }
        }
    }
};

TEST_F(MemoryTable, SelectedRowOrangeAndSelectedCellRed) {
    for (int column = 0; column < 5; column++) {
        SCOPED_TRACE(column);
        std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
        std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
        w->pages.editColumn = column;
        draw(column % 2 ? kPageMemEdit : kPageMemTable);
        reference(column);
        expectSame();
    }
    // The red cell is the only red on the picture.
    w->pages.editColumn = 3;
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    draw(kPageMemEdit);
    EXPECT_GT(countColour(fb, 470, 500, 130 + 22 - 24, 130 + 22 + 4, kRed), 5);
    EXPECT_EQ(countColour(fb, 0, 469, 0, 479, kRed) + countColour(fb, 501, 799, 0, 479, kRed), 0);
}

class StatusPage : public MenuScreens {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MenuScreens::SetUp());
        w->pages.viewFlags.replace(1);
        w->pages.keyPage = kPageMain;
        w->ident.swVersion.set("0.046");
        w->ident.microVersion.set("2.10");
        const char* sn0 = "TZ123456";
        const char* sn1 = "A1B2";
        for (int i = 0; i < 32; i++) {
            w->ident.ee0[i] = static_cast<uint8_t>(i < 8 ? sn0[i] : 0);
            w->ident.ee1[i] = static_cast<uint8_t>(i < 4 ? sn1[i] : 0);
        }
        w->ident.eeModel[0] = '1';
        w->ident.eeModel[1] = '0';
        PublishAmpReadings(w.get(), {.ampStatus1 = 0x12, .ampStatus2 = 0x03, .pwrIn = 8.0f, .pwrFwd = 30.0f,
                                     .pwrRefl = 1.2f, .swr = 1.5f, .currentRaw = 1024.0f, .temp1 = 35.25f,
                                     .temp2 = 33.75f});
        w->freqHz = 14070000;
        w->source[kModeGeneric].freqHz = 7050000;
        w->cpuTemp[0] = 45.0f;
        w->cpuTemp[1] = 46.5f;
        w->settings.maxTemperature = 60.0f;
        lan.IP.set("192.168.1.20");
        lan.NetMask.set("255.255.255.0");
        lan.Gateway.set("192.168.1.1");
        lan.DNS.set("8.8.8.8");
        w->retryTotal = 7;
        w->retryStops = 2;
        const uint8_t adc[4] = {0x23, 141, 177, 192};
        for (int i = 0; i < 4; i++)
            w->supplyAdc[i] = adc[i];
        w->dateText.set("2026-12-07 01:30:00");
        AddErrore(w.get(), kAlarmTavExtio);
    }
    // The three temperature lines in Celsius, as SetUp's values draw them.
    const std::string d = kDeg;
    const std::string celsius[3] = {"Current:003.5A (1024.0), Tbrd:35.25" + d + "C, Thsk:33.75" + d + "C",
                                    "CPU:45.0" + d + "C, GPU:46.5" + d + "C",
                                    "Set Point Alarm 60.00" + d + "C"};
    // The rows of the page; `temps` are the three temperature lines.
    void reference(const std::string (&temps)[3], const char* extIo, bool date,
                   const char* code = "Code:ABCDEFGH2345, Web port 8443") {
        struct Row {
            int y;
            const char* label;
            std::string value;
        } rows[] = {
            {110, "VERSION", "SW ver. 0.046, FW ver. 2.10"},
            {132, "SN", "TZ123456 (A1B2), TYPE: USA, MAXPOWER: 60W"},
            {154, "POWER", "FWD:30.0, RFL:1.2 , PW:8.0, SWR:1.5"},
            {176, "FREQUENCY", "14070000Hz"},
            {198, "TEMPERATURE", temps[0]},
            {220, nullptr, temps[1]},
            {242, nullptr, temps[2]},
            {264, "LAN", "IP:192.168.1.20, NetMask:255.255.255.0 "},
            {286, nullptr, "Gateway:192.168.1.1, DNS:8.8.8.8 "},
            {308, "STATUS", "State 0x12 0x03,LAN:not connected,Audio:not found,ES:7,ER:2"},
            {330, nullptr, extIo},
            // 3.3 x 118 / 255 / 18 V per step: 141 -> 11.96, 177 -> 15.02, 192 -> 16.29
            {352, "AMPL", "ver. 23, V12: 12.0V, V15: 15.0V, Vamp: 16.3V"},
            {374, "REMOTE", code},
        };
        for (const Row& r : rows) {
            if (r.label) text(ref, 8, 5, r.y, r.label, kWhite);
            text(ref, 8, 180, r.y, r.value, kWhite);
        }
        if (date) text(ref, 8, 300, 400, "2026-12-07 01:30:00", kWhite);
    }
};

TEST_F(StatusPage, FourteenRowsInCelsius) {
    w->settings.tempMode = 0;
    ViewStatusInfo(w.get());
    reference(celsius, "No EXT IO data", true);
    expectSame();
}

TEST_F(StatusPage, TemperaturesInFahrenheit) {
    w->settings.tempMode = 1;
    ViewStatusInfo(w.get());
    const std::string temps[3] = {
        "Current:003.5A (1024.0), Tbrd:95.45" + d + "F, Thsk:92.75" + d + "F",
        "CPU:113.0" + d + "F, GPU:115.7" + d + "F", "Set Point Alarm 140.0" + d + "F"};
    reference(temps, "No EXT IO data", true);
    expectSame();
}

TEST_F(StatusPage, DateOnlyOnTheMainKeyPageAndTheExtIoRowFollowsItsAlarm) {
    DeleteErrore(w.get(), kAlarmTavExtio);
    w->pages.keyPage = kPageTuner;
    ViewStatusInfo(w.get());
    reference(celsius, "EXT IO connected", false);
    expectSame();
}

TEST_F(StatusPage, InHamlibModeTheExtIoRowShowsTheRig) {
    w->settings.tempMode = 0;
    w->ModeWorkIdx = kModeHamlib;
    SetSettingNumber(w.get(), "HamlibModel", 1020);
    SetSettingText(w.get(), "HamlibPort", "/dev/ttyUSB2");
    ViewStatusInfo(w.get());
    reference(celsius, "Rig: model 1020 on /dev/ttyUSB2: not open", true);
    expectSame();
    // Open: its maker and model, and the last frequency read.
    std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    w->source[kModeHamlib].name.set("Yaesu FT-817");
    w->source[kModeHamlib].freqHz = 7074000;
    ViewStatusInfo(w.get());
    reference(celsius, "Rig: Yaesu FT-817, 7074000 Hz", true);
    expectSame();
}

TEST_F(StatusPage, WithoutACodeTheRemoteRowSaysSo) {
    w->settings.tempMode = 0;
    w->remotePassword.set("");
    ViewStatusInfo(w.get());
    reference(celsius, "No EXT IO data", true, "Code:---, Web port 8443");
    expectSame();
}

TEST_F(StatusPage, TheConsolesCertificateOnTheLastLineUnlessOffOrUnderAMenu) {
    w->settings.tempMode = 0;
    const std::string print = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:"
                              "01:23:45:67:89";
    w->webFingerprint.set(print.c_str());
    ViewStatusInfo(w.get());
    reference(celsius, "No EXT IO data", true, "Code:ABCDEFGH2345, Web port 8443, SHA-256:");
    text(ref, 6, 5, 416, print, kWhite);
    expectSame();
    // All of it on the page, above the key strip.
    EXPECT_LT(5 + getStringSpace(6, print.c_str()), 795);

    // The console switched off: neither its port nor its certificate.
    SetSettingNumber(w.get(), "WebPort", 0);
    std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    ViewStatusInfo(w.get());
    reference(celsius, "No EXT IO data", true, "Code:ABCDEFGH2345");
    expectSame();

    // Under an open menu, whose lines take the page's bottom: left out.
    SetSettingNumber(w.get(), "WebPort", 8443);
    w->pages.keyPage = kPageMenuEdit;
    std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
    ViewStatusInfo(w.get());
    reference(celsius, "No EXT IO data", false, "Code:ABCDEFGH2345, Web port 8443, SHA-256:");
    expectSame();
}

TEST_F(StatusPage, NotDrawnTogetherWithAnotherView) {
    for (uint8_t flags : {0, 2, 3}) {
        w->pages.viewFlags.replace(flags);
        ViewStatusInfo(w.get());
        {
            SCOPED_TRACE(int(flags));
            expectSame();
        }
    }
}

} // namespace
