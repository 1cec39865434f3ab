// The automatic tuning search, step by step: starts, limits, the walk of its
// runs and its ends. (Its search over the amplifier model's L network, with
// the transceiver's carrier, runs end to end: TuneOnTransmit.*.)
#include "RootedWorks.h"

#include "tuner/AutoTune.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

class AutoTune : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
        w->freqHz = 14200000;
        w->NumBanco = 0;
        w->tuneModeFlags.replace(1);
        w->tunerBypass = 0;
    }
    // Runs the search as the link does: after each status reply (whose SWR is that
    // of the word sent last) one step.
    struct Trace {
        int samples = 0;             // the most samples counted during the search
        std::vector<uint32_t> words; // the word after each step
    };
    Trace search(const std::function<float(uint32_t)>& swrOf, int maxSteps = 5000) {
        StartAutotune(w.get());
        queued();
        w->cmdQueueDrain = 0; // the start commands have gone out
        w->trxTransmitting = 1;
        Trace t;
        for (int i = 0; i < maxSteps && w->tuneState != 0; i++) {
            PublishAmpReadings(w.get(), {.pwrFwd = 50.0f, .swr = swrOf(w->tunerWord)});
            TuneTask(w.get());
            t.samples = std::max(t.samples, ::search.cnttune.load());
            t.words.push_back(w->tunerWord);
        }
        return t;
    }
    std::string storedFile() { return ReadFile(dir.path + "/opt/set/atu_ant1.txt"); }
};

TEST_F(AutoTune, TheKeyStartsWithTheAmplifiersPreparation) {
    w->ModeWorkIdx = 1;
    PublishAmpReadings(w.get(), {.ampStatus1 = 1});
    w->tuneModeFlags.replace(0x41);
    w->tuner.tuneStep = 5; // where the search before ended
    GoTune(w.get());
    EXPECT_EQ(w->tuneState, 1);
    EXPECT_EQ(w->tuner.tuneStep, 0);
    EXPECT_EQ(w->cmdQueueDrain, 1);
    EXPECT_EQ(w->tsThresholds[0], 4095);
    EXPECT_EQ(w->tuneModeFlags.load(), 0x11); // a carrier is wanted; the old end mark is gone
    EXPECT_EQ(queued(), (std::vector<int>{kCmdProtOn, kCmdAttTune, kCmdThresholds, kCmdClearProt,
                                          kCmdProtOff, kCmdAn}));
    // Nothing happens while the start commands are still going out.
    TuneTask(w.get());
    EXPECT_EQ(w->tuner.tuneStep, 0);
    // The key again aborts, without storing.
    GoTune(w.get());
    EXPECT_EQ(w->tuneState, 0);
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/atu_ant1.txt"));
}

// The tuner bypassed, no tuner fitted, the search switched off in the menu:
// nothing is sent and no tune carrier is asked for.
TEST_F(AutoTune, NoSearchWithTheTunerBypassedOrMissing) {
    w->ModeWorkIdx = 1;
    for (auto [bypass, fitted, flags] : {std::tuple{1, 0, 1}, {0, -128, 1}, {0, 0, 0}}) {
        w->tunerBypass = bypass;
        w->settings.tuneEnabled = fitted;
        w->tuneModeFlags.replace(flags);
        GoTune(w.get());
        EXPECT_EQ(w->tuneState, 0) << bypass << " " << fitted << " " << flags;
        EXPECT_TRUE(queued().empty()) << bypass << " " << fitted << " " << flags;
        EXPECT_EQ(w->tuneModeFlags.load(), flags) << bypass << " " << fitted << " " << flags;
    }
}

TEST_F(AutoTune, FirstSampleBelowTheTargetEndsAndStoresAtTheStart) {
    w->settings.swrEscAutoTune = 1.5f;
    w->thresholdRowIdx = 1; // the band's row sent before the search
    Trace t = search([](uint32_t) { return 1.2f; });
    EXPECT_EQ(w->tuneState, 0);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(w->tunerWord), 0u);
    EXPECT_EQ(DecodeCapacitaFromTuneval(w->tunerWord), 0u);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeCL);
    EXPECT_EQ(storedFile(), "3130 14200000 1 1 0 0\n");
    EXPECT_TRUE(w->tuneModeFlags.test(0x04)); // the transceiver goes back to receive
    EXPECT_EQ(w->thresholdRowIdx, -1);        // forgotten: the row's thresholds go out again
    EXPECT_FLOAT_EQ(w->tuner.bestSwr, 1.2f);
}

