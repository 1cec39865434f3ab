// The transceiver link thread against the transceiver model over a pty, and the
// automatic tune of work mode 1 end to end: keys, refresh tick, amplifier link
// and transceiver link together with both models.
#include "AmpLinked.h"

#include "core/CmdRing.h"
#include "core/KeyLabels.h"
#include "devsim/AmpPhysics.h"
#include "devsim/TrxModel.h"
#include "wire/Messages.h"
#include "remote/Receive.h"
#include "tuner/Banks.h"
#include "tuner/Retune.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"
#include "tuner/TunerRequests.h"
#include "ui/KeyActions.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

class Transceiver : public AmpLinked {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AmpLinked::SetUp());
        useTimeScale(timeScale());
        setup->serialLinkEnabled = '1';
    }
    void TearDown() override {
        w->running = 0;
        for (std::thread* t : {&serial, &ticker})
            if (t->joinable()) t->join();
        AmpLinked::TearDown();
    }
    void stopModels() override { TrxModelStop(trx); }
    void startTrx(const TrxModelConfig& cfg = {}) {
        trx = TrxModelStart(dir.path + "/dev/ttyUSB1", cfg);
        ASSERT_NE(trx, nullptr);
    }
    void startSerial() { serial = std::thread(Serial, w.get()); }
    // How much faster than the wall clock the program and the models run.
    virtual int timeScale() { return 1; }
    // Everything the remote peer has received within `ms`.
    std::vector<uint8_t> drainRemote(int ms) {
        std::vector<uint8_t> got;
        const int64_t end = plat_mono_ms() + ms;
        for (uint8_t b; plat_mono_ms() < end;)
            if (readPeer(&b, 1, 20)) got.push_back(b);
        return got;
    }
    std::vector<std::string> trxTexts() {
        std::vector<std::string> out;
        for (auto& r : TrxModelReceived(trx))
            out.push_back(r.text);
        return out;
    }
    bool trxGot(const std::string& text, int timeoutMs) {
        return WaitFor([&] { return indexOf(trxTexts(), text) >= 0; }, timeoutMs);
    }
    // The first text from `from` on that begins with `t` (the whole text when `t` ends in ';').
    static int indexOf(const std::vector<std::string>& v, const std::string& t, int from = 0) {
        for (size_t i = static_cast<size_t>(from); i < v.size(); i++)
            if (v[i].rfind(t, 0) == 0) return static_cast<int>(i);
        return -1;
    }
    TrxParameters params() {
        TrxParameters p;
        getParameters(&p, w.get());
        return p;
    }
    int activeFreq() { return params().activeFreq; }

    TrxModel* trx = nullptr;
    std::thread serial, ticker;
};

TEST_F(Transceiver, ParametersFollowTheRadioThroughASilentAndABadLine) {
    // A silent line raises the link's alarm; then the radio is followed.
    startTrx();
    TrxModelSetSilent(trx, true);
    startSerial();
    ASSERT_TRUE(WaitFor([&] { return ExistError(w.get(), 8); }, 4000));
    EXPECT_GT(w->errHoldoffMs, 0);
    TrxModelSetSilent(trx, false);
    ASSERT_TRUE(WaitFor([&] { return activeFreq() == 14074000; }, 10000));
    EXPECT_EQ(w->serFD >= 0, true);

    // Garbage, a frame cut off in the middle and dropped bytes: the thread finds
    // the next frame header again and the record follows the radio.
    TrxModelSendGarbage(trx, 300);
    TrxModelCutNextFrame(trx, 20);
    TrxModelSetFrequency(trx, 7074000);
    ASSERT_TRUE(WaitFor([&] { return activeFreq() == 7074000; }, 5000));
    TrxModelSetDropPercent(trx, 2);
    TrxModelSetFrequency(trx, 21074000);
    WaitFor([&] { return TrxModelFramesSent(trx) > 40; }, 5000);
    TrxModelSetDropPercent(trx, 0);
    ASSERT_TRUE(WaitFor([&] { return activeFreq() == 21074000; }, 5000));
    TrxModelSetMode(trx, 4);
    ASSERT_TRUE(WaitFor([&] { return params().activeMode == 4 && params().pitchHz == 600; }, 3000));
    // (Switched off with a frame half read: SerialDecode.ReadEndsWhenTheLinkIsSwitchedOff.)
}

