// Whole pictures against reference PNGs under tests/reference (see
// tests/support/ReferencePicture.h): every skin with sample text in the panel's
// fonts, and the main pages 1 to 5 in a fixed state.
#include "ReferencePicture.h"
#include "TickedPicture.h"

#include "amp/Decoder.h"
#include "core/AlarmList.h"
#include "remote/StationRecord.h"
#include "ui/Keys.h"
#include "draw/Png.h"

#include <cmath>

namespace {

class ReferenceScreens : public TickedPicture {
  protected:
    ReferenceScreens() : TickedPicture(true) {}

    // The shown picture against tests/reference/NAME.png.
    void expectMatches(const std::string& name) {
        ExpectPictureMatches(fb->screen, name, oldCwd.string());
    }

    // Main page `page` as two ticks leave it: peak hold and needles settle on the same reading.
    void showPage(int page) {
        w->pages.screenPage = page;
        SetWorkImg(w.get());
        w->meters.skinReload = 0;
        TimerTick(w.get());
        TimerTick(w.get());
    }

    // A fixed operating state: 20 m, 30 W out, SWR 1.5, warm heat-sinks.
    void operatingState() {
        w->ModeWorkIdx = 0;
        w->source[kModeGeneric].freqHz = 14070000;
        w->freqHz = 14070000;
        w->lastFreqHz = 14070000;
        w->antennaRowIdx = 100;
        w->settings.viewTimeStr = 0;
        PublishAmpReadings(w.get(), {.pwrIn = 8.0f,
                                     .pwrFwd = 30.0f,
                                     .pwrRefl = 1.2f,
                                     .swr = 1.5f,
                                     .currentRaw = 9.5f,
                                     .temp1 = 35.2f,
                                     .temp2 = 33.8f});
        for (int i = 0; i < 1024; i++) // a noise floor with two stations
            w->grid.trace[i] = -105.0f + 4.0f * std::sin(i * 0.7f) +
                               60.0f * std::exp(-0.02f * (i - 300) * (i - 300)) +
                               40.0f * std::exp(-0.05f * (i - 560) * (i - 560));
    }
};

TEST_F(ReferenceScreens, EverySkinWithSampleText) {
    for (const char* skin :
         {"start", "start120", "statusB", "status", "img1", "img1b", "img3", "img3b", "m5a"}) {
        SCOPED_TRACE(skin);
        LoadSkin(w.get(), skin, 1);
        fbSetBack(fb);
        putString(9, 130, 300, "Loading ... 5", 255, 255, 255, fb);
        putString(4, 20, 440, "14.070MHz  \u00B0C \u00E4\u00F6\u00FC", 250, 150, 0, fb);
        putString(8, 120, 200, "FORWARD 30.0W", 0, 0, 0, fb); // on the meter face
        putString(6, 600, 470, "-100 dBm", 180, 180, 180, fb);
        fbRealize(fb);
        expectMatches(std::string("skin-") + skin);
    }
}

TEST_F(ReferenceScreens, MainPagesOneToFive) {
    operatingState();
    for (int page = 1; page <= 5; page++) {
        SCOPED_TRACE(page);
        showPage(page);
        expectMatches("page" + std::to_string(page));
    }
}

// The operator's unit: the station's values, grey once its record is old,
// "no link" without a session.
TEST_F(ReferenceScreens, OperatorsMainPageLinkedStaleAndUnlinked) {
    // The station's state, sent as the station sends it, with two alarms.
    operatingState();
    w->startupFlags.replace(0);
    readings([](AmpReadings& r) {
        r.pwrFwd = 57.4f;
        r.swr = 1.3f;
        r.temp1 = 44.6f;
        r.ampStatus2 = 1; // transmitting
    });
    w->NumBanco = 2;
    w->antennaIdx = 2;
    AddErrore(w.get(), kAlarmHighSwr);
    AddErrore(w.get(), kAlarmTuneTimeout);
    char record[kStatusRecordSize], alarms[kAlarmMessageMax];
    CreaBufferDiStato(w.get(), record);
    const size_t alarmsLen = BuildAlarmMessage(w.get(), alarms, sizeof alarms);
    // This unit's own readings are other ones, and it has no alarm of its own.
    readings([](AmpReadings& r) {
        r.pwrFwd = 3.0f;
        r.pwrRefl = 0.5f;
        r.swr = 2.5f;
        r.temp1 = r.temp2 = 22.0f;
        r.ampStatus2 = 0;
    });
    w->NumBanco = 1;
    w->antennaIdx = 0;
    DeleteErrore(w.get(), kAlarmHighSwr);
    DeleteErrore(w.get(), kAlarmTuneTimeout);

    w->setup->WebSocket = '2';
    w->wsFD = -1; // the record this unit sends goes nowhere
    w->remoteConnected = 1;
    StationRecordReceived(w.get(), reinterpret_cast<const uint8_t*>(record), kStatusRecordSent);
    StationAlarmsReceived(w.get(), reinterpret_cast<const uint8_t*>(alarms), alarmsLen);
    showPage(1);
    expectMatches("operator-linked");

    plat_clock_step_us(2500 * 1000); // no record for 2.5 s
    TimerTick(w.get());
    expectMatches("operator-stale");

    w->remoteConnected = 0;
    TimerTick(w.get());
    expectMatches("operator-unlinked");
}

} // namespace