TEST_F(AutoTune, SampleLimitEndsAtTheBestWithItsAlarm) {
    w->settings.autoTuneMaxCycles = 9; // above the table: held to its last entry (100 samples)
    w->settings.swrEscAutoTune = 1.1f;
    // The best reading is the 50th sample (L 196 in the first run).
    Trace t = search([](uint32_t word) {
        const uint32_t l = DecodeInduttanzaFromTuneval(word);
        return l == 196 ? 1.8f : 3.0f;
    });
    EXPECT_EQ(w->tuneState, 0);
    EXPECT_EQ(t.samples, 101);
    EXPECT_TRUE(ExistError(w.get(), 13)); // a target was set
    EXPECT_EQ(DecodeInduttanzaFromTuneval(w->tunerWord), 196u);
    std::vector<int> q = queued();
    EXPECT_NE(std::find(q.begin(), q.end(), kCmdProtOn), q.end()); // protection on
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/atu_ant1.txt"));
    // Without a target the alarm is the time-out.
    w->settings.swrEscAutoTune = 0.0f;
    search([](uint32_t) { return 3.0f; });
    EXPECT_TRUE(ExistError(w.get(), 12));
}

TEST_F(AutoTune, EqualReadingsWalkEveryRunToItsEnd) {
    w->settings.autoTuneMaxCycles = 0; // 600 samples
    w->settings.swrEscAutoTune = 0.0f;
    Trace t = search([](uint32_t) { return 2.0f; });
    EXPECT_EQ(w->tuneState, 0);
    uint32_t maxLcl = 0, maxCcl = 0, maxCl = 0, maxLfinal = 0;
    bool lc = false, final = false;
    for (uint32_t word : t.words) {
        const uint32_t l = DecodeInduttanzaFromTuneval(word), c = DecodeCapacitaFromTuneval(word);
        if ((word & kModeMask) == kModeLC)
            lc = true;
        if (!lc) {
            maxLcl = std::max(maxLcl, l);
            maxCcl = std::max(maxCcl, c);
        } else if ((word & kModeMask) == kModeLC) {
            maxCl = std::max(maxCl, c);
        } else {
            final = true;
            maxLfinal = std::max(maxLfinal, l);
        }
    }
    EXPECT_EQ(maxLcl, 508u);
    EXPECT_EQ(maxCcl, 504u);
    EXPECT_EQ(maxCl, 504u);
    EXPECT_TRUE(final);
    EXPECT_EQ(maxLfinal, 510u);
    // The best stays the first sample: the tuner ends at L 0, C 0, CL, and is stored.
    EXPECT_EQ(DecodeInduttanzaFromTuneval(w->tunerWord), 0u);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeCL);
    EXPECT_EQ(storedFile(), "3130 14200000 1 1 0 0\n");
    // Every run to its end, fine runs at their longest: L 0..508 by 4 (128), L
    // 507..499 (9), C 8..504 by 8 (63), C 503..487 (17), C 0 in LC (1), C 8..504
    // (63), C 503..487 (17), L 2..510 by 2 (255), L 509..503 (7). The last sample
    // ends the search, which clears the count in the same step.
    EXPECT_EQ(t.samples, 560);
}

TEST_F(AutoTune, ResultsUpToSwrSixAreStored) {
    w->tunerWord = kModeCL;
    for (float swr : {6.0f, 6.01f}) {
        ::search.tuneParam = TuneSample{swr, 50.0f, 1, 2, kModeCL};
        EscAutoTune(w.get(), 1);
        EXPECT_EQ(FileExists(dir.path + "/opt/set/atu_ant1.txt"), swr <= 6.0f) << swr;
        EXPECT_EQ(ExistError(w.get(), 18) != 0, swr > 6.0f) << swr;
        std::remove((dir.path + "/opt/set/atu_ant1.txt").c_str());
    }
}

TEST_F(AutoTune, AnAmplifierAlarmCountsAsSwr100AndIsClearedFirst) {
    StartAutotune(w.get());
    ::search.tuneParam = TuneSample{};
    PublishAmpReadings(w.get(), {.ampStatus2 = 2, .swr = 1.3f});
    EXPECT_EQ(TuneStep(w.get()), 0);
    EXPECT_FLOAT_EQ(::search.tuneParam.swrVal, 100.0f);
    EXPECT_EQ(w->tuneState, 2); // the link sends "CPFFFF;" before the next step
}

} // namespace