TEST_F(Transceiver, FramesGoToTheRemotePeer) {
    remoteSession();
    setup->usbSpectrum = '0'; // the spectrum of this link is the one forwarded
    startTrx({.mode = 4});    // the trace is shifted by the pitch
    startSerial();
    const std::vector<uint8_t> got = drainRemote(600);
    int params = 0, fragments = 0;
    for (size_t i = 0; i + 2 <= got.size();) {
        ASSERT_EQ(got[i], 0x82) << i; // every frame whole and binary
        if (got[i + 1] == 0x7E) { // a spectrum fragment
            // (Its tag and offsets, the same sender's: UsbRx.StreamsFourWholeTransfers...)
            if (i + kFragmentFrame > got.size()) break;
            const uint32_t total = (got[i + 8] << 8) | got[i + 9];
            EXPECT_EQ(total, 1024u); // 1194 bytes less the 170 of the tail
            fragments++;
            i += kFragmentFrame;
        } else {
            const size_t n = got[i + 1];
            if (i + 2 + n > got.size()) break;
            EXPECT_EQ(std::string(got.begin() + i + 2, got.begin() + i + 4), "PA");
            EXPECT_EQ(n, 31u + 2u);
            const std::vector<uint8_t> expect =
                TrxParameterPayload(14074000, 4, false, false, 600, 0);
            EXPECT_TRUE(std::equal(expect.begin(), expect.end(), got.begin() + i + 4));
            params++;
            i += 2 + n;
        }
    }
    EXPECT_GE(params, 3);
    EXPECT_GE(fragments, 6);

    // With the USB receiver as the spectrum source only the parameters go.
    setup->usbSpectrum = '1';
    drainRemote(100);
    const std::vector<uint8_t> later = drainRemote(400);
    ASSERT_FALSE(later.empty());
    for (size_t i = 0; i + 1 < later.size(); i += 2 + later[i + 1])
        EXPECT_NE(later[i + 1], 0x7E);
}

TEST_F(Transceiver, RequestsGoOutAfterAFrame) {
    startTrx();
    startSerial();
    ASSERT_TRUE(WaitFor([&] { return activeFreq() == 14074000; }, 10000));

    // A manual transmit request waits while exactly one of bits 4 and 5 is set.
    TrxModelClearReceived(trx);
    w->txButtonFlags.replace(0x13);
    WaitFor([&] { return TrxModelFramesSent(trx) > 10; }, 1000);
    const int frames = TrxModelFramesSent(trx);
    ASSERT_TRUE(WaitFor([&] { return TrxModelFramesSent(trx) >= frames + 5; }, 10000));
    EXPECT_TRUE(trxTexts().empty());
    EXPECT_EQ(w->txButtonFlags.load(), 0x13);
    w->txButtonFlags.replace(0x33);
    ASSERT_TRUE(trxGot("TX2;", 2000));
    EXPECT_TRUE(WaitFor([&] { return w->txButtonFlags.load() == 0x32; }, 10000));

    // A manual receive request holds the automatic tune off for 30 ticks (they
    // count while the radio still reports its transmission). The ticks are
    // slowed to 200 ms here: at 10 ms a test thread that a loaded machine held
    // for 300 ms found the hold already counted down.
    w->refreshUs = 200000;
    w->txButtonFlags.replace(0x01);
    ASSERT_TRUE(trxGot("RX;", 2000));
    int hold = -1;
    EXPECT_TRUE(WaitFor(
        [&] {
            hold = w->rxHoldTicks;
            return w->txButtonFlags.load() == 0x00;
        },
        10000));
    EXPECT_GE(hold, 25);
    EXPECT_LE(hold, 30);
}

