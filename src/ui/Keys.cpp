// The key strip along the bottom of every page, its labels and the page skins.
#include "ui/Keys.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "tuner/Banks.h"
#include "tuner/Sources.h"
#include "tuner/TuneWord.h"
#include "tuner/TunerRequests.h"
#include "draw/Fb.h"
#include "draw/Graph.h"
#include "ui/Menu.h"
#include "ui/Nuova.h"
#include "draw/Png.h"
#include "ui/Readings.h"
#include "draw/TTF.h"

#include <cstdio>

namespace {

struct PageLabels {
    const char* l1[6];
    const char* l2[6];
    uint8_t highlight;
};

// The labels as stored; their leading blanks centre them in the 130-pixel fields.
const PageLabels kInitialLabels[kKeyPages] = {
    {{"  MEM", " IN-ATT", "   ANT", "  TUNE", "   SET", "   VIEW "}, {"", "", "", " ", " ", " 1 "}, 0x21},
    {{" BACK ", "  ", "    UP", "  DOWN", " ", "  ENTER"}, {" ", " ", " ", " ", " ", " "}, 0},
    {{" ", " < ", "   > ", "      - ", "     + ", "  ENTER"}, {" ", " ", " ", " ", " ", " "}, 0},
    {{" BACK ", " ", " ", "  TUNE", "   ATU", "MANUAL"}, {" ", " ", " ", " ", "Off", "Tune"}, 0},
    {{" BACK ", " down L", "   up L", " down C", "   up C", "STARTTX"}, {" ", " ", " ", " ", " ", " "}, 0x01},
    {{"  ", "  ", "    ", "     ", " Retry", "Cancel"}, {" ", " ", " ", " ", " ", " "}, 0},
    {{" BACK", " INTERF", "    UP", "  DOWN", "   UTIL", " ENTER"}, {" ", " ", " ", " ", " ", " "}, 0},
    {{"BACK", "  <", "    >", "  + ", " - ", "SAVE"}, {" ", " ", " ", " ", " ", " "}, 0},
    {{"  ESC", "  BANK", "   ANT", " ", " ", "   SAVE"}, {" ", "", "", " ", " ", " "}, 0},
    {{"BACK", "  COPY", "   RESET", "  ", " ", " "}, {" ", " ", " ", " ", " ", " "}, 0},
    {{"BACK", " ORIGIN", "  DEST", "  ", " ", " START"}, {" ", " ", " ", " ", " ", "COPY"}, 0},
    {{"BACK", " BANK", "  ", "  ", " ", " START"}, {" ", " ", " ", " ", " ", "RESET"}, 0},
};

// Key fields of the strip: left edge and width of the fill, the label pens.
constexpr int kFieldX[6] = {0, 133, 266, 399, 532, 665};
constexpr int kFieldEnd[6] = {130, 263, 396, 529, 662, 799};
constexpr int kLabel1X[6] = {20, 143, 276, 409, 542, 675};
constexpr int kLabel2X[6] = {30, 153, 286, 419, 552, 695};
constexpr int kFrameX0[6] = {1, 134, 267, 400, 533, 666};
constexpr int kFrameX1[6] = {130, 263, 396, 530, 663, 799};
constexpr int kFrameV[6] = {130, 263, 396, 529, 662, 799};

void setLine2(int page, int key, const char* text) { KeyLabels[page].line2[key].set(text); }

// Labels that follow the state, rewritten on every refresh of their page.
void dynamicLabels(Works* w) {
    char text[kKeyLabelSize + 8];
    switch (w->pages.keyPage) {
    case kPageMain: {
        // The station's bank, attenuator and antenna on the operator's unit.
        const Readings r = ReadingsNow(w);
        if (ReadingsLive(r))
            std::snprintf(text, sizeof text, "BANK%i", r.bank);
        else
            std::snprintf(text, sizeof text, "BANK-");
        setLine2(0, 0, text);
        SetAttenuatorLabel(w);
        if (ReadingsLive(r))
            std::snprintf(text, sizeof text, "     %d", r.antenna + 1);
        else
            std::snprintf(text, sizeof text, "     -");
        setLine2(0, 2, text);
        std::snprintf(text, sizeof text, "    %d", w->pages.screenPage.load());
        setLine2(0, 5, text);
        break;
    }
    case kPageTuner:
        LabelByPassATU(w);
        break;
    case kPageManualTune:
        ImpostaLblManuale(w);
        break;
    case kPageMemTable:
        SetModeWorkLabel(w);
        break;
    case kPageSaveTune:
        LabelSAVEATU(w);
        break;
    case kPageBankCopy:
        LblCOPY(w);
        break;
    case kPageBankReset:
        LblRESET(w);
        break;
    default:
        break;
    }
}

} // namespace

