// The tuner word, the frequency index and the tuner memory with its files.
#include "RootedWorks.h"

#include "tuner/Banks.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"

#include <cstdlib>

namespace {

constexpr uint32_t kAllC = 0x8000 | 0x4 | 0x10 | 0x40 | 0x4000 | 0x1000 | 0x400 | 0x100 | 0x100000;
constexpr uint32_t kAllL = 0x2 | 0x8 | 0x20 | 0x80 | 0x2000 | 0x800 | 0x200 | 0x80000 | 0x200000;

class TuneMem : public RootedWorks {
  protected:
    void store(int index, int antenna, uint8_t mode, uint16_t l, uint16_t c) {
        SaveTuneValsuTabRam(w.get(), TuneMemEntry{1, mode, l, c}, index, antenna);
    }
    int index(int64_t f) {
        int64_t s, e;
        int first, end;
        return AtuIdxSearch(f, &s, &e, &first, &end);
    }
};

TEST_F(TuneMem, WordBitsModesAndDecoders) {
    w->tunerWord = 0x400000 | 0x20000;
    SetC(w.get(), 511);
    EXPECT_EQ(w->tunerWord & kAllC, kAllC);
    EXPECT_EQ(w->tunerWord & 0x400000u, 0u);
    SetI(w.get(), 0);
    EXPECT_EQ(w->tunerWord & kAllL, 0u);
    EXPECT_EQ(w->tunerWord & 0x20000u, 0u);
    // Every value round-trips through the bit table.
    for (uint32_t v = 0; v < 512; v++) {
        SetC(w.get(), v);
        SetI(w.get(), 511 - v);
        ASSERT_EQ(DecodeCapacitaFromTuneval(w->tunerWord), v);
        ASSERT_EQ(DecodeInduttanzaFromTuneval(w->tunerWord), 511 - v);
    }
    SetMode(w.get(), kTuneLC);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeLC);
    EXPECT_EQ(w->tunerBypass, 0);
    SetMode(w.get(), kTuneBypass);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeBypass);
    EXPECT_EQ(w->tunerBypass, 1);
    SetMode(w.get(), 7); // only stored
    EXPECT_EQ(w->tuner.tuneMode, 7);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeBypass);

    // Two mode bits at once: no mode, with a message, and ReadTnePar bypasses.
    w->tunerWord = kModeCL | kModeLC | 0x8000;
    EXPECT_EQ(DecodeModoFromTuneval(w->tunerWord), kTuneNone);
    ReadTnePar(w.get());
    EXPECT_EQ(w->tunerWord & kModeMask, kModeBypass);
    EXPECT_EQ(w->tuner.tuneC, 1u);
}

TEST_F(TuneMem, FrequencyIndexAndBack) {
    int64_t s, e;
    int first, end;
    EXPECT_EQ(AtuIdxSearch(14070000, &s, &e, &first, &end), 3117);
    EXPECT_EQ(first, 3110);
    EXPECT_EQ(end, 3145);
    // The last step rounds up to the end.
    for (auto [f, i] :
         {std::pair{14074999, 3117}, {14075000, 3118}, {1799000, 900}, {53999999, 4649}})
        EXPECT_EQ(index(f), i) << f;
    EXPECT_EQ(AtuFreqfromIdx(900), 1800000); // (3117's: the file TuneMem.FilesAreWritten... writes)
    EXPECT_EQ(AtuFreqfromIdx(0), 0);
    EXPECT_EQ(AtuFreqfromIdx(4569), 50000000);
    // Every band centre maps into its own segment and back to within half a step.
    for (int64_t f : {1840000, 3573000, 7074000, 10136000, 14074000, 18100000, 21074000, 24915000,
                      28074000, 50313000}) {
        int i = AtuIdxSearch(f, &s, &e, &first, &end);
        EXPECT_GE(i, first);
        EXPECT_LT(i, end);
        EXPECT_LE(std::llabs(AtuFreqfromIdx(i) - f), (e - s) / (end - first) / 2) << f;
    }
}