TEST_F(Transceiver, AMissingOrUnpluggedPortShowsTheErrorPageAndKeepsRunning) {
    testing::internal::CaptureStderr();
    startSerial();
    serial.join();
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(),
                         "Serial: Unable to open device /dev/ttyUSB1"));
    EXPECT_EQ(w->deviceErrorCode, 3);
    EXPECT_STREQ(w->deviceErrorText.get().s, "Serial: Unable to open device /dev/ttyUSB1");
    EXPECT_TRUE(Contains(syslog(), "Unable to open device /dev/ttyUSB1"));
    // Plugged in, then the adapter goes away.
    startTrx();
    startSerial();
    ASSERT_TRUE(WaitFor([&] { return activeFreq() == 14074000; }, 10000));
    TrxModelStop(trx);
    trx = nullptr;
    serial.join();
    EXPECT_EQ(w->deviceErrorCode, 3);
    EXPECT_STREQ(w->deviceErrorText.get().s, "Serial: device /dev/ttyUSB1 went away");
    EXPECT_EQ(w->running, 1);
    EXPECT_EQ(w->serFD, -1);
}

// Work mode 1 with the amplifier and the transceiver: the tune key tunes.
class TuneOnTransmit : public Transceiver {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Transceiver::SetUp());
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna.txt",
                              "!Tav\n20m 14000000 14350000 1 1 0 0 0.0\n"));
        LoadAllBankTable(w.get(), 0);
        w->ModeWorkIdx = 1;
        w->tuneModeFlags.replace(1);
        w->attenuator = 0;
        w->settings.attenuatorTune = 3;
        w->settings.swrEscAutoTune = 1.3f;
        w->settings.autoTuneMaxCycles = 4;
        ASSERT_NO_FATAL_FAILURE(startLink());
        AmpModelSetFrequency(amp, 14074000);
        startTrx();
        TrxModelSetTransmitHook(
            trx, [this](bool on, float watts) { AmpModelSetDrive(amp, on ? watts : 0.0f); });
        startSerial();
        ticker = std::thread(timer, w.get());
        // The frequency from the transceiver has reached the amplifier.
        ASSERT_TRUE(WaitFor([&] { return w->freqHz == 14074000 && w->tunerBypass == 0; }, 5000))
            << w->freqHz << " " << int(w->tunerBypass) << " " << w->deviceErrorCode << " "
            << w->deviceErrorText.get().s;
        ASSERT_TRUE(AmpGot(amp, "FA00014074000;", 5000));
    }
    // The last commands the amplifier received, for a failure's message.
    std::string lastAmpTexts() {
        std::string t = "the amplifier last received:";
        const std::vector<std::string> v = AmpWire(amp);
        for (size_t i = v.size() > 30 ? v.size() - 30 : 0; i < v.size(); i++)
            t += " " + v[i];
        return t;
    }
    // How many of the amplifier's commands begin with `prefix`.
    int sentCount(const std::string& prefix) {
        int n = 0;
        for (const std::string& t : AmpWire(amp))
            n += t.rfind(prefix, 0) == 0;
        return n;
    }
};