void InitKeyLabels() {
    for (int p = 0; p < kKeyPages; p++) {
        for (int k = 0; k < 6; k++) {
            KeyLabels[p].line1[k].set(kInitialLabels[p].l1[k]);
            KeyLabels[p].line2[k].set(kInitialLabels[p].l2[k]);
        }
        KeyLabels[p].highlight = kInitialLabels[p].highlight;
    }
}

void SetAttenuatorLabel(Works* w) {
    if (w->pages.keyPage != kPageMain)
        return;
    char text[kKeyLabelSize + 8];
    const Readings r = ReadingsNow(w);
    if (!ReadingsLive(r))
        std::snprintf(text, sizeof text, "  %s", "---");
    else if (r.ampBypass)
        std::snprintf(text, sizeof text, "  %s", "StBy");
    else
        std::snprintf(text, sizeof text, "  %sdB", AttVectStr[r.attenuator & 3]);
    setLine2(0, 1, text);
}

void GetLblInterface(int type, char* text, int size) {
    std::snprintf(text, static_cast<size_t>(size), "%s", SourceName(type));
}

void SetModeWorkLabel(Works* w) {
    if (w->pages.keyPage != kPageMemTable)
        return;
    char text[kKeyLabelSize];
    GetLblInterface(w->ModeWorkIdx, text, sizeof text);
    setLine2(6, 1, text);
}

void LabelByPassATU(Works* w) {
    if (w->pages.keyPage != kPageTuner)
        return;
    if (w->settings.tuneEnabled < 0)
        setLine2(3, 3, "NotInst");
    else
        setLine2(3, 3, w->tuneState != 0 ? "    On" : "   Off");
    setLine2(3, 4, w->tunerBypass ? "   Bpy" : "   On");
}

void LabelSAVEATU(Works* w) {
    if (w->pages.keyPage != kPageSaveTune)
        return;
    char text[kKeyLabelSize + 8];
    std::snprintf(text, sizeof text, "   %i", w->pages.targetBank.load());
    setLine2(8, 1, text);
    std::snprintf(text, sizeof text, "     %i", w->pages.targetAntenna + 1);
    setLine2(8, 2, text);
}

void LblCOPY(Works* w) {
    if (w->pages.keyPage != kPageBankCopy)
        return;
    char text[kKeyLabelSize + 8];
    std::snprintf(text, sizeof text, "    %i", w->pages.copyOrigin.load());
    setLine2(10, 1, text);
    std::snprintf(text, sizeof text, "    %i", w->pages.copyDest.load());
    setLine2(10, 2, text);
}

void LblRESET(Works* w) {
    if (w->pages.keyPage != kPageBankReset)
        return;
    char text[kKeyLabelSize + 8];
    if (w->pages.resetTarget >= w->MAXbank)
        std::snprintf(text, sizeof text, "  ALL");
    else
        std::snprintf(text, sizeof text, "    %i", w->pages.resetTarget.load());
    setLine2(11, 1, text);
}

void LblMenuAntenna(Works* w) { SetModeWorkLabel(w); }

void ImpostaLblManuale(Works* w) {
    if (w->pages.keyPage != kPageManualTune)
        return;
    char text[kKeyLabelSize + 8];
    const TunerView t = TunerSnapshot(w); // mode, L and C of one word
    setLine2(4, 0, t.mode == 1 ? "CL" : t.mode == 2 ? "LC" : "ByP");
    std::snprintf(text, sizeof text, "     %u", t.l);
    setLine2(4, 2, text);
    std::snprintf(text, sizeof text, "     %u", t.c);
    setLine2(4, 4, text);
    // A carrier request is pending or running while bit 1 of the manual flags is set.
    KeyLabels[4].line1[5].set(w->txButtonFlags.test(2) ? "StopTX" : "StartTX");
}

