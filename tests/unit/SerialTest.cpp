// The transceiver link's decoding: frame lengths, the parameter record and its
// level convention, and where the shown spectrum trace starts.
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/TrxModel.h"
#include "trx/Serial.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

class SerialDecode : public ::testing::Test {
  protected:
    void SetUp() override {
        w = std::make_unique<Works>();
        setup = std::make_unique<SetupRecord>();
        w->setup = setup.get();
        w->serMut = &serMut;
        w->trxParams = &params;
        InitGlobalVar(w.get());
        initSetup(w.get());
        setup->serialLinkEnabled = '1';
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        w->serFD = fds[0];
        // The record is zeroed once per process; each test starts from zero.
        store(std::vector<uint8_t>(9, '0'));
        params = TrxParameters{};
    }
    void TearDown() override {
        close(fds[0]);
        close(fds[1]);
    }
    void feed(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int length(const std::vector<uint8_t>& header) {
        feed(header);
        uint8_t sub = 0;
        int n = -1;
        EXPECT_EQ(decodeCmdParameters(w.get(), &sub, &n), 0);
        EXPECT_EQ(sub, header[0]);
        return n;
    }
    void store(const std::vector<uint8_t>& payload) {
        storeParameters(w.get(), static_cast<int>(payload.size()), payload.data());
    }
    static std::vector<uint8_t> payload(long long hz = 14074000, int mode = 2, bool tx = false,
                                        int pitch = 600, int offset = 0) {
        return TrxParameterPayload(hz, mode, tx, false, pitch, offset);
    }

    std::unique_ptr<Works> w;
    std::unique_ptr<SetupRecord> setup;
    std::mutex serMut;
    TrxParameters params{};
    int fds[2] = {-1, -1};
};

TEST_F(SerialDecode, LengthDigitsLeastSignificantFirst) {
    EXPECT_EQ(length({'1', 0x30, 0x34, 0x30, 0x30}), 0x40);
    EXPECT_EQ(length({'0', 0x3A, 0x3A, 0x34, 0x30}), 0x4AA); // 0x3A reads as A
    EXPECT_EQ(length({'1', 0x3F, 0x31, 0x30, 0x30}), 0x1F);

    // 0xFFFF is reported and cut to the buffer.
    testing::internal::CaptureStderr();
    EXPECT_EQ(length({'0', 0x3F, 0x3F, 0x3F, 0x3F}), 1999);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "----------> 3SERIAL : ERROR dataLength 65535   \?\?\?\?!!!!!!"),
              std::string::npos);

    // Digits that are not hexadecimal keep the last length; a sign or a space
    // never reads as a number.
    EXPECT_EQ(length({'1', 0x30, 0x34, 0x30, 0x30}), 64);
    EXPECT_EQ(length({'1', 0x30, 0x30, 0x30, '-'}), 64);
    EXPECT_EQ(length({'1', 0x31, 0x30, 0x30, ' '}), 64);
    EXPECT_EQ(length({'1', 0x78, 0x30, 0x30, 0x30}), 64);
}

TEST_F(SerialDecode, ReadEndsWhenTheLinkIsSwitchedOff) {
    feed({'1', 0x30});
    setup->serialLinkEnabled = '0';
    uint8_t sub;
    int n;
    EXPECT_EQ(decodeCmdParameters(w.get(), &sub, &n), -1);
}

TEST_F(SerialDecode, WholeParameterBlock) {
    store(payload(14074000, 2, false, 600, -100));
    EXPECT_EQ(params.rxFreq, 14074000);
    EXPECT_EQ(params.freqA, 14074000);
    EXPECT_EQ(params.activeFreq, 14074000);
    EXPECT_EQ(params.activeMode, 2);
    EXPECT_EQ(params.modeA, 2);
    EXPECT_EQ(params.flag9b6, 0);
    EXPECT_EQ(params.volumeSel, 0);
    EXPECT_EQ(params.sign10b3, 1);
    EXPECT_EQ(params.sign10b0, -1);
    EXPECT_EQ(params.squelch, 3);
    EXPECT_EQ(params.selHigh, 0);
    EXPECT_EQ(params.level12lo, 1);
    EXPECT_EQ(params.level12hi, 2);
    EXPECT_EQ(params.level13, 2);
    EXPECT_EQ(params.combinedSel, 3);
    EXPECT_EQ(params.nr, 1);
    EXPECT_EQ(params.nb, -1); // off and never set: its start value
    EXPECT_EQ(params.sel16, 3);
    EXPECT_EQ(params.sel17, 4);
    EXPECT_EQ(params.sel18, 2);
    EXPECT_EQ(params.sel19hi, 2);
    EXPECT_EQ(params.sel19lo, 2);
    EXPECT_EQ(params.att, -1);
    EXPECT_EQ(params.flag20b0, -1);
    EXPECT_EQ(params.level21, 5);
    EXPECT_EQ(params.volume, 40);
    EXPECT_EQ(params.pitchHz, 600);
    EXPECT_EQ(params.offsetHz, -100); // 20-bit two's complement
    EXPECT_EQ(params.unused21, 0);

    // Transmitting with store B active: B's frequency and mode become active.
    std::vector<uint8_t> b = payload(7100000, 3, true);
    b[0] = 0x30; // B active, this frequency is B's
    store(b);
    EXPECT_EQ(params.freqB, 7100000);
    EXPECT_EQ(params.freqA, 14074000);
    EXPECT_EQ(params.activeFreq, 7100000);
    EXPECT_EQ(params.prevFreq, 14074000);
    EXPECT_EQ(params.lastFreq, 7100000);
    EXPECT_EQ(params.modeB, 3);
    EXPECT_EQ(params.activeMode, 3);
    EXPECT_EQ(params.flag9b6, 1);

    // A memory channel.
    std::vector<uint8_t> m = payload(3573000);
    m[0] = 0x01;
    store(m);
    EXPECT_EQ(params.freqMem, 3573000);
    EXPECT_EQ(params.activeFreq, 3573000);
    EXPECT_EQ(params.freqB, 7100000);

    TrxParameters copy;
    getParameters(&copy, w.get());
    EXPECT_EQ(std::memcmp(&copy, &params, sizeof copy), 0);
}

