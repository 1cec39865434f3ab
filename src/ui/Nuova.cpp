// Menu tables and the text screens drawn over the pages.
#include "ui/Nuova.h"

#include "amp/Alarms.h"
#include "amp/Temperature.h"
#include "core/Works.h"
#include "tuner/Banks.h"
#include "tuner/TuneWord.h"
#include "ui/Fb.h"
#include "ui/Graph.h"
#include "ui/Keys.h"
#include "ui/TTF.h"

#include <cstdio>

const char* const AttVectStr[4] = {"0", "2", "3", "5"};
const char* const MODEwork[3] = {"Generic", "VRNTAV", " FT-817"};
const int SaveScreen[5] = {5, 10, 20, 30, 60};
const char* const SaveScreenVal[5] = {"5min", "10min", "20min", "30min", "60min"};
const char* const SWRTimeout[5] = {"25sec", "20sec", "15sec", "10sec", "5sec"};

namespace {

constexpr uint8_t kCyan[3] = {0, 200, 255};
constexpr uint8_t kGreen[3] = {0, 200, 0};

void text(Works* w, int font, int x, int y, const char* s, const uint8_t (&c)[3]) {
    putString(font, x, y, s, c[0], c[1], c[2], w->fb);
}

// The message line under the information rows.
void messageLine(Works* w) {
    char buf[96];
    if (w->debugEnabled) {
        std::snprintf(buf, sizeof buf, "PW %04d FWD %04d REFL %04d SWR %03.02f (%X)",
                      w->rawIn.load(), w->rawFwd.load(), w->rawRefl.load(), w->swr.load(),
                      static_cast<unsigned>(w->supplyAdc[3].load()));
        putString(8, 5, 350, buf, 250, 250, 0, w->fb);
        std::snprintf(buf, sizeof buf, "freq %lu L%i,C%i,%s",
                      static_cast<unsigned long>(w->fmFreqHz.load()),
                      static_cast<int>(w->tuneL.load()), static_cast<int>(w->tuneC.load()),
                      ModeTuneDebug.get().s);
        putString(8, 500, 350, buf, 250, 250, 0, w->fb);
        return;
    }
    const uint8_t notice = w->keyNotice;
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

    char buf[64];
    const int mode = w->ModeWorkIdx;
    text(w, 8, 10, 298, MODEwork[mode >= 0 && mode <= 2 ? mode : 0], kCyan);
    text(w, 8, 125, 298, (w->ampStatus1 & 1) ? "Coax:RX+TX" : "  Coax:RTX", kCyan);
    const int f = w->freqHz;
    char name[8];
    if (f >= 26000000 && f < 28000000) {
        std::snprintf(buf, sizeof buf, "NOPA");
    } else if (BandNameOfFreq(w, name, sizeof name)) {
        std::snprintf(buf, sizeof buf, "Band:%s", name);
    } else {
        std::snprintf(buf, sizeof buf, "Band:---");
    }
    text(w, 8, 275, 298, buf, kCyan);
    if (w->ampBypass == 1)
        std::snprintf(buf, sizeof buf, "Att %s", "StBy");
    else
        std::snprintf(buf, sizeof buf, "Att %sdB", AttVectStr[w->attenuator & 3]);
    text(w, 8, 415, 298, buf, kCyan);
    std::snprintf(buf, sizeof buf, "Ant %d", w->antennaIdx + 1);
    text(w, 8, 535, 298, buf, kCyan);
    text(w, 8, 615, 298, w->tunerBypass ? "Atu: Bpy" : "Atu: On", kCyan);
    if (w->remoteRestart)
        putString(8, 725, 298, w->remoteEnabled ? "Remote" : "Local", 250, 0, 0, w->fb);
    else
        text(w, 8, 725, 298, w->remoteEnabled ? "Remote" : "Local", kCyan);

    DrawRect(w, 1, 307, 400, 332, 100, 100, 100);
    DrawRect(w, 405, 307, 799, 332, 100, 100, 100);
    if (w->tempMode == 1)
        std::snprintf(buf, sizeof buf, "PA Temp1: %04.01f\xC2\xB0" "F      Temp2: %04.01f\xC2\xB0" "F",
                      ConversionCelsius_to_Fahrenheit(w->temp1),
                      ConversionCelsius_to_Fahrenheit(w->temp2));
    else
        std::snprintf(buf, sizeof buf, "PA Temp1: %04.01f\xC2\xB0" "C      Temp2: %04.01f\xC2\xB0" "C",
                      w->temp1.load(), w->temp2.load());
    text(w, 8, 10, 327, buf, kGreen);
    const double volts = CalvTensVadcAmp(w, w->supplyAdc[3]);
    const double amps = w->currentRaw / 4096.0f * 14.05f;
    if (!HighPowerModel(w) && volts > 20)
        std::snprintf(buf, sizeof buf, "PA Voltage: -----       Current: %04.01fA", amps);
    else
        std::snprintf(buf, sizeof buf, "PA Voltage: %04.01fV       Current: %04.01fA", volts, amps);
    text(w, 8, 415, 327, buf, kGreen);
}

} // namespace

void InitMenu(Works* w) {
    InitKeyLabels();
    InitErrorTable(w);
}

void DrawParameters(Works* w) {
    if (w->deviceErrorCode > 0)
        return;
    const int page = w->keyPage;
    if (page == 1 || page == 2)
        return; // the menu lines come with the settings menu
    if (w->serviceFlags & 4) {
        putString(8, 100, 400, "FW UPDATE: please update fw with FlashMagic and then Reset HW", 250,
                  250, 250, w->fb);
        return;
    }
    if (w->viewFlags != 0)
        return; // the memory-table view and the status page draw their own texts
    messageLine(w);
    informationRows(w);
}

void ViewStatusInfo(Works*) {}