TEST_F(TuneOnTransmit, TuneKeyTunesAndStoresTheWord) {
    const float before = AmpModelSwr(amp);
    AmpModelClearReceived(amp);
    TrxModelClearReceived(trx);
    TunerRequest(w.get(), TunerAsk::GoTune); // the tune key
    ASSERT_TRUE(WaitFor([&] { return w->tuneState != 0; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return w->tuneState == 0; }, 60000));

    // The search walked the tuner and, once over, put the attenuator back (the
    // amplifier's preparation: AutoTune.TheKeyStartsWithTheAmplifiersPreparation).
    const int att = indexOf(AmpWire(amp), AttenuatorText(3));
    ASSERT_GE(att, 0);
    EXPECT_GT(sentCount("MT1"), 5);
    EXPECT_TRUE(WaitFor([&] { return indexOf(AmpWire(amp), AttenuatorText(0), att) >= 0; }, 10000))
        << "the attenuator is put back";

    // The transceiver gave a carrier for the search and was sent back to receive.
    ASSERT_TRUE(trxGot("RX;", 2000));
    const std::vector<std::string> t = trxTexts();
    const int tx = indexOf(t, "TX2;");
    ASSERT_GE(tx, 1);
    EXPECT_EQ(t[static_cast<size_t>(tx - 1)], "TU120;");
    EXPECT_GT(indexOf(t, "RX;", tx), tx);
    EXPECT_TRUE(WaitFor([&] { return !TrxModelTransmitting(trx); }, 10000));

    // The best word is stored for this frequency and its SWR beats the untuned one.
    const float after = AmpModelSwr(amp);
    EXPECT_LT(after, before);
    const bool reached = after < 1.35f;
    EXPECT_TRUE(reached || ExistError(w.get(), 13)) << after;
    if (reached) {
        // The slot of this frequency holds the word the amplifier ended with.
        int64_t from, to;
        int first, last;
        const int slot = AtuIdxSearch(14074000, &from, &to, &first, &last);
        const uint32_t word = AmpModelTunerWord(amp);
        char line[64];
        std::snprintf(line, sizeof line, "%d %lld 1 %d %u %u\n", slot,
                      static_cast<long long>(AtuFreqfromIdx(slot)), DecodeModoFromTuneval(word),
                      DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word));
        EXPECT_EQ(ReadFile(dir.path + "/opt/set/atu_ant1.txt"), line);
    }
}

TEST_F(TuneOnTransmit, TransceiverThatNeverTransmitsEndsWithAlarm14) {
    TrxModelSetIgnoreTune(trx, true);
    TunerRequest(w.get(), TunerAsk::GoTune);
    ASSERT_TRUE(trxGot("TX2;", 3000));
    ASSERT_TRUE(WaitFor([&] { return ExistError(w.get(), 14); }, 10000));
    EXPECT_EQ(w->tuneState, 0);
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/atu_ant1.txt"));
    EXPECT_TRUE(trxGot("RX;", 3000));
}

// The operator holds the transmission (the PTT, or a remote operator's
// transmission the station's "RX;" does not end): tune on transmit searches once
// and stores once, and searches again only when the SWR rises and stays up.
class HeldTransmission : public TuneOnTransmit {
  protected:
    int timeScale() override { return 6; }
    void SetUp() override {
        RetuneForget();
        ASSERT_NO_FATAL_FAILURE(TuneOnTransmit::SetUp());
        w->settings.autoTuneMaxCycles = 0; // room to finish the search: its word is stored
        // A minute of 60 W would heat the sink to the protection's 60 degrees.
        AmpModelSetTemperatures(amp, 35.0f, 33.0f);
    }
    // Each search opens the input threshold fully ("TS4095...") as it starts.
    int searches() { return sentCount("TS4095"); }
    int remounts() {
        return static_cast<int>(CountOf(ReadFile(dir.path + "/commands.log"),
                                        "mount -o remount defaults,rw /opt/set\n"));
    }
};