TEST_F(TuneMem, RecallPrefersTheExactThenTheNearestLowerEntry) {
    w->freqHz = 14070000; // index 3117
    store(3114, 0, kTuneLC, 40, 50);
    store(3120, 0, kTuneCL, 60, 70);
    w->tunerWord = kModeCL;
    LoadTuneFromMEM(w.get(), 0);
    EXPECT_EQ(w->tuner.tuneL, 40u); // 3 below wins over 3 above
    EXPECT_EQ(w->tuner.tuneC, 50u);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeLC);

    // A stored bypass mode loads as CL, with its L and C.
    store(3117, 1, kTuneBypass, 11, 22);
    LoadTuneFromMEM(w.get(), 1);
    EXPECT_EQ(w->tunerWord & kModeMask, kModeCL);
    EXPECT_EQ(w->tuner.tuneL, 11u);
    EXPECT_EQ(w->tuner.tuneC, 22u);

    // The same setting again: no change.
    const uint32_t before = w->tunerWord;
    LoadTuneFromMEM(w.get(), 1);
    EXPECT_EQ(w->tunerWord, before);

    // Nothing in the segment: the word stays.
    w->freqHz = 7100000;
    LoadTuneFromMEM(w.get(), 2);
    EXPECT_EQ(w->tunerWord, before);
}

// (Which word a frequency change recalls, the stored one, the neutral one or
// the bypass, the link puts on the wire end to end:
// TunerMemory.FrequencyChangeRecallsNeutralOrBypassWords.)
TEST_F(TuneMem, NoRecallWhileASearchRuns) {
    w->freqHz = 14070000;
    w->antennaIdx = 0;
    store(3144, 0, kTuneCL, 1, 2);
    GestioneLoadTuneVal(w.get(), 1);
    EXPECT_EQ(queued(), std::vector<int>{kCmdTuneFromMem});
    w->tuneState = 1;
    GestioneLoadTuneVal(w.get(), 1);
    EXPECT_TRUE(queued().empty());
}

TEST_F(TuneMem, FilesAreWrittenInIndexOrderAndReadBack) {
    store(4000, 1, kTuneLC, 300, 400);
    store(12, 1, kTuneCL, 1, 2);
    store(3117, 1, kTuneCL, 30, 40);
    SaveTabAtu(w.get(), 7, 1);
    EXPECT_EQ(ReadFile(dir.path + "/opt/set/atu_ant2_b7.txt"),
              "12 24000 1 1 1 2\n3117 14070000 1 1 30 40\n4000 " +
                  std::to_string(AtuFreqfromIdx(4000)) + " 1 2 300 400\n");
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/atu_ant2_b7.txt.new"));

    store(3117, 2, kTuneCL, 9, 9);
    LoadTabAtu(w.get(), 7, 2); // antenna 3 has no file in bank 7: its table is emptied
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 2).valid, 0);
    // (A written file read back to the same entries: the config_fuzz target;
    // bank 0's name: AutoTune.FirstSampleBelowTheTargetEndsAndStoresAtTheStart.)
    EXPECT_EQ(TuneMemFileName(19, 2), "/opt/set/atu_ant3_b19.txt");
    EXPECT_EQ(TuneMemFileName(20, 5), "/opt/set/atu_ant3.txt");
}

TEST_F(TuneMem, OutOfRangeIndexIsReportedAndTheRestLoads) {
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/atu_ant1.txt",
                          "; tuner memory\r\n5000 0 1 1 5 5\r\n-1 0 1 1 5 5\r\n"
                          "3117 14070000 1 2 7 8\r\n900 1800000 1 1 3 4\r\n"));
    testing::internal::CaptureStderr();
    LoadTabAtu(w.get(), 0, 0);
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(), "LoadTabAtu Errore idx\n"));
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 0).l, 7);
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 900, 0).c, 4);
}

TEST_F(TuneMem, AntennaRowOfTheFrequencyIsApplied) {
    InitTabAntenna(w.get(), 0);
    AntennaRow& r20 = w->antennaTable[5]; // 20 m
    r20.antenna = 3;
    r20.atuBypass = 0;
    r20.ampEnable = 1;
    r20.attStep = 2;
    w->freqHz = 14200000;
    w->ampBypass = 1;
    GestioneAntennaAutomatica(w.get());
    EXPECT_EQ(w->antennaRowIdx, 5u);
    EXPECT_EQ(w->antennaIdx, 2);
    EXPECT_EQ(w->attenuator, 2);
    EXPECT_EQ(queued(), (std::vector<int>{kCmdAntenna, kCmdTunerReset, kCmdBypassOff, kCmdAtt}));

    // A bypassed band in standby.
    w->freqHz = 7100000;
    w->ampBypass = 0;
    GestioneAntennaAutomatica(w.get());
    EXPECT_EQ(queued(), (std::vector<int>{kCmdAntenna, kCmdTunerBypass, kCmdBypassOn}));
    EXPECT_EQ(w->antennaIdx, 0);

    // Outside every band nothing is applied and no re-evaluation is forced.
    w->freqHz = 16000000;
    GestioneAntennaAutomatica(w.get());
    EXPECT_EQ(w->antennaRowIdx, 100u);
    EXPECT_TRUE(queued().empty());
}

} // namespace
