// Menu tables and the text screens drawn over the pages.
#include "ui/Nuova.h"

#include "core/AlarmList.h"
#include "amp/Temperature.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "tuner/Banks.h"
#include "tuner/Hamlib.h"
#include "tuner/Sources.h"
#include "tuner/TuneWord.h"
#include "tuner/TunerRequests.h"
#include "draw/Fb.h"
#include "draw/Graph.h"
#include "ui/Keys.h"
#include "ui/Menu.h"
#include "ui/Network.h"
#include "ui/Readings.h"
#include "ui/RemoteChecks.h"
#include "remote/TxLimit.h"
#include "draw/TTF.h"

#include <cstdio>
#include <cstring>

const int SaveScreen[5] = {5, 10, 20, 30, 60};

namespace {

// A value right-aligned at x 790 in orange with the part being edited lit white
// (an octet of an address, a symbol of the code).
void drawLitPart(const char* before, const char* under, const char* after, int y, FrameBuffer* fb) {
    const int wb = getStringSpace(7, before), wu = getStringSpace(7, under), wa = getStringSpace(7, after);
    const int x = 790 - (wb + wu + wa);
    putString(7, x, y, before, 250, 150, 0, fb);
    putString(7, x + wb, y, under, 250, 250, 250, fb);
    putString(7, x + wb + wu, y, after, 250, 150, 0, fb);
}

constexpr uint8_t kCyan[3] = {0, 200, 255};
constexpr uint8_t kGreen[3] = {0, 200, 0};

void text(Works* w, int font, int x, int y, const char* s, const uint8_t (&c)[3]) {
    putString(font, x, y, s, c[0], c[1], c[2], w->fb);
}

// The message line under the information rows.
void messageLine(Works* w) {
    char buf[96];
    if (w->settings.debugEnabled) {
        const AmpReadings a = AmpReadingsNow(w);
        std::snprintf(buf, sizeof buf, "PW %04d FWD %04d REFL %04d SWR %03.02f (%X)", a.rawIn, a.rawFwd,
                      a.rawRefl, a.swr,
                      static_cast<unsigned>(w->supplyAdc[3].load()));
        putString(8, 5, 350, buf, 250, 250, 0, w->fb);
        const TunerView t = TunerSnapshot(w); // L and C of one word
        std::snprintf(buf, sizeof buf, "freq %lu L%i,C%i,%s",
                      static_cast<unsigned long>(w->source[kModeGeneric].freqHz.load()), static_cast<int>(t.l),
                      static_cast<int>(t.c), ModeTuneDebug.get().s);
        putString(8, 500, 350, buf, 250, 250, 0, w->fb);
        return;
    }
    // A remote transmission's time limit comes before the keys' notices.
    if (TxLimitNotice(w, buf, sizeof buf)) {
        putString(8, 5, 350, buf, 255, 200, 0, w->fb);
        return;
    }
    const uint8_t notice = w->pages.keyNotice.load();
    const char* msg = (notice & 1)   ? "Entering second function..."
                      : (notice & 2) ? "ATU ByPass not saved!"
                      : (notice & 4) ? "Set to Local Mode: Remote not started. Verify connections"
                                     : nullptr;
    if (msg)
        putString(8, 5, 350, msg, 250, 250, 250, w->fb);
}

void informationRows(Works* w) {
    static const int box[7][2] = {{1, 110}, {115, 260}, {265, 400}, {405, 520},
                                  {525, 600}, {605, 710}, {715, 799}};
    for (auto& b : box)
        DrawRect(w, b[0], 278, b[1], 303, 200, 200, 200);

    const Readings r = ReadingsNow(w);
    const bool live = ReadingsLive(r);
    // The station's values grey once its record is old.
    constexpr uint8_t kGrey[3] = {130, 130, 130};
    const uint8_t(&cyan)[3] = r.stale ? kGrey : kCyan;
    const uint8_t(&green)[3] = r.stale ? kGrey : kGreen;
    char buf[64];
    text(w, 8, 10, 298, SourceName(r.mode), kCyan);
    if (live)
        text(w, 8, 125, 298, r.coaxRxTx ? "Coax:RX+TX" : "  Coax:RTX", cyan);
    if (r.noPa)
        std::snprintf(buf, sizeof buf, "NOPA");
    else
        std::snprintf(buf, sizeof buf, "Band:%s", r.band);
    text(w, 8, 275, 298, buf, cyan);
    if (live) {
        if (r.ampBypass)
            std::snprintf(buf, sizeof buf, "Att %s", "StBy");
        else
            std::snprintf(buf, sizeof buf, "Att %sdB", AttVectStr[r.attenuator & 3]);
        text(w, 8, 415, 298, buf, cyan);
        std::snprintf(buf, sizeof buf, "Ant %d", r.antenna + 1);
        text(w, 8, 535, 298, buf, cyan);
        text(w, 8, 615, 298, r.tunerBypass ? "Atu: Bpy" : "Atu: On", cyan);
    }
    if (w->remoteRestart)
        putString(8, 725, 298, w->remoteEnabled ? "Remote" : "Local", 250, 0, 0, w->fb);
    else
        text(w, 8, 725, 298, w->remoteEnabled ? "Remote" : "Local", kCyan);

    DrawRect(w, 1, 307, 400, 332, 100, 100, 100);
    DrawRect(w, 405, 307, 799, 332, 100, 100, 100);
    if (!live) {
        text(w, 8, 10, 327, "PA Temp: no link", kGrey);
        text(w, 8, 415, 327, "PA Voltage: no link", kGrey);
        return;
    }
    const bool fahrenheit = w->settings.tempMode == 1;
    const float t1 = fahrenheit ? ConversionCelsius_to_Fahrenheit(r.temp1) : r.temp1;
    const float t2 = fahrenheit ? ConversionCelsius_to_Fahrenheit(r.temp2) : r.temp2;
    const char unit = fahrenheit ? 'F' : 'C';
    if (r.oneTemp)
        std::snprintf(buf, sizeof buf, "PA Temp: %04.01f\xC2\xB0%c", t1, unit);
    else
        std::snprintf(buf, sizeof buf, "PA Temp1: %04.01f\xC2\xB0%c      Temp2: %04.01f\xC2\xB0%c", t1,
                      unit, t2, unit);
    text(w, 8, 10, 327, buf, green);
    if (!HighPowerModel(w) && r.volts > 20)
        std::snprintf(buf, sizeof buf, "PA Voltage: -----       Current: %04.01fA", r.amps);
    else
        std::snprintf(buf, sizeof buf, "PA Voltage: %04.01fV       Current: %04.01fA", r.volts, r.amps);
    text(w, 8, 415, 327, buf, green);
}

// The three lines of the settings menu: the entry before, the current one and
// the one after, with their values right-aligned.
void menuLines(Works* w, int page) {
    const bool statusOpen = w->pages.viewFlags.test(1);
    const int top = statusOpen ? 335 : 285, cur0 = statusOpen ? 361 : 311;
    const int base[3] = {statusOpen ? 355 : 305, statusOpen ? 385 : 335, statusOpen ? 410 : 360};
    FrameBuffer* fb = w->fb;
    for (int y = top; y <= top + 79; y++)
        DrawHorizontalLine(1, y, 799, 40, 40, 40, fb, 0);
    for (int y = cur0; y <= cur0 + 28; y++)
        DrawHorizontalLine(1, y, 799, 80, 80, 80, fb, 0);
    const int entry = w->pages.menuEntry;
    // The local/remote choice uses the checks: fresh while its entry is up.
    if (entry >= 0 && entry < MenuEntryCount() && menuPar[entry].number == kMenuRemoteModeNumber)
        RemoteChecksKeepFresh(w);
    const int entries[3] = {entry <= 0 ? MenuEntryCount() - 1 : entry - 1, entry,
                            entry >= MenuEntryCount() - 1 ? 0 : entry + 1};
    for (int line = 0; line < 3; line++) {
        const int e = entries[line];
        const bool current = line == 1;
        const int font = current ? 7 : 1;
        const uint8_t r = current ? 255 : 250, g = current ? 255 : 150, b = current ? 255 : 0;
        const int y = base[line];
        char buf[48];
        std::snprintf(buf, sizeof buf, "%d -", menuPar[e].number);
        putString(font, 20, y, buf, r, g, b, fb);
        putString(font, 70, y, menuPar[e].title, r, g, b, fb);
        putString(font, 350, y, menuPar[e].items[current ? w->pages.menuItem.load() : 0].name, r, g, b, fb);

        char value[48];
        LoadParameterMenu(w, value, sizeof value, e, current ? w->pages.menuItem.load() : 0);
        MenuAddressRef a{};
        char code[16];
        int cursor = 0;
        if (!current) {
            putString(11, 790 - getStringSpace(11, value), y, value, 250, 150, 0, fb);
        } else if (page == kPageMenuChoose) {
            putString(0, 790 - getStringSpace(0, value), y, value, 255, 255, 255, fb);
        } else if (MenuAddress(e, &a)) {
            // The octet under the cursor stands out from the rest of the address.
            char before[24] = "", under[8], after[24] = "";
            const int c = *a.cursor;
            for (int i = 0; i < c; i++)
                std::snprintf(before + std::strlen(before), sizeof before - std::strlen(before), "%i.",
                              a.octets[i].load());
            std::snprintf(under, sizeof under, "%i", a.octets[c].load());
            for (int i = c + 1; i < 4; i++)
                std::snprintf(after + std::strlen(after), sizeof after - std::strlen(after), ".%i",
                              a.octets[i].load());
            drawLitPart(before, under, after, y, fb);
        } else if (MenuCodeEdit(w, e, code, sizeof code, &cursor) &&
                   cursor < static_cast<int>(std::strlen(code))) {
            // So does the symbol under the cursor of the code.
            char before[16] = "", under[2] = {code[cursor], '\0'};
            std::snprintf(before, sizeof before, "%.*s", cursor, code);
            drawLitPart(before, under, code + cursor + 1, y, fb);
        } else {
            putString(7, 790 - getStringSpace(7, value), y, value, 250, 250, 250, fb);
        }
    }
}

// The table of the current bank, with the selected row and cell.
void memoryTable(Works* w) {
    FrameBuffer* fb = w->fb;
    char buf[96], mode[12];
    GetLblInterface(w->ModeWorkIdx, mode, sizeof mode);
    std::snprintf(buf, sizeof buf, " Memory Table Bank %i - Interface: %s", w->NumBanco.load(), mode);
    putString(0, 100, 50, buf, 250, 150, 0, fb);
    putString(8, 50, 100, "N     Band     Pwr    Att(dB)  AmpEnable    Ant       Atu", 255, 255, 255,
              fb);
    const int rows = w->antennaRowCount;
    static const int columnX[5] = {170, 250, 350, 470, 540};
    for (int i = 0; i < rows && i < kAntennaRows; i++) {
        const AntennaRow& r = w->antennaTable[i];
        const int y = 130 + 22 * i;
        const bool selected = i == w->pages.editRow;
        const uint8_t cr = 250, cg = selected ? 150 : 250, cb = selected ? 0 : 250;
        char cells[5][16];
        std::snprintf(cells[0], sizeof cells[0], "%2.1f", r.pwr.load());
        std::snprintf(cells[1], sizeof cells[1], "%s", AttVectStr[r.attStep & 3]);
        std::snprintf(cells[2], sizeof cells[2], "%s", r.ampEnable == 1 ? "On" : "Off");
        std::snprintf(cells[3], sizeof cells[3], "%x", r.antenna.load());
        std::snprintf(cells[4], sizeof cells[4], "%s", r.atuBypass == 1 ? "Off" : "On");
        std::snprintf(buf, sizeof buf, "%i", i + 1);
        putString(8, 50, y, buf, cr, cg, cb, fb);
        putString(8, 90, y, r.name.get().s, cr, cg, cb, fb);
        for (int c = 0; c < 5; c++) {
            if (selected && c == w->pages.editColumn)
                putString(7, columnX[c], y, cells[c], 255, 0, 0, fb);
            else
                putString(8, columnX[c], y, cells[c], cr, cg, cb, fb);
        }
    }
}

void statusPage(Works* w) {
    FrameBuffer* fb = w->fb;
    // The transceiver and audio checks run commands and probe a port: the
    // storage thread repeats them every few seconds while the page is up.
    RemoteChecksKeepFresh(w);
    const RemoteCheckResults checks = RemoteChecksLast();
    auto row = [&](int y, const char* label, const char* value) {
        if (label)
            putString(8, 5, y, label, 255, 255, 255, fb);
        putString(8, 180, y, value, 255, 255, 255, fb);
    };
    char buf[160];
    const bool f = w->settings.tempMode == 1;
    auto t = [&](float c) { return f ? ConversionCelsius_to_Fahrenheit(c) : c; };
    std::snprintf(buf, sizeof buf, "SW ver. %s, FW ver. %s", w->ident.swVersion.get().s,
                  w->ident.microVersion.get().s);
    row(110, "VERSION", buf);
    char sn0[33] = {}, sn1[33] = {};
    for (int i = 0; i < 32; i++) {
        sn0[i] = static_cast<char>(w->ident.ee0[i].load());
        sn1[i] = static_cast<char>(w->ident.ee1[i].load());
    }
    std::snprintf(buf, sizeof buf, "%s (%s), TYPE: %s, MAXPOWER: %s", sn0, sn1,
                  w->ident.eeModel[0] == '1' ? "USA" : "EU", HighPowerModel(w) ? "120W" : "60W");
    row(132, "SN", buf);
    const AmpReadings a = AmpReadingsNow(w);
    std::snprintf(buf, sizeof buf, "FWD:%02.01f, RFL:%02.01f , PW:%02.01f, SWR:%02.01f", a.pwrFwd, a.pwrRefl,
                  a.pwrIn, a.swr);
    row(154, "POWER", buf);
    std::snprintf(buf, sizeof buf, "%ldHz",
                  static_cast<long>(w->setup->serialLinkEnabled == '1' ? w->freqHz.load()
                                                                       : w->source[kModeGeneric].freqHz.load()));
    row(176, "FREQUENCY", buf);
    const float amps = a.amps();
    if (f)
        std::snprintf(buf, sizeof buf, "Current:%05.01fA (%05.01f), Tbrd:%04.02f\xC2\xB0" "F, Thsk:%04.02f\xC2\xB0" "F",
                      amps, a.currentRaw, t(a.temp1), t(a.temp2));
    else
        std::snprintf(buf, sizeof buf, "Current:%05.01fA (%05.01f), Tbrd:%04.02f\xC2\xB0" "C, Thsk:%04.02f\xC2\xB0" "C",
                      amps, a.currentRaw, a.temp1, a.temp2);
    row(198, "TEMPERATURE", buf);
    if (f)
        std::snprintf(buf, sizeof buf, "CPU:%4.01f\xC2\xB0" "F, GPU:%4.01f\xC2\xB0" "F", t(w->cpuTemp[0]), t(w->cpuTemp[1]));
    else
        std::snprintf(buf, sizeof buf, "CPU:%2.01f\xC2\xB0" "C, GPU:%2.01f\xC2\xB0" "C", w->cpuTemp[0].load(),
                      w->cpuTemp[1].load());
    row(220, nullptr, buf);
    if (f)
        std::snprintf(buf, sizeof buf, "Set Point Alarm %4.01f\xC2\xB0" "F", t(w->settings.maxTemperature));
    else
        std::snprintf(buf, sizeof buf, "Set Point Alarm %04.02f\xC2\xB0" "C", w->settings.maxTemperature.load());
    row(242, nullptr, buf);
    std::snprintf(buf, sizeof buf, "IP:%s, NetMask:%s ", lan.IP.get().s, lan.NetMask.get().s);
    row(264, "LAN", buf);
    std::snprintf(buf, sizeof buf, "Gateway:%s, DNS:%s ", lan.Gateway.get().s, lan.DNS.get().s);
    row(286, nullptr, buf);
    std::snprintf(buf, sizeof buf, "State 0x%02x 0x%02x,LAN:%s,Audio:%s,ES:%d,ER:%d",
                  a.ampStatus1, a.ampStatus2,
                  checks.transceiver == 0 ? "connected" : "not connected",
                  checks.audio > 0 ? "found" : "not found", w->retryTotal.load(),
                  w->retryStops.load());
    row(308, "STATUS", buf);
    // The bank's source has its own row (a mode that is none shows the first's).
    const FreqSource* src = CurrentSource(w);
    (src ? src : SourceOfMode(kModeGeneric))->statusRow(w, buf, sizeof buf);
    row(330, nullptr, buf);
    std::snprintf(buf, sizeof buf, "ver. %x, V12: %02.01fV, V15: %02.01fV, Vamp: %02.01fV",
                  w->supplyAdc[0].load(), CalvTensVadcAmp(w, w->supplyAdc[1]),
                  CalvTensVadcAmp(w, w->supplyAdc[2]), CalvTensVadcAmp(w, w->supplyAdc[3]));
    row(352, "AMPL", buf);
    // The code a caller must give this unit: read here, typed on the other unit.
    const auto code = w->remotePassword.get();
    const int webPort = SettingNumber(w, "WebPort");
    // The console's certificate, which the operator compares once with what
    // the browser shows: in the small font it fits the page's last line, under
    // the date, unless a menu is open there.
    const auto print = w->webFingerprint.get();
    if (webPort > 0)
        std::snprintf(buf, sizeof buf, "Code:%s, Web port %d%s", code.s[0] ? code.s : "---", webPort,
                      print.s[0] ? ", SHA-256:" : "");
    else
        std::snprintf(buf, sizeof buf, "Code:%s", code.s[0] ? code.s : "---");
    row(374, "REMOTE", buf);
    if (webPort > 0 && print.s[0] && w->pages.keyPage != kPageMenuChoose && w->pages.keyPage != kPageMenuEdit)
        putString(6, 5, 416, print.s, 255, 255, 255, fb);
    if (w->pages.keyPage == kPageMain)
        putString(8, 300, 400, w->dateText.get().s, 255, 255, 255, fb);
}

} // namespace