TEST_F(HeldTransmission, OneSearchAndOneStoreUntilTheSwrRisesForTheHoldTime) {
    // Before the frequency is known the default thresholds go out, "TS4095..." as
    // a search's: the count starts once the band's own have been sent.
    ASSERT_TRUE(
        WaitFor([&] { return w->freqHz > 0 && w->thresholdRowIdx != -1 && CmdQueueEmpty(w.get()); },
                10000));
    plat_sleep_ms(500);
    AmpModelClearReceived(amp);
    TrxModelSetPtt(trx, true, 40.0f);
    ASSERT_TRUE(WaitFor([&] { return w->tuneState != 0; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return w->tuneState == 0; }, 60000)) << lastAmpTexts();
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir.path + "/opt/set/atu_ant1.txt"); }, 5000))
        << "the search stored its word";
    ASSERT_TRUE(trxGot("RX;", 5000));
    const int stored = remounts();
    EXPECT_GE(stored, 1);

    // A minute of the same transmission, the SWR steady: nothing more.
    plat_sleep_ms(60000);
    EXPECT_TRUE(TrxModelTransmitting(trx));
    EXPECT_EQ(searches(), 1) << lastAmpTexts();
    EXPECT_EQ(remounts(), stored);

    // The load changes under the tuner: an SWR above the threshold (2.0, or
    // what the search reached plus 0.5) and below the amplifier's trip at 3.
    const float threshold = std::max(kRetuneSwrFloor, w->tuner.bestSwr.load() + kRetuneSwrMargin);
    const int out = AmpModelAntenna(amp);
    bool found = false;
    for (double r = 20; r <= 300 && !found; r += 5)
        for (double x = -200; x <= 200 && !found; x += 10) {
            AmpModelSetAntenna(amp, out, AmpAntennaFixed(r, x));
            const float swr = AmpModelSwr(amp);
            found = swr > threshold + 0.2f && swr < 2.9f;
        }
    ASSERT_TRUE(found) << "no load between " << threshold << " and 2.9";
    const int64_t changed = plat_mono_ms();
    ASSERT_TRUE(WaitFor([&] { return searches() == 2; }, 20000)) << lastAmpTexts();
    EXPECT_GE(plat_mono_ms() - changed, kRetuneHoldMs);
    // It runs on the held transmission to its end and stores the new word.
    ASSERT_TRUE(WaitFor([&] { return w->tuneState == 0; }, 60000)) << lastAmpTexts();
    EXPECT_TRUE(WaitFor([&] { return remounts() == stored + 1; }, 5000));
    TrxModelSetPtt(trx, false, 0.0f);
}

// The tuner has one owner: while searches run, the keys step L and C as a
// held key repeats and the remote link switches banks, thousands of times, and
// nothing is lost or torn. Then, with no search, every step the keys ask for is
// carried out exactly, and the word the amplifier holds is the record's.
class TunerOwner : public TuneOnTransmit {
  protected:
    int timeScale() override { return 5; }
};

