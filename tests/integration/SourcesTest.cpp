// Every frequency source of the table, each against its device model: a bank in
// its mode starts its thread and ends the others', the frequency it reads
// reaches the amplifier as the band's filter, thresholds, antenna and stored
// tuner word, and the bank file's marker comes back as the same mode.
#include "RootedWorks.h"

#include "amp/Linear.h"
#include "devsim/AmpModel.h"
#include "devsim/Ft817Model.h"
#include "devsim/TrxModel.h"
#include "tuner/Bands.h"
#include "tuner/Banks.h"
#include "tuner/Sources.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"
#include "draw/Fb.h"
#include "ui/Time.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

ThreadSlot* slotOf(Service s) {
    switch (s) {
    case Service::TrxSerial:
        return &SlotOf(Thread::TrxSerial);
    case Service::Ft817:
        return &SlotOf(Thread::Ft817);
    case Service::Hamlib:
        return &SlotOf(Thread::Hamlib);
    default:
        return nullptr;
    }
}

class EachSource : public RootedWorks, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir.path);
        w->startupFlags.replace(0);
        w->NumBanco = 0;
        // No link runs until a bank's mode asks for it.
        setup->serialLinkEnabled = '0';
        setup->catSerialEnabled = '0';
        setup->CatSerialPort.set("/dev/ttyUSB2");
        SetSettingText(w.get(), "HamlibPort", "/dev/ttyUSB3");
        SetSettingNumber(w.get(), "HamlibModel", 1020); // Hamlib's FT-817 backend
        SetSettingNumber(w.get(), "HamlibSpeed", 38400);
        SetSettingNumber(w.get(), "HamlibPoll", 50);
        fb = fbInitMemory(800, 480, 32);
        w->fb = fb;
        w->lastKeyTime = static_cast<int64_t>(plat_mono_s());
        TimerInit(w.get());
        source = SourceOfMode(GetParam());
        ASSERT_NE(source, nullptr);
        // Bank 0 in this source's mode: 40 m on output 2 with the tuner, 20 m on output 1.
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna.txt",
                              std::string(source->marker) + "\n40m 7000000 7300000 1 2 0 0 0.0\n"
                                                            "20m 14000000 14350000 1 1 0 0 0.0\n"));
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/filter.txt",
                              "; low high enabled\n5300000 7400000 1\n10000000 14500000 1\n"));
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/config.txt",
                              "7000000 7300000 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 "
                              "0 0 0 0 0 0 0 0 0 0 1\n"
                              "14000000 14350000 60 3411.1 60 4247.1 10 1347.4 -0.007 10 11 15 70 "
                              "0 0 0 0 0 0 0 0 0 0 1\n"));
        ReadConfigFile(w.get());
        LoadTabFiltri(w.get());
        // A setting stored for 7.074 MHz on output 2: CL, L 40, C 90.
        int64_t segStart, segEnd;
        int first, end;
        const int idx = AtuIdxSearch(7074000, &segStart, &segEnd, &first, &end);
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/atu_ant2.txt",
                              std::to_string(idx) + " " + std::to_string(AtuFreqfromIdx(idx)) + " 1 1 40 90\n"));
        // The radio of every source, on 20 m.
        amp = AmpModelStart(dir.path + "/dev/ttyAMA0");
        ASSERT_NE(amp, nullptr);
        AmpModelSetFrequency(amp, 14074000);
        // The amplifier's counter counts the carrier it amplifies.
        if (source->amplifierCounts)
            AmpModelSetDrive(amp, 5.0f);
        TrxModelConfig trxCfg;
        trxCfg.hz = 14074000;
        trx = TrxModelStart(dir.path + "/dev/ttyUSB1", trxCfg);
        ASSERT_NE(trx, nullptr);
        Ft817ModelConfig ftCfg;
        ftCfg.hz = 14074000;
        ft817 = Ft817ModelStart(dir.path + "/dev/ttyUSB2", ftCfg);
        ASSERT_NE(ft817, nullptr);
        rig = Ft817ModelStart(dir.path + "/dev/ttyUSB3", ftCfg);
        ASSERT_NE(rig, nullptr);
        link = std::thread(Linear, w.get());
    }
    void TearDown() override {
        w->running = 0;
        for (ThreadSlot* t : {&SlotOf(Thread::TrxSerial), &SlotOf(Thread::Ft817), &SlotOf(Thread::Hamlib)})
            JoinThread(*t);
        if (link.joinable())
            link.join();
        Ft817ModelStop(rig);
        Ft817ModelStop(ft817);
        TrxModelStop(trx);
        AmpModelStop(amp);
        fbRelease(fb, true);
        std::free(w->bandTable); // the program keeps its table for life
        w->bandTable = nullptr;
        std::filesystem::current_path(old);
        RootedWorks::TearDown();
    }
    // The dial of this source's radio.
    void tuneRadio(int hz) {
        switch (source->mode) {
        case kModeGeneric:
            AmpModelSetFrequency(amp, hz);
            break;
        case kModeTav:
            TrxModelSetFrequency(trx, hz);
            break;
        case kModeFt817:
            Ft817ModelSetFrequency(ft817, hz);
            break;
        default:
            Ft817ModelSetFrequency(rig, hz);
            break;
        }
    }
    bool onWire(const std::string& prefix) {
        return WaitFor(
            [&] {
                for (auto& r : AmpModelReceived(amp))
                    if (r.text.compare(0, prefix.size(), prefix) == 0)
                        return true;
                return false;
            },
            10000);
    }
    // Ticks the refresh until the panel's frequency is `hz`.
    bool panelFollows(int hz) {
        return WaitFor(
            [&] {
                TimerTick(w.get());
                return w->freqHz == hz;
            },
            10000);
    }

    const FreqSource* source = nullptr;
    std::filesystem::path old;
    FrameBuffer* fb = nullptr;
    AmpModel* amp = nullptr;
    TrxModel* trx = nullptr;
    Ft817Model* ft817 = nullptr;
    Ft817Model* rig = nullptr;
    std::thread link;
};