void InitMenu(Works* w) {
    w->pages.menuCount = MenuEntryCount();
    w->pages.menuEntry = 0;
    w->pages.menuItem = 0;
    InitKeyLabels();
    InitErrorTable(w);
}

void DrawParameters(Works* w) {
    if (w->deviceErrorCode > 0)
        return;
    const int page = w->pages.keyPage;
    if (page == kPageMenuChoose || page == kPageMenuEdit) {
        menuLines(w, page);
        return;
    }
    if (w->serviceFlags.test(4)) {
        putString(8, 100, 400, "FW UPDATE: please update fw with FlashMagic and then Reset HW", 250,
                  250, 250, w->fb);
        return;
    }
    if (w->pages.viewFlags.test(2)) {
        memoryTable(w);
        return;
    }
    if (w->pages.viewFlags.load() != 0)
        return; // the status page draws its own texts
    messageLine(w);
    informationRows(w);
}

void ViewStatusInfo(Works* w) {
    if (w->pages.viewFlags.load() != 1)
        return;
    {
        BankLock bank(BankMutex()); // the transceiver's link is the bank mode's choice too
        if (w->setup->serialLinkEnabled == '0') {
            w->setup->serialLinkEnabled = '1';
            StartService(w, Service::TrxSerial);
        }
    }
    statusPage(w);
}
