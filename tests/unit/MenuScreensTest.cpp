// The text screens against reference PNGs under tests/reference (see
// tests/support/ReferencePicture.h): the three menu lines over their bands, the
// lit octet of an address and the lit symbol of the remote code being edited,
// the memory table with its selected row and cell, the firmware-update notice
// and the status page. Each reference was first checked, pixel for pixel,
// against one drawn from the layout alone (every text with its font, colour and
// place); the pictures hold what that check held.
#include "ReferencePicture.h"
#include "TickedPicture.h"

#include "ui/Keys.h"
#include "ui/Menu.h"
#include "ui/Network.h"
#include "ui/Time.h"

#include <algorithm>
#include <cstring>

namespace {

class MenuScreens : public TickedPicture {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TickedPicture::SetUp());
        clear();
        w->startupFlags.replace(0); // alarms are taken
        w->deviceErrorCode = 0;
        w->serviceFlags.replace(0);
        w->pages.viewFlags.replace(0);
        setup->serialLinkEnabled = '1';
        w->remotePassword.set("ABCDEFGH2345"); // a unit's own code is random
    }
    void clear() { std::memset(fb->work, 0, static_cast<size_t>(fb->memSize)); }
    void draw(int page) {
        w->pages.keyPage = page;
        DrawParameters(w.get());
    }
    // The drawn picture against tests/reference/NAME.png, then a blank one.
    void matches(const std::string& name) {
        ExpectPictureMatches(fb->work, name, std::filesystem::current_path().string());
        clear();
    }
    void blank() {
        EXPECT_TRUE(std::all_of(fb->work, fb->work + fb->memSize, [](uint8_t b) { return b == 0; }));
    }
};

// The current entry between its neighbours, with the menu's first and last
// entries wrapping, the longest title and item whole, and the lines moved
// down while the status page is open; an update running does not hide them.
TEST_F(MenuScreens, TheCurrentEntryBetweenItsNeighbours) {
    w->serviceFlags.replace(4);
    w->MAXbank = 20;
    w->settings.freqSensIn = 0;
    SetSettingNumber(w.get(), "HamlibSpeed", 38400);
    SetSettingNumber(w.get(), "HamlibPoll", 200);
    w->settings.swrEscAutoTune = 1.5f;
    w->settings.autoTuneMaxCycles = 1;
    w->settings.maxTemperature = 60.0f;
    w->settings.powerUnits = 0;
    w->settings.saveScreenIdx = 2;
    for (auto [name, entry, page, statusOpen] :
         {std::tuple{"menu-first", 0, kPageMenuChoose, false},
          {"menu-last", MenuEntryCount() - 1, kPageMenuChoose, false},
          {"menu-edit", 5, kPageMenuEdit, false},
          {"menu-under-status", 22, kPageMenuEdit, true}}) {
        w->pages.viewFlags.replace(statusOpen ? 1 : 0);
        w->pages.menuEntry = entry;
        draw(page);
        matches(name);
    }
}

// The code: before any key the cursor is on the first symbol; then PLUS, RIGHT
// twice and MINUS: the third symbol is lit, and the code in use stays.
TEST_F(MenuScreens, TheOctetOrCodeSymbolBeingEditedIsLit) {
    const uint8_t ip[4] = {192, 168, 1, 20}, mask[4] = {255, 255, 255, 0};
    for (int i = 0; i < 4; i++)
        lan.IP_v[i] = ip[i], lan.NetMask_v[i] = mask[i];
    w->remoteEnabled = 0;
    w->pages.newCodeArmed = 1;
    for (auto [name, entry, cursor, actions] :
         {std::tuple{"menu-octet-1", 9, 1, std::vector<int>{}},
          {"menu-octet-3", 9, 3, {}},
          {"menu-octet-0", 9, 0, {}},
          {"menu-code-0", 27, 0, {}},
          {"menu-code-2", 27, 0, {kMenuPlus, kMenuRight, kMenuRight, kMenuMinus}},
          {"menu-code-11", 27, 0, {kMenuLeft, kMenuLeft, kMenuLeft}}}) {
        w->pages.menuEntry = entry;
        lan.CntIP = cursor;
        for (int a : actions)
            ModifyParameter(w.get(), a);
        draw(kPageMenuEdit);
        matches(name);
    }
    // While choosing, either is one white value: the code's edit not yet saved
    // is dropped when the editing page opens again.
    MenuEditStarts(w.get());
    for (int e : {9, 27}) {
        w->pages.menuEntry = e;
        draw(kPageMenuChoose);
        matches(e == 9 ? "menu-address-choosing" : "menu-code-choosing");
    }
}

