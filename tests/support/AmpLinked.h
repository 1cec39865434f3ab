// A rooted record whose link thread runs against the amplifier's model, with a
// drawing buffer and the refresh's timer, in the root as the working folder
// (the bank and tuner files are read from there); and the bank files of a
// station with two bands.
#pragma once

#include "ModelWire.h"
#include "RootedWorks.h"

#include "amp/Linear.h"
#include "devsim/AmpModel.h"
#include "platform/Clock.h"
#include "tuner/Bands.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"
#include "ui/Time.h"

#include <cstdio>
#include <cstdlib>

// The tuner word of L `l` and C `c` in the network of `modeBits`, and the
// command that sends it.
inline uint32_t TunerWord(uint32_t l, uint32_t c, uint32_t modeBits) {
    Works tmp{};
    SetC(&tmp, c);
    SetI(&tmp, l);
    return tmp.tunerWord | modeBits;
}
inline std::string TunerWordCommand(uint32_t l, uint32_t c, uint32_t modeBits) {
    char b[16];
    std::snprintf(b, sizeof b, "MT1%08X;", TunerWord(l, c, modeBits));
    return b;
}

class AmpLinked : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        usePicture(dir.path);
        w->startupFlags.replace(0);
        w->NumBanco = 0;
        // No link runs until a bank's mode asks for it.
        setup->serialLinkEnabled = '0';
        setup->catSerialEnabled = '0';
        TimerInit(w.get());
    }
    void TearDown() override {
        w->running = 0;
        for (Thread t : {Thread::TrxSerial, Thread::Ft817, Thread::Hamlib, Thread::Link})
            JoinThread(SlotOf(t));
        if (link.joinable()) link.join();
        stopModels();
        AmpModelStop(amp);
        std::free(w->bandTable); // the program keeps its table for life
        w->bandTable = nullptr;
        RootedWorks::TearDown();
    }
    // A derived fixture's own models, stopped once the threads have ended.
    virtual void stopModels() {}
    void startLink() {
        amp = AmpModelStart(dir.path + "/dev/ttyAMA0");
        ASSERT_NE(amp, nullptr);
        link = std::thread(Linear, w.get());
    }
    bool onWire(const std::string& prefix, int ms = 10000) { return AmpGot(amp, prefix, ms); }
    // Ticks the refresh until the panel's frequency is `hz`.
    bool panelFollows(int hz) {
        return WaitFor(
            [&] {
                TimerTick(w.get());
                return w->freqHz == hz;
            },
            10000);
    }
    // Bank 0 in the mode of `marker`: 40 m on output 2 with the tuner, 20 m on
    // output 1, each with its filter and band row, and a tuner setting stored
    // for 7.074 MHz on output 2 (CL, L 40, C 90).
    void writeTwoBandBank(const std::string& marker) {
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna.txt",
                              marker + "\n40m 7000000 7300000 1 2 0 0 0.0\n"
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
        int64_t segStart, segEnd;
        int first, end;
        const int idx = AtuIdxSearch(7074000, &segStart, &segEnd, &first, &end);
        const std::string slot = std::to_string(idx) + " " + std::to_string(AtuFreqfromIdx(idx));
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/atu_ant2.txt", slot + " 1 1 40 90\n"));
    }

    AmpModel* amp = nullptr;
    std::thread link;
};
