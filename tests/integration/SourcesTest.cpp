// Every frequency source of the table, each against its device model: a bank in
// its mode starts its thread and ends the others', and the frequency it reads
// reaches the amplifier as the band's filter, thresholds, antenna and stored
// tuner word. (Each marker written back: Banks.MarkersRoundTrip.)
#include "AmpLinked.h"

#include "devsim/Ft817Model.h"
#include "devsim/TrxModel.h"
#include "tuner/Banks.h"
#include "tuner/Sources.h"

#include <utility>

namespace {

ThreadSlot* slotOf(Service s) {
    const std::pair<Service, Thread> slots[] = {{Service::TrxSerial, Thread::TrxSerial},
                                                {Service::Ft817, Thread::Ft817},
                                                {Service::Hamlib, Thread::Hamlib}};
    for (auto [service, thread] : slots)
        if (service == s) return &SlotOf(thread);
    return nullptr;
}

class EachSource : public AmpLinked, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AmpLinked::SetUp());
        setup->CatSerialPort.set("/dev/ttyUSB2");
        SetSettingText(w.get(), "HamlibPort", "/dev/ttyUSB3");
        SetSettingNumber(w.get(), "HamlibModel", 1020); // Hamlib's FT-817 backend
        SetSettingNumber(w.get(), "HamlibSpeed", 38400);
        SetSettingNumber(w.get(), "HamlibPoll", 50);
        source = SourceOfMode(GetParam());
        ASSERT_NE(source, nullptr);
        ASSERT_NO_FATAL_FAILURE(writeTwoBandBank(source->marker));
        // The radio of every source, on 20 m.
        ASSERT_NO_FATAL_FAILURE(startLink());
        AmpModelSetFrequency(amp, 14074000);
        // The amplifier's counter counts the carrier it amplifies.
        if (source->amplifierCounts) AmpModelSetDrive(amp, 5.0f);
        trx = TrxModelStart(dir.path + "/dev/ttyUSB1", {.hz = 14074000});
        const Ft817ModelConfig ftCfg{.hz = 14074000};
        ft817 = Ft817ModelStart(dir.path + "/dev/ttyUSB2", ftCfg);
        rig = Ft817ModelStart(dir.path + "/dev/ttyUSB3", ftCfg);
        ASSERT_TRUE(trx && ft817 && rig);
    }
    void stopModels() override {
        Ft817ModelStop(rig);
        Ft817ModelStop(ft817);
        TrxModelStop(trx);
    }
    // The dial of this source's radio.
    void tuneRadio(int hz) {
        if (source->mode == kModeGeneric)
            AmpModelSetFrequency(amp, hz);
        else if (source->mode == kModeTav)
            TrxModelSetFrequency(trx, hz);
        else
            Ft817ModelSetFrequency(source->mode == kModeFt817 ? ft817 : rig, hz);
    }

    const FreqSource* source = nullptr;
    TrxModel* trx = nullptr;
    Ft817Model* ft817 = nullptr;
    Ft817Model* rig = nullptr;
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
        if (!s->run) continue;
        ThreadSlot* slot = slotOf(s->service);
        ASSERT_NE(slot, nullptr) << s->name;
        EXPECT_EQ(*s->run(w.get()), s == source ? '1' : '0') << s->name;
        EXPECT_TRUE(s == source ? ThreadRunning(*slot)
                                : WaitFor([&] { return !ThreadRunning(*slot); }, 10000))
            << s->name;
    }

    ASSERT_TRUE(panelFollows(14074000)) << syslog();
    ASSERT_TRUE(WaitFor([&] { return CmdQueueEmpty(w.get()); }, 10000));
    AmpModelClearReceived(amp);
    tuneRadio(7074000);
    ASSERT_TRUE(panelFollows(7074000));
    EXPECT_EQ(w->antennaRowIdx, 0u); // the 40 m row
    EXPECT_EQ(w->antennaIdx, 1);     // its output 2
    // The 40 m filter, thresholds, output and stored tuner word.
    EXPECT_TRUE(onWire("SF30000"));
    EXPECT_TRUE(onWire("TS"));
    EXPECT_TRUE(onWire("SA2;"));
    EXPECT_TRUE(onWire(TunerWordCommand(40, 90, kModeCL)));
    // The amplifier's own counter needs no frequency; every other source sends it.
    if (source->amplifierCounts) {
        EXPECT_FALSE(onWire("FA", 0));
    } else {
        EXPECT_TRUE(onWire("FA00007074000;"));
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EachSource, ::testing::Range(0, kModeWorkCount),
                         [](const ::testing::TestParamInfo<int>& i) {
                             std::string n = SourceName(i.param);
                             std::erase_if(n, [](char c) { return c == ' ' || c == '-'; });
                             return n;
                         });

} // namespace