TEST_F(MenuScreens, NothingWhileADeviceErrorIsShown) {
    w->deviceErrorCode = 3;
    draw(kPageMenuChoose);
    w->pages.viewFlags.replace(2);
    draw(kPageMemTable);
    w->serviceFlags.replace(4);
    draw(kPageMain);
    blank();
}

TEST_F(MenuScreens, FirmwareUpdateNoticeAloneOnTheOtherPages) {
    w->serviceFlags.replace(4);
    w->pages.keyNotice.replace(4); // a notice of the operating page is not drawn over it
    draw(kPageMain);
    matches("fw-update-notice");
    // Also instead of the memory table.
    w->pages.viewFlags.replace(2);
    w->antennaRowCount = 2;
    draw(kPageMemTable);
    matches("fw-update-notice");
}

class MemoryTable : public MenuScreens {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MenuScreens::SetUp());
        w->pages.viewFlags.replace(2);
        w->NumBanco = 4;
        w->ModeWorkIdx = 1;
        int rows = 0;
        for (auto [name, pwr, att, amp, ant, bypass] : {std::tuple{"160m", 50.0f, 0, 1, 1, 0},
                                                        {"40m", 7.5f, 2, 0, 3, 1},
                                                        {"10m", 100.0f, 3, 1, 2, 0}}) {
            AntennaRow& r = w->antennaTable[rows++];
            r.name.set(name);
            r.pwr = pwr;
            r.attStep = att;
            r.ampEnable = amp;
            r.antenna = ant;
            r.atuBypass = bypass;
        }
        w->antennaRowCount = rows;
        w->pages.editRow = 1;
    }
};

TEST_F(MemoryTable, SelectedRowOrangeAndSelectedCellRed) {
    for (int column = 0; column < 5; column++) {
        w->pages.editColumn = column;
        draw(column % 2 ? kPageMemEdit : kPageMemTable);
        matches("memory-table-" + std::to_string(column));
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
        // The serial numbers, their other bytes left zero.
        for (int i = 0; i < 8; i++)
            w->ident.ee0[i] = static_cast<uint8_t>("TZ123456"[i]);
        for (int i = 0; i < 4; i++)
            w->ident.ee1[i] = static_cast<uint8_t>("A1B2"[i]);
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
};

TEST_F(StatusPage, RowsAsTheStateHasThem) {
    // Each case changes the state of the one before.
    struct Case {
        const char* name;
        void (*set)(Works*);
    } cases[] = {
        {"status-celsius", [](Works* w) { w->settings.tempMode = 0; }},
        {"status-fahrenheit", [](Works* w) { w->settings.tempMode = 1; }},
        // The date only on the main key page; the EXT IO row follows its alarm.
        {"status-tuner-page-ext-io",
         [](Works* w) {
             w->settings.tempMode = 0;
             DeleteErrore(w, kAlarmTavExtio);
             w->pages.keyPage = kPageTuner;
         }},
        {"status-no-code",
         [](Works* w) {
             AddErrore(w, kAlarmTavExtio);
             w->pages.keyPage = kPageMain;
             w->remotePassword.set("");
         }},
        {"status-rig-not-open",
         [](Works* w) {
             w->remotePassword.set("ABCDEFGH2345");
             w->ModeWorkIdx = kModeHamlib;
             SetSettingNumber(w, "HamlibModel", 1020);
             SetSettingText(w, "HamlibPort", "/dev/ttyUSB2");
         }},
        // Open: its maker and model, and the last frequency read.
        {"status-rig-open",
         [](Works* w) {
             w->source[kModeHamlib].name.set("Yaesu FT-817");
             w->source[kModeHamlib].freqHz = 7074000;
         }},
        // The console's certificate on the last line, whole, above the key strip.
        {"status-certificate",
         [](Works* w) {
             w->ModeWorkIdx = 0;
             w->webFingerprint.set("AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                   "AB:CD:EF:01:23:45:67:89");
         }},
        // The console off: neither its port nor its certificate.
        {"status-console-off", [](Works* w) { SetSettingNumber(w, "WebPort", 0); }},
        // Under an open menu, whose lines take the page's bottom: no certificate.
        {"status-under-menu",
         [](Works* w) {
             SetSettingNumber(w, "WebPort", 8443);
             w->pages.keyPage = kPageMenuEdit;
         }},
    };
    for (const Case& c : cases) {
        c.set(w.get());
        ViewStatusInfo(w.get());
        matches(c.name);
    }
    // Not drawn together with another view.
    for (uint8_t flags : {0, 2, 3}) {
        w->pages.viewFlags.replace(flags);
        ViewStatusInfo(w.get());
        blank();
    }
}

} // namespace