TEST_F(TunerOwner, KeysStepsAndRemoteBankChangesDuringSearchesLoseNothing) {
    setup->MAXbank.set("2");
    w->MAXbank = 2;
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna_b1.txt",
                          "!Tav\n20m 14000000 14350000 1 1 0 0 0.0\n"));
    w->pages.keyPage = kPageManualTune; // the keys' page, set before their thread runs
    std::atomic<bool> paced{false};
    std::atomic<int> steps{0}, banks{0}, movedL{0}, movedC{0};
    auto idle = [&] {
        return CmdQueueEmpty(w.get()) && w->tuner.tunerReqRead == w->tuner.tunerReqWrite;
    };
    // Room for one more step in the tuner's requests and the command ring.
    auto room = [&] {
        const int requests =
            (w->tuner.tunerReqWrite - w->tuner.tunerReqRead + kTunerRequests) % kTunerRequests;
        const int queued = (w->cmdQueueWrite - w->cmdQueueRead + kCmdQueueSize) % kCmdQueueSize;
        return requests < kTunerRequests / 2 && queued < kCmdQueueSize / 2;
    };
    // Keys 2..5 of the manual page, L then C in turn: faster than a held key
    // repeats (every 5 ms), or, `paced`, only while nothing would be dropped.
    auto keys = [&](std::stop_token stop, int lDir, int cDir) {
        for (unsigned n = 0; !stop.stop_requested();) {
            if (paced && !room()) {
                plat_sleep_ms(1);
                continue;
            }
            const bool inductor = (n++ & 1) == 0;
            const int dir = inductor ? lDir : cDir;
            DecodeTasto(w.get(), inductor ? (dir > 0 ? 3 : 2) : (dir > 0 ? 5 : 4), 0);
            (inductor ? movedL : movedC)++;
            steps++;
            if (!paced) plat_sleep_ms(5);
        }
    };
    // Bank changes from the remote link: every 10 ms, or every 500 ms `paced`
    // (each queues a handful of commands the link must find room for as well).
    auto remote = [&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            dispStat(w.get(), "KAVOBANK");
            banks++;
            plat_sleep_ms(paced ? 500 : 10);
        }
    };
    // Searches, one after the other, with keys and bank changes all through
    // (a thread left, ended by its destructor: asked to stop, then joined).
    std::jthread k(keys, +1, -1), r(remote);
    int searches = 0;
    // Only a guard against a hang: a loaded machine takes its time (each bank
    // change writes files), and the counts, not the time, are the point.
    const int64_t until = plat_mono_ms() + 600000;
    while ((steps < 2000 || banks < 200 || searches < 2) && plat_mono_ms() < until) {
        // The last search's return to receive is over before the next starts.
        ASSERT_TRUE(WaitFor([&] { return (w->tuneModeFlags.load() & 0x3E) == 0; }, 30000));
        TunerRequest(w.get(), TunerAsk::GoTune);
        ASSERT_TRUE(WaitFor([&] { return w->tuneState != 0; }, 30000));
        ASSERT_TRUE(WaitFor([&] { return w->tuneState == 0; }, 60000))
            << "search step " << w->tuner.tuneStep << ", " << lastAmpTexts();
        searches++;
    }
    // No more tune on transmit: the tail of the last carrier starts nothing.
    w->tuneModeFlags.change(static_cast<uint8_t>(~0x04u), 0); // as the menu turns it off
    k = std::jthread();                                       // stopped and joined
    r = std::jthread();
    // Started before tune on transmit went off: ended as the transceiver would.
    if (w->tuneState != 0) TunerRequest(w.get(), TunerAsk::AbortAuto);
    ASSERT_TRUE(WaitFor([&] { return w->tuneState == 0; }, 10000));
    EXPECT_GE(searches, 2);
    EXPECT_GE(steps, 2000) << steps << " steps, " << banks << " bank changes";
    EXPECT_GE(banks, 200) << steps << " steps, " << banks << " bank changes";
    ASSERT_TRUE(WaitFor(idle, 5000));
    TunerView v = TunerSnapshot(w.get());
    EXPECT_EQ(w->tuner.tuneL, v.l); // L and C are the word's own
    EXPECT_EQ(w->tuner.tuneC, v.c);
    EXPECT_LE(v.l, kTunerMaxLC);
    EXPECT_LE(v.c, kTunerMaxLC);

    // Both banks bypass the tuner from now on: a bank change keeps L and C,
    // and the link's bypass command changes the word while the keys step.
    for (const char* file : {"/opt/set/antenna.txt", "/opt/set/antenna_b1.txt"})
        ASSERT_TRUE(WriteFile(dir.path + file, "!Tav\n20m 14000000 14350000 1 1 1 0 0.0\n"));
    LoadAllBankTable(w.get(), w->NumBanco);
    ASSERT_TRUE(WaitFor([&] { return (AmpModelTunerWord(amp) & kModeBypass) != 0; }, 5000))
        << lastAmpTexts();
    ASSERT_TRUE(WaitFor(idle, 5000));
    v = TunerSnapshot(w.get());
    const int lDir = v.l < 256 ? +1 : -1, cDir = v.c < 256 ? +1 : -1;
    paced = true;
    movedL = movedC = 0;
    k = std::jthread(keys, lDir, cDir);
    r = std::jthread(remote);
    ASSERT_TRUE(WaitFor([&] { return movedL >= 200 && movedC >= 200; }, 60000))
        << movedL << " " << movedC << ", " << lastAmpTexts();
    k = std::jthread();
    r = std::jthread();
    ASSERT_TRUE(WaitFor(idle, 5000));
    const int wantL = static_cast<int>(v.l) + lDir * movedL,
              wantC = static_cast<int>(v.c) + cDir * movedC;
    const TunerView end = TunerSnapshot(w.get());
    EXPECT_EQ(static_cast<int>(end.l), wantL);
    EXPECT_EQ(static_cast<int>(end.c), wantC);
    EXPECT_EQ(w->tuner.tuneL, end.l);
    EXPECT_EQ(w->tuner.tuneC, end.c);
    // The last word sent is the record's.
    IncPNTIn_CMDLinear(kCmdTuneWord, w.get());
    EXPECT_TRUE(WaitFor([&] { return AmpModelTunerWord(amp) == w->tunerWord; }, 5000))
        << std::hex << AmpModelTunerWord(amp) << " " << w->tunerWord;
}
} // namespace
