// Any bytes as a tuner memory file (the first byte picks the bank and the
// antenna, so every file name is reached): the stored entries are written back
// by the program's own writer and load again to the same entries; recalling any
// of them gives a tune word of the defined bits only, with C and L of nine bits
// and a mode of 0..3.
#include "FuzzRoot.h"

#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"

namespace {

// Every C, L and mode bit of the tune word.
constexpr uint32_t kWordBits = 0x10D554u | 0x282AAAu | kModeMask;

std::vector<uint64_t> table(Works* w, int antenna) {
    const auto& packed = w->tuneMem[antenna].packed;
    return std::vector<uint64_t>(std::begin(packed), std::end(packed));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    if (size < 1) return 0;
    const int bank = data[0] % 20, antenna = (data[0] / 20) % 3;
    const std::string path = TuneMemFileName(bank, antenna);
    FuzzWriteFile(path.c_str(), data + 1, size - 1);
    FuzzQuietly([&] { LoadTabAtu(w, bank, antenna); });
    const std::vector<uint64_t> first = table(w, antenna);

    // Written back and loaded again: the stored entries, and nothing else.
    FuzzQuietly([&] {
        SaveTabAtu(w, bank, antenna);
        LoadTabAtu(w, bank, antenna);
    });
    const std::string written = FuzzReadFile(path.c_str());
    const std::vector<uint64_t> second = table(w, antenna);
    for (int i = 0; i < kTuneMemEntries; i++) {
        const uint64_t a = first[static_cast<size_t>(i)], b = second[static_cast<size_t>(i)];
        const bool valid = (a & 0xFF) != 0;
        FUZZ_CHECK(valid ? a == b : b == 0, "tuner memory %d/%d index %d: %llx read back as %llx",
                   bank, antenna, i, static_cast<unsigned long long>(a),
                   static_cast<unsigned long long>(b));
    }
    FuzzQuietly([&] { SaveTabAtu(w, bank, antenna); });
    FUZZ_CHECK(FuzzReadFile(path.c_str()) == written,
               "tuner memory %d/%d: a second save writes another file", bank, antenna);

    // Recalled at the frequency of each stored index and between them.
    w->tunerWord = 0x10000; // bypass, as after a start
    w->tuneState = 0;
    w->antennaIdx = antenna;
    int recalls = 0;
    for (int i = 0; i < kTuneMemEntries && recalls < 64; i++) {
        if ((second[static_cast<size_t>(i)] & 0xFF) == 0) continue;
        recalls++;
        for (int64_t d : {0, 1000, -3000}) {
            w->freqHz = static_cast<int>(AtuFreqfromIdx(i) + d);
            FuzzQuietly([&] {
                LoadTuneFromMEM(w, antenna);
                GestioneLoadTuneVal(w, 1);
            });
            FuzzDrainCommands(w);
            const uint32_t word = w->tunerWord;
            FUZZ_CHECK((word & ~kWordBits) == 0 && w->tuner.tuneC <= 511 && w->tuner.tuneL <= 511 &&
                           w->tuner.tuneMode <= 3,
                       "tuner memory %d/%d index %d: word %08X, C %u L %u mode %u", bank, antenna,
                       i, word, w->tuner.tuneC.load(), w->tuner.tuneL.load(),
                       w->tuner.tuneMode.load());
        }
    }
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        // A bank as the program writes it after a few tunes, with every mode.
        "\x15"
        "900 1800000 1 1 12 300\n3117 14070000 1 2 511 0\n3118 14080000 1 3 0 511\n"
        "2100 7000000 1 1 100 200\n4648 53950000 1 0 7 9\n",
        // Comments, CR LF, indices out of range, an entry not marked valid, values
        // beyond their bits.
        "\x2A; antenna 3 of bank 2\r\n3110 14000000 1 1 5 6\r\n-1 0 1 1 1 1\r\n5000 0 1 1 1 1\r\n"
        "3111 14010000 0 2 3 4\r\n3112 14020000 257 9 70000 600\r\n",
        std::string(1, '\0') + "99999999999 0 1 1 1 1\n1 2000\n2\n",
    });
}
