// The transceiver link's decoding: frame lengths, the parameter record and its
// level convention, and where the shown spectrum trace starts.
#include "RootedWorks.h"

#include "devsim/TrxModel.h"

#include <utility>

namespace {

class SerialDecode : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
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
        RootedWorks::TearDown();
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

    int fds[2] = {-1, -1};
};

TEST_F(SerialDecode, LengthDigitsLeastSignificantFirst) {
    EXPECT_EQ(length({'1', 0x30, 0x34, 0x30, 0x30}), 0x40);
    // Digits that are not hexadecimal keep the last length; a sign or a space
    // never reads as a number.
    EXPECT_EQ(length({'1', 0x30, 0x30, 0x30, '-'}), 0x40);
    EXPECT_EQ(length({'1', 0x31, 0x30, 0x30, ' '}), 0x40);
    EXPECT_EQ(length({'1', 0x78, 0x30, 0x30, 0x30}), 0x40);
    EXPECT_EQ(length({'0', 0x3A, 0x3A, 0x34, 0x30}), 0x4AA); // 0x3A reads as A
    EXPECT_EQ(length({'1', 0x3F, 0x31, 0x30, 0x30}), 0x1F);

    // 0xFFFF is reported and cut to the buffer.
    testing::internal::CaptureStderr();
    EXPECT_EQ(length({'0', 0x3F, 0x3F, 0x3F, 0x3F}), 1999);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "----------> 3SERIAL : ERROR dataLength 65535   \?\?\?\?!!!!!!"),
              std::string::npos);
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
    // Frequencies rx, A, active; modes active, A; the volume's selector and
    // flags; squelch, levels, selectors; NR, NB (off and never set: its start
    // value), the attenuator; volume, pitch and the 20-bit two's complement offset.
    EXPECT_EQ(
        (std::vector<int>{params.rxFreq,    params.freqA,   params.activeFreq,  params.activeMode,
                          params.modeA,     params.flag9b6, params.volumeSel,   params.sign10b3,
                          params.sign10b0,  params.squelch, params.selHigh,     params.level12lo,
                          params.level12hi, params.level13, params.combinedSel, params.nr,
                          params.nb,        params.sel16,   params.sel17,       params.sel18,
                          params.sel19hi,   params.sel19lo, params.att,         params.flag20b0,
                          params.level21,   params.volume,  params.pitchHz,     params.offsetHz,
                          params.unused21}),
        (std::vector<int>{14074000, 14074000, 14074000, 2, 2, 0, 0, 1,  -1, 3, 0,  1,   2,    2, 3,
                          1,        -1,       3,        4, 2, 2, 2, -1, -1, 5, 40, 600, -100, 0}));

    // Transmitting with store B active: B's frequency and mode become active.
    std::vector<uint8_t> b = payload(7100000, 3, true);
    b[0] = 0x30; // B active, this frequency is B's
    store(b);
    EXPECT_EQ((std::vector<int>{params.freqB, params.freqA, params.activeFreq, params.prevFreq,
                                params.lastFreq, params.modeB, params.activeMode, params.flag9b6}),
              (std::vector<int>{7100000, 14074000, 7100000, 14074000, 7100000, 3, 3, 1}));

    // A memory channel.
    std::vector<uint8_t> m = payload(3573000);
    m[0] = 0x01;
    store(m);
    EXPECT_EQ((std::vector<int>{params.freqMem, params.activeFreq, params.freqB}),
              (std::vector<int>{3573000, 3573000, 7100000}));
    // (The record read by its users through getParameters:
    // Transceiver.ParametersFollowTheRadioThroughASilentAndABadLine.)
}

TEST_F(SerialDecode, NineBytesOrGroupsWithoutTheirMarkersKeepTheOtherFields) {
    store(payload(14074000, 2));
    const TrxParameters before = params;
    std::vector<uint8_t> nine = payload(21074000, 5);
    nine.resize(9);
    store(nine);
    EXPECT_EQ((std::vector<int>{params.activeFreq, params.prevFreq, params.activeMode,
                                params.squelch, params.pitchHz, params.volume}),
              (std::vector<int>{21074000, 14074000, before.activeMode, before.squelch,
                                before.pitchHz, before.volume}));

    std::vector<uint8_t> b = payload(14074000, 7);
    b[9] &= 0x7F; // mode group not marked
    b[11] = 0x89; // squelch marker wrong
    b[14] = 0x25; // NR marker wrong
    store(b);
    EXPECT_EQ((std::vector<int>{params.activeMode, params.squelch, params.nr}),
              (std::vector<int>{2, 3, 1}));
}

TEST_F(SerialDecode, LevelFieldsRememberTheirLevelWhenOff) {
    std::vector<uint8_t> b = payload();
    // The squelch byte and the level then: off and never set before, on at 5,
    // off (its level kept as -5), off again.
    for (auto [byte, level] : {std::pair{0x40, -1}, {0x45, 5}, {0x40, -5}, {0x40, -5}}) {
        b[11] = static_cast<uint8_t>(byte);
        store(b);
        EXPECT_EQ(params.squelch, level) << byte << " " << level;
    }

    // The volume byte goes to the volume b[10] selects in the same frame.
    b[10] = 0x60; // side
    b[22] = 0;
    store(b);
    EXPECT_EQ(params.volumeSide, 5);
    EXPECT_EQ(params.volume, 40); // the main volume is untouched
    b[10] = 0x50;                 // aux
    b[22] = 77;
    store(b);
    EXPECT_EQ(params.volumeAux, 77);
}

TEST_F(SerialDecode, TraceStartFollowsModeAndOffsets) {
    EXPECT_EQ(SpectrumStart(4, 600, 0), 81); // 85 - 3.2
    EXPECT_EQ(SpectrumStart(6, 600, 0), 88);
    EXPECT_EQ(SpectrumStart(2, 600, 0), 85);
    EXPECT_EQ(SpectrumStart(2, 0, -100), 84);     // 85 - 0.53
    EXPECT_EQ(SpectrumStart(2, 0, -20000), 1002); // wraps: -21.66 + 1024
    EXPECT_EQ(SpectrumStart(2, 0, 200000), 0);    // past the trace: as it came
    // (Within the trace at any offset: the serial_frame_fuzz target.)

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