void LoadButtons(Works* w) {
    FrameBuffer* fb = w->fb;
    const int page = w->pages.keyPage >= 0 && w->pages.keyPage < kKeyPages ? w->pages.keyPage.load() : 0;
    for (int y = 420; y <= 479; y++)
        for (int k = 0; k < 6; k++)
            DrawHorizontalLine(kFieldX[k], y, kFieldEnd[k], 40, 40, 40, fb, 0);
    const uint8_t hl = KeyLabels[page].highlight;
    for (int y = 478; y <= 479; y++) {
        if (hl & 0x01)
            DrawHorizontalLine(2, y, 128, 250, 150, 0, fb, 0);
        if (hl & 0x20)
            DrawHorizontalLine(667, y, 797, 250, 150, 0, fb, 0);
    }
    for (int k = 0; k < 6; k++) {
        DrawHorizontalLine(kFrameX0[k], 420, kFrameX1[k], 120, 120, 120, fb, 0);
        DrawLine(kFrameV[k], 420, kFrameV[k], 479, 120, 120, 120, fb, 0);
    }

    dynamicLabels(w);
    // The reset key: for this unit's alarms (the over-temperature alone has
    // none), and on the operator's unit for the station's.
    const int alarms = w->activeErrorCount;
    const Readings r = ReadingsNow(w);
    const bool resetKey = (alarms != 0 && !(alarms == 1 && ExistError(w, kAlarmHighTemp))) ||
                          r.alarmCount > r.ownAlarms;
    for (int k = 0; k < 6; k++) {
        const char* l1;
        const char* l2;
        auto t1 = KeyLabels[page].line1[k].get();
        auto t2 = KeyLabels[page].line2[k].get();
        l1 = t1.s;
        l2 = t2.s;
        if (k == 0 && resetKey) {
            l1 = "RESET";
            l2 = " Error ";
        }
        // Arrows only where the value has positions to move between; ENTER only
        // where the entry can be edited.
        if ((page == kPageMenuEdit && (k == 1 || k == 2) && !MenuItemLeftRight(w)) ||
            (page == kPageMenuChoose && k == 5 && MenuItemReadOnly(w))) {
            l1 = " ";
            l2 = " ";
        }
        putString(0, kLabel1X[k], 445, l1, 250, 150, 0, fb);
        putString(1, kLabel2X[k], 472, l2, 250, 150, 0, fb);
    }

    DrawParameters(w);
    DrawError(w);
    ViewStatusInfo(w);
    ViewStatusTX(w);
}

void SetWorkImg(Works* w) {
    PictureLock lock(PictureMutex());
    const bool big = HighPowerModel(w);
    const char* skin = big ? "img1b" : "img1";
    switch (w->pages.screenPage) {
    case 2:
        skin = big ? "img3b" : "img3";
        break;
    case 4:
        w->grid.spanHz = 160000;
        w->grid.points = kPlotPoints;
        skin = "m5a";
        break;
    case 5:
        w->grid.spanHz = 80000;
        w->grid.points = kPlotPoints / 2;
        skin = "m5a";
        break;
    default:
        break;
    }
    LoadSkin(w, skin, 1);
    fbSetBack(w->fb);
    // The transceiver link runs only in the work mode that takes its frequency.
    BankLock bank(BankMutex());
    const FreqSource* src = CurrentSource(w);
    if (!src || !src->followsTransceiver)
        w->setup->serialLinkEnabled = '0';
}

int EscFromStatus(Works* w) {
    if (!w->pages.viewFlags.test(1))
        return 0;
    w->pages.viewFlags.clear(1);
    SetWorkImg(w);
    return 1;
}

void ViewStatusTX(Works* w) {
    if (w->pages.viewFlags.load() == 1)
        return;
    const Readings r = ReadingsNow(w);
    if (!r.tx)
        return;
    const uint8_t red = r.stale ? 120 : 250, other = r.stale ? 120 : 0; // grey: an old record's
    for (int y = 175; y <= 209; y++)
        DrawHorizontalLine(375, y, 430, red, other, other, w->fb, 0);
    putString(8, 390, 200, "TX", 255, 255, 255, w->fb);
}

namespace {
constexpr int kKeySlots[6][2] = {{5, 130}, {133, 263}, {266, 396}, {399, 529}, {532, 662}, {665, 795}};
} // namespace

void DrawTastoErrore(Works* w, int x1, int x2, const AlarmKey& e) {
    const bool error = e.flags & 1;
    const uint8_t r = error ? 255 : 250, g = error ? 30 : 150, b = 0;
    FrameBuffer* fb = w->fb;
    for (int y = 370; y <= 414; y++)
        DrawHorizontalLine(x1, y, x2, r, g, b, fb, 0);
    DrawLine(x1, 370, x1, 415, 255, 255, 255, fb, 0);
    DrawLine(x2, 370, x2, 415, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x1 + 1, 370, x2 + 1, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x1 + 1, 415, x2 + 1, 255, 255, 255, fb, 0);
    putString(10, x1 + 4, 390, e.line1, 250, 250, 250, fb);
    putString(10, x1 + 4, 410, e.line2, 250, 250, 250, fb);
}

void DrawError(Works* w) {
    // Menus and the status page cover the keys' place.
    if (w->pages.viewFlags.load() != 0 || w->pages.keyPage == kPageMenuChoose || w->pages.keyPage == kPageMenuEdit)
        return;
    // The station's alarms first on the operator's unit, then this unit's own.
    const Readings r = ReadingsNow(w);
    const int n = r.alarmCount;
    const int shown = n < 6 ? n : 6;
    for (int k = 0; k < shown; k++)
        DrawTastoErrore(w, kKeySlots[k][0], kKeySlots[k][1], r.alarms[n > 6 ? n - 6 + k : k]);
}