TEST_F(SerialDecode, NineBytesUpdateOnlyTheFrequency) {
    store(payload(14074000, 2));
    const TrxParameters before = params;
    std::vector<uint8_t> nine = payload(21074000, 5);
    nine.resize(9);
    store(nine);
    EXPECT_EQ(params.activeFreq, 21074000);
    EXPECT_EQ(params.prevFreq, 14074000);
    EXPECT_EQ(params.activeMode, before.activeMode);
    EXPECT_EQ(params.squelch, before.squelch);
    EXPECT_EQ(params.pitchHz, before.pitchHz);
    EXPECT_EQ(params.volume, before.volume);
}

TEST_F(SerialDecode, GroupsWithoutTheirMarkersKeepTheirFields) {
    store(payload());
    std::vector<uint8_t> b = payload(14074000, 7);
    b[9] &= 0x7F;  // mode group not marked
    b[11] = 0x89;  // squelch marker wrong
    b[14] = 0x25;  // NR marker wrong
    store(b);
    EXPECT_EQ(params.activeMode, 2);
    EXPECT_EQ(params.squelch, 3);
    EXPECT_EQ(params.nr, 1);
}

TEST_F(SerialDecode, LevelFieldsRememberTheirLevelWhenOff) {
    std::vector<uint8_t> b = payload();
    b[11] = 0x40; // squelch off, never set before
    store(b);
    EXPECT_EQ(params.squelch, -1);
    b[11] = 0x45;
    store(b);
    EXPECT_EQ(params.squelch, 5);
    b[11] = 0x40;
    store(b);
    EXPECT_EQ(params.squelch, -5);
    store(b);
    EXPECT_EQ(params.squelch, -5);

    // The volume byte goes to the volume b[10] selects in the same frame.
    b[10] = 0x60; // side
    b[22] = 0;
    store(b);
    EXPECT_EQ(params.volumeSide, 5);
    EXPECT_EQ(params.volume, 40); // the main volume is untouched
    b[10] = 0x50; // aux
    b[22] = 77;
    store(b);
    EXPECT_EQ(params.volumeAux, 77);
}

TEST_F(SerialDecode, TraceStartFollowsModeAndOffsets) {
    EXPECT_EQ(SpectrumStart(4, 600, 0), 81); // 85 - 3.2
    EXPECT_EQ(SpectrumStart(6, 600, 0), 88);
    EXPECT_EQ(SpectrumStart(2, 600, 0), 85);
    EXPECT_EQ(SpectrumStart(2, 0, -100), 84); // 85 - 0.53
    EXPECT_EQ(SpectrumStart(2, 0, -20000), 1002); // wraps: -21.66 + 1024
    EXPECT_EQ(SpectrumStart(2, 0, 200000), 0);   // past the trace: as it came
    for (int off : {-524288, -300000, -192000, 524287})
        for (int mode : {0, 4, 6}) {
            const int s = SpectrumStart(mode, 999, off);
            EXPECT_GE(s, 0) << off;
            EXPECT_LT(s, 1024) << off;
        }

    uint8_t in[1024], out[1024];
    for (int i = 0; i < 1024; i++)
        in[i] = static_cast<uint8_t>(i * 7);
    BuildTrace(in, 81, out);
    EXPECT_EQ(out[0], in[81]);
    EXPECT_EQ(out[1023 - 81], in[1023]);
    EXPECT_EQ(out[1024 - 81], in[0]);
    EXPECT_EQ(out[1023], in[80]);
}

TEST_F(SerialDecode, ShortTraceLeavesTheRestOfThePlotAtTheFloor) {
    for (float& v : w->grid.trace)
        v = -99.0f;
    std::vector<uint8_t> t(500);
    for (size_t i = 0; i < t.size(); i++)
        t[i] = static_cast<uint8_t>(i & 0xFF);
    storeFFT(w.get(), 500, t.data());
    EXPECT_FLOAT_EQ(w->grid.trace[0], 85.0f - 192.0f);
    EXPECT_FLOAT_EQ(w->grid.trace[414], static_cast<float>(499 & 0xFF) - 192.0f);
    EXPECT_FLOAT_EQ(w->grid.trace[415], -192.0f);
    EXPECT_FLOAT_EQ(w->grid.trace[853], -192.0f);
    std::vector<uint8_t> full(1024, 192);
    storeFFT(w.get(), 1024, full.data());
    EXPECT_FLOAT_EQ(w->grid.trace[853], 0.0f);
}

} // namespace
