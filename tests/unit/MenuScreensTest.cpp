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
    void clear() {
        std::memset(fb->work, 0, static_cast<size_t>(fb->memSize));
        std::memset(ref->work, 0, static_cast<size_t>(ref->memSize));
    }
    void draw(int page) {
        w->pages.keyPage = page;
        DrawParameters(w.get());
    }

    FrameBuffer* fb = nullptr;
    FrameBuffer* ref = nullptr;
};

// The current entry between its neighbours, with the menu's first and last
// entries wrapping, the longest title and item whole, and the lines moved
// down while the status page is open.
TEST_F(MenuScreens, TheCurrentEntryBetweenItsNeighbours) {
    w->MAXbank = 20;
    w->settings.freqSensIn = 0;
    SetSettingNumber(w.get(), "HamlibSpeed", 38400);
    SetSettingNumber(w.get(), "HamlibPoll", 200);
    w->settings.swrEscAutoTune = 1.5f;
    w->settings.autoTuneMaxCycles = 1;
    w->settings.maxTemperature = 60.0f;
    w->settings.powerUnits = 0;
    w->settings.saveScreenIdx = 2;
    struct Case {
        int entry, page;
        bool statusOpen;
        Line lines[3];
    } cases[] = {
        {0, kPageMenuChoose, false,
         {{"102 -", "HAMLIB RIG", "Poll (ms)", "200"}, {"1 -", "MAX BANK", " ", "20"},
          {"2 -", "FREQ", "Input Sens", "FQ1"}}},
        {MenuEntryCount() - 1, kPageMenuChoose, false,
         {{"101 -", "HAMLIB RIG", "Speed", "38400"}, {"102 -", "HAMLIB RIG", "Poll (ms)", "200"},
          {"1 -", "MAX BANK", " ", "20"}}},
        {5, kPageMenuEdit, false,
         {{"5 -", "AUTO TUNE", "Force Attenuator", "0dB"},
          {"6 -", "AUTO TUNE", "Target SWR (0=Off)", "1.50"},
          {"7 -", "AUTO TUNE", "AutoTune Timeout", "20sec"}}},
        {22, kPageMenuEdit, true,
         {{"54 -", "TEMPERATURE ALARM", " SET POINT", "60.00"}, {"55 -", "SET POWER UNITS", " ", "Watt"},
          {"56 -", "SCREEN SAVER TIMEOUT", " ", "20min"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        clear();
        w->pages.viewFlags.replace(c.statusOpen ? 1 : 0);
        w->pages.menuEntry = c.entry;
        draw(c.page);
        menuReference(c.statusOpen, c.lines, c.page);
        expectSame();
    }
}

TEST_F(MenuScreens, TheOctetOrCodeSymbolBeingEditedIsLit) {
    const uint8_t ip[4] = {192, 168, 1, 20}, mask[4] = {255, 255, 255, 0};
    for (int i = 0; i < 4; i++)
        lan.IP_v[i] = ip[i], lan.NetMask_v[i] = mask[i];
    w->remoteEnabled = 0;
    w->pages.newCodeArmed = 1;
    const Line address[3] = {{"9 -", "TAV ZIM USE MODE", " ", "Local"},
                             {"10 -", "NETWORK LAN", "IP", "192.168.1.20"},
                             {"11 -", "NETWORK LAN", "SUBNET", "255.255.255.0"}};
    const Line code[3] = {{"93 -", "REMOTE TX LIMIT", " ", "180 s"},
                          {"94 -", "REMOTE CODE", " ", "ABCDEFGH2345"},
                          {"95 -", "NEW REMOTE CODE", " ", "New code?"}};
    // The code: before any key the cursor is on the first symbol; then PLUS,
    // RIGHT twice and MINUS: the third symbol is lit, and the code in use stays.
    struct Case {
        int entry, cursor;
        std::vector<int> actions;
        const char *before, *under, *after;
    } cases[] = {{9, 1, {}, "192.", "168", ".1.20"},
                 {9, 3, {}, "192.168.1.", "20", ""},
                 {9, 0, {}, "", "192", ".168.1.20"},
                 {27, 0, {}, "", "A", "BCDEFGH2345"},
                 {27, 0, {kMenuPlus, kMenuRight, kMenuRight, kMenuMinus}, "BB", "B", "DEFGH2345"},
                 {27, 0, {kMenuLeft, kMenuLeft, kMenuLeft}, "BBBDEFGH234", "5", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.entry) + " " + c.under);
        w->pages.menuEntry = c.entry;
        lan.CntIP = c.cursor;
        for (int a : c.actions)
            ModifyParameter(w.get(), a);
        clear();
        draw(kPageMenuEdit);
        menuReference(false, c.entry == 9 ? address : code, kPageMenuEdit, false);
        const int wb = getStringSpace(7, c.before), wu = getStringSpace(7, c.under),
                  wa = getStringSpace(7, c.after);
        const int x = 790 - (wb + wu + wa);
        text(ref, 7, x, 335, c.before, kOrange);
        text(ref, 7, x + wb, 335, c.under, kLight);
        text(ref, 7, x + wb + wu, 335, c.after, kOrange);
        expectSame();
    }
    // While choosing, either is one white value: the code's edit not yet saved
    // is dropped when the editing page opens again.
    MenuEditStarts(w.get());
    for (int e : {9, 27}) {
        clear();
        w->pages.menuEntry = e;
        draw(kPageMenuChoose);
        menuReference(false, e == 9 ? address : code, kPageMenuChoose);
        expectSame();
    }
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
        clear();
        w->pages.editColumn = column;
        draw(column % 2 ? kPageMemEdit : kPageMemTable);
        reference(column);
        expectSame();
    }
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

TEST_F(StatusPage, RowsAsTheStateHasThem) {
    const std::string f[3] = {"Current:003.5A (1024.0), Tbrd:95.45" + d + "F, Thsk:92.75" + d + "F",
                              "CPU:113.0" + d + "F, GPU:115.7" + d + "F", "Set Point Alarm 140.0" + d + "F"};
    const std::string print = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:"
                              "01:23:45:67:89";
    const char* code = "Code:ABCDEFGH2345, Web port 8443";
    const char* withCert = "Code:ABCDEFGH2345, Web port 8443, SHA-256:";
    // Each case changes the state of the one before.
    struct Case {
        const char* name;
        void (*set)(Works*);
        bool fahrenheit;
        const char *extIo, *code;
        bool date, certificate;
    } cases[] = {
        {"fourteen rows in Celsius", [](Works* w) { w->settings.tempMode = 0; }, false,
         "No EXT IO data", code, true, false},
        {"in Fahrenheit", [](Works* w) { w->settings.tempMode = 1; }, true, "No EXT IO data", code, true,
         false},
        {"the date only on the main key page, the EXT IO row follows its alarm",
         [](Works* w) {
             w->settings.tempMode = 0;
             DeleteErrore(w, kAlarmTavExtio);
             w->pages.keyPage = kPageTuner;
         },
         false, "EXT IO connected", code, false, false},
        {"without a code", [](Works* w) { AddErrore(w, kAlarmTavExtio), w->pages.keyPage = kPageMain, w->remotePassword.set(""); },
         false, "No EXT IO data", "Code:---, Web port 8443", true, false},
        {"in Hamlib mode the rig not open",
         [](Works* w) {
             w->remotePassword.set("ABCDEFGH2345");
             w->ModeWorkIdx = kModeHamlib;
             SetSettingNumber(w, "HamlibModel", 1020);
             SetSettingText(w, "HamlibPort", "/dev/ttyUSB2");
         },
         false, "Rig: model 1020 on /dev/ttyUSB2: not open", code, true, false},
        {"in Hamlib mode the rig open: its maker and model, the last frequency read",
         [](Works* w) {
             w->source[kModeHamlib].name.set("Yaesu FT-817");
             w->source[kModeHamlib].freqHz = 7074000;
         },
         false, "Rig: Yaesu FT-817, 7074000 Hz", code, true, false},
        {"the console's certificate on the last line, above the key strip",
         [](Works* w) {
             w->ModeWorkIdx = 0;
             w->webFingerprint.set("AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                   "AB:CD:EF:01:23:45:67:89");
         },
         false, "No EXT IO data", withCert, true, true},
        {"the console off: neither its port nor its certificate",
         [](Works* w) { SetSettingNumber(w, "WebPort", 0); }, false, "No EXT IO data", "Code:ABCDEFGH2345",
         true, false},
        {"under an open menu, whose lines take the page's bottom: no certificate",
         [](Works* w) {
             SetSettingNumber(w, "WebPort", 8443);
             w->pages.keyPage = kPageMenuEdit;
         },
         false, "No EXT IO data", withCert, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clear();
        c.set(w.get());
        ViewStatusInfo(w.get());
        reference(c.fahrenheit ? f : celsius, c.extIo, c.date, c.code);
        if (c.certificate) {
            text(ref, 6, 5, 416, print, kWhite);
            EXPECT_LT(5 + getStringSpace(6, print.c_str()), 795);
        }
        expectSame();
    }
    // Not drawn together with another view.
    for (uint8_t flags : {0, 2, 3}) {
        SCOPED_TRACE(int(flags));
        clear();
        w->pages.viewFlags.replace(flags);
        ViewStatusInfo(w.get());
        expectSame();
    }
}

} // namespace