TEST_P(EachSource, ItsModeRunsItsThreadAloneAndItsFrequencyReachesTheAmplifier) {
    // Every other link runs first, as if the bank before had started it.
    for (int m = 0; m < kModeWorkCount; m++) {
        const FreqSource* s = SourceOfMode(m);
        if (s->run && s != source) {
            *s->run(w.get()) = '1';
            StartService(w.get(), s->service);
        }
    }
    LoadAllBankTable(w.get(), 0);
    ASSERT_EQ(w->ModeWorkIdx, source->mode);
    for (int m = 0; m < kModeWorkCount; m++) {
        const FreqSource* s = SourceOfMode(m);
        if (!s->run)
            continue;
        ThreadSlot* slot = slotOf(s->service);
        ASSERT_NE(slot, nullptr) << s->name;
        if (s == source) {
            EXPECT_EQ(*s->run(w.get()), '1') << s->name;
            EXPECT_TRUE(ThreadRunning(*slot)) << s->name;
        } else {
            EXPECT_EQ(*s->run(w.get()), '0') << s->name;
            EXPECT_TRUE(WaitFor([&] { return !ThreadRunning(*slot); }, 10000)) << s->name;
        }
    }

    ASSERT_TRUE(panelFollows(14074000)) << ReadFile(dir.path + "/syslog.log");
    ASSERT_TRUE(WaitFor([&] { return CmdQueueEmpty(w.get()); }, 10000));
    AmpModelClearReceived(amp);
    tuneRadio(7074000);
    ASSERT_TRUE(panelFollows(7074000));
    EXPECT_EQ(w->antennaRowIdx, 0u); // the 40 m row
    EXPECT_EQ(w->antennaIdx, 1);     // its output 2
    // The amplifier's own counter needs no frequency; every other source sends it.
    if (!source->amplifierCounts) {
        EXPECT_TRUE(onWire("FA00007074000;"));
    }
    EXPECT_TRUE(onWire("SF30000"));
    EXPECT_TRUE(onWire("TS"));
    EXPECT_TRUE(onWire("SA2;"));
    Works tmp{};
    SetC(&tmp, 90);
    SetI(&tmp, 40);
    char word[16];
    std::snprintf(word, sizeof word, "MT1%08X;", tmp.tunerWord | kModeCL);
    EXPECT_TRUE(onWire(word));
    if (source->amplifierCounts) {
        for (auto& r : AmpModelReceived(amp)) {
            EXPECT_NE(r.text.rfind("FA", 0), 0u) << r.text;
        }
    }
}

TEST_P(EachSource, ItsMarkerComesBackAsItsMode) {
    w->ModeWorkIdx = source->mode;
    SaveToBank(w.get(), 0, 0);
    const std::vector<std::string> lines = ReadLines(dir.path + "/opt/set/antenna.txt");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], source->marker);
    w->ModeWorkIdx = -1;
    EXPECT_EQ(LoadTabConfig(w.get(), 0), source->mode);
}

INSTANTIATE_TEST_SUITE_P(Sources, EachSource, ::testing::Range(0, kModeWorkCount),
                         [](const ::testing::TestParamInfo<int>& i) {
                             std::string n = SourceName(i.param);
                             n.erase(std::remove(n.begin(), n.end(), ' '), n.end());
                             n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                             return n;
                         });

} // namespace
