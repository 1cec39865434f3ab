// Any bytes as one of the tables of /opt/set, the first byte picking which:
// - config.txt: every row loads with thresholds that are finite and not
//   negative, and at any frequency the thresholds that go out are four counts
//   of 0..4095;
// - filter.txt: at any frequency the filter chosen is the first enabled row
//   that holds it (or none), and its mask has at most one bit;
// - ventola.txt: every row loads with a finite temperature and a level of
//   0..999, and over any temperatures the level wanted is 0..999;
// - an antenna bank (the next byte picks the bank, so both file names are
//   reached): the table loads with its settings in their ranges, is written
//   back by the program's own writer and loads again to the same rows and work
//   mode; applying any row selects an existing antenna output and attenuator
//   step;
// - a tuner memory file (the next byte picks the bank and the antenna, so every
//   file name is reached): the stored entries are written back by the program's
//   own writer and load again to the same entries; recalling any of them gives
//   a tune word of the defined bits only, with C and L of nine bits and a mode
//   of 0..3.
#include "FuzzRoot.h"

#include "amp/Temperature.h"
#include "devsim/Station.h"
#include "tuner/Bands.h"
#include "tuner/Banks.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"

#include <cmath>
#include <tuple>

namespace {

void loadConfig(Works* w) {
    std::free(w->bandTable);
    w->bandTable = nullptr;
    FuzzQuietly([w] { ReadConfigFile(w); });
}

void config(Works* w, const uint8_t* data, size_t size) {
    FuzzWriteFile("/opt/set/config.txt", data, size);
    loadConfig(w);
    const int count = w->bandCount;
    FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= size + 1,
               "config.txt: %d rows from %zu bytes", count, size);
    std::vector<ThresholdRow> first(w->bandTable, w->bandTable + count);
    for (int i = 0; i < count; i++) {
        const ThresholdRow& r = first[static_cast<size_t>(i)];
        for (float v : {r.pwinMax, r.currentMax, r.reflMax, r.fwdMax})
            FUZZ_CHECK(std::isfinite(v) && v >= 0.0f, "config.txt row %d: threshold %g kept", i + 1,
                       static_cast<double>(v));
        FUZZ_CHECK(std::isfinite(r.kDirectivity), "config.txt row %d: directivity %g kept", i + 1,
                   static_cast<double>(r.kDirectivity));
    }
    // The same file loads the same rows.
    loadConfig(w);
    FUZZ_CHECK(w->bandCount == count &&
                   (count == 0 ||
                    std::memcmp(first.data(), w->bandTable, sizeof(ThresholdRow) * count) == 0),
               "config.txt: a second load differs");

    // Every row's start and its neighbours, nothing, and a frequency of each band.
    std::vector<long long> freqs = {0, 1, 1800000, 3500000, 7074000, 14074000, 28500000, 50100000};
    for (int i = 0; i < count && i < 64; i++)
        for (long long d : {-1LL, 0LL, 1LL})
            freqs.push_back(static_cast<long long>(first[static_cast<size_t>(i)].freqStart) + d);
    for (long long f : freqs) {
        w->freqHz = static_cast<int>(static_cast<uint32_t>(f));
        w->thresholdRowIdx = -1;
        FuzzQuietly([w] {
            SearchCambioSoglie_TS(w);
            for (int k = 0; k < 4; k++)
                SearchK(w, k);
        });
        FuzzDrainCommands(w);
        for (int k = 0; k < 4; k++)
            FUZZ_CHECK(w->tsThresholds[k] >= 0 && w->tsThresholds[k] <= 4095,
                       "config.txt: threshold %d is %d at %lld Hz", k, w->tsThresholds[k].load(),
                       f);
    }
}

void filter(Works* w, const uint8_t* data, size_t size) {
    FuzzWriteFile("/opt/set/filter.txt", data, size);
    FuzzQuietly([w] { LoadTabFiltri(w); });
    std::vector<long long> freqs = {0, 1800000, 3573000, 7074000, 14074000, 21074000, 50313000};
    for (const FilterRange& r : w->filterTable)
        for (long long base : {static_cast<long long>(r.low), static_cast<long long>(r.high)})
            for (long long d : {-1LL, 0LL, 1LL})
                freqs.push_back(base + d);
    for (long long f : freqs) {
        w->freqHz = static_cast<int>(static_cast<uint32_t>(f));
        const int64_t hz = w->freqHz;
        int expected = -1;
        for (int i = 0; i < kFilterRows && expected < 0; i++) {
            const FilterRange& r = w->filterTable[i];
            if (r.enabled == 1 && r.low <= hz && hz <= r.high) expected = i;
        }
        FuzzQuietly([w] { SetFilterFromfreq(w); });
        FuzzDrainCommands(w);
        const uint8_t mask = w->relayDrive;
        FUZZ_CHECK(mask == (expected < 0 ? 0 : 1u << expected),
                   "filter.txt: mask %02x at %lld Hz, row %d holds it", mask, f, expected);
    }
}

void ventola(Works* w, const uint8_t* data, size_t size) {
    FuzzWriteFile("/opt/set/ventola.txt", data, size);
    std::free(w->fanTable);
    w->fanTable = nullptr;
    w->fanCount = 0;
    FuzzQuietly([w] { ReadVentolaFile(w); });
    const int count = w->fanCount;
    FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= size + 1,
               "ventola.txt: %d rows from %zu bytes", count, size);
    std::vector<float> temps = {-10.0f, 0.0f, 25.0f, 45.0f, 60.0f, 80.0f};
    for (int i = 0; i < count; i++) {
        const FanRow& r = w->fanTable[i];
        FUZZ_CHECK(std::isfinite(r.temp), "ventola.txt row %d: temperature %g kept", i + 1,
                   static_cast<double>(r.temp));
        FUZZ_CHECK(r.level >= 0 && r.level <= 999, "ventola.txt row %d: level %d kept", i + 1,
                   r.level);
        if (i < 64)
            for (float d : {-0.5f, 0.0f, 0.5f})
                temps.push_back(r.temp + d);
    }
    // Up and down through the temperatures, as a heat sink warms and cools.
    w->fanLevel = 0;
    w->settings.hysteresis2 = size > 0 ? data[0] % 10 : 1;
    for (int pass = 0; pass < 2; pass++) {
        for (size_t k = 0; k < temps.size(); k++) {
            const float t = temps[pass == 0 ? k : temps.size() - 1 - k];
            PublishAmpReadings(w, {.temp1 = t, .temp2 = t - 1.0f});
            FuzzQuietly([w] { searchPercentVentola(w); });
            FuzzDrainCommands(w);
            const int wanted = w->fanWanted;
            FUZZ_CHECK(count == 0 || (wanted >= 0 && wanted <= 999),
                       "ventola.txt: level %d wanted at %g", wanted, static_cast<double>(t));
        }
    }
}

struct Row {
    std::string name;
    uint32_t low, high;
    int amp, antenna, bypass, att;
    float pwr;
    // The writer keeps one decimal of pwr.
    bool operator==(const Row& o) const {
        return std::tie(name, low, high, amp, antenna, bypass, att) ==
                   std::tie(o.name, o.low, o.high, o.amp, o.antenna, o.bypass, o.att) &&
               std::fabs(pwr - o.pwr) <= 0.0500001f + std::fabs(pwr) * 1e-6f;
    }
};

std::vector<Row> rows(Works* w) {
    std::vector<Row> out;
    for (int i = 0; i < w->antennaRowCount && i < kAntennaRows; i++) {
        const AntennaRow& r = w->antennaTable[i];
        out.push_back({r.name.get().s, r.freqLow, r.freqHigh, r.ampEnable, r.antenna, r.atuBypass,
                       r.attStep, r.pwr});
    }
    return out;
}

int loadBank(Works* w, int bank) {
    return FuzzQuietly([&] { return LoadTabConfig(w, bank); });
}

void saveBank(Works* w, int bank, int mode) {
    w->ModeWorkIdx = mode;
    FuzzQuietly([&] { SaveTabConfig(w, bank); });
}

void antennaBank(Works* w, const uint8_t* data, size_t size) {
    FuzzHoldSettingsWritable();
    if (size < 1) return;
    const int bank = data[0] % kBankCount;
    const std::string path = BankFileName(bank);
    FuzzWriteFile(path.c_str(), data + 1, size - 1);

    const int mode = loadBank(w, bank);
    FUZZ_CHECK(mode >= 0 && mode < kModeWorkCount, "bank %d: work mode %d", bank, mode);
    const std::vector<Row> first = rows(w);
    FUZZ_CHECK(w->antennaRowCount >= 0 && w->antennaRowCount <= kAntennaRows, "bank %d: %d rows",
               bank, w->antennaRowCount.load());
    for (size_t i = 0; i < first.size(); i++) {
        const Row& r = first[i];
        FUZZ_CHECK(r.name.size() <= 7 && r.name.find_first_of(" \t") == std::string::npos,
                   "bank %d row %zu: name \"%s\"", bank, i + 1, r.name.c_str());
        FUZZ_CHECK(r.amp <= 1 && r.antenna <= 3 && r.bypass <= 1 && r.att <= 3,
                   "bank %d row %zu: settings %d %d %d %d", bank, i + 1, r.amp, r.antenna, r.bypass,
                   r.att);
        FUZZ_CHECK(std::isfinite(r.pwr), "bank %d row %zu: pwr %g", bank, i + 1,
                   static_cast<double>(r.pwr));
    }

    // Written back and loaded again: the same rows and mode.
    saveBank(w, bank, mode);
    const std::string written = FuzzReadFile(path.c_str());
    const int again = loadBank(w, bank);
    const std::vector<Row> second = rows(w);
    FUZZ_CHECK(again == mode, "bank %d: mode %d written, %d read back", bank, mode, again);
    FUZZ_CHECK(second == first, "bank %d: %zu rows written, %zu read back otherwise", bank,
               first.size(), second.size());
    // A second round writes the very same file.
    saveBank(w, bank, again);
    FUZZ_CHECK(FuzzReadFile(path.c_str()) == written, "bank %d: a second save writes another file",
               bank);

    // Applying the row of each band.
    w->antennaIdx = 0;
    w->attenuator = 0;
    w->tuneState = 0;
    for (size_t i = 0; i < second.size(); i++) {
        for (uint32_t f : {second[i].low, second[i].high}) {
            w->freqHz = static_cast<int>(f);
            FuzzQuietly([w] { GestioneAntennaAutomatica(w); });
            FuzzDrainCommands(w);
            FUZZ_CHECK(w->antennaIdx >= 0 && w->antennaIdx <= 2 && w->attenuator <= 3,
                       "bank %d: antenna index %d, attenuator %d at %u Hz", bank,
                       w->antennaIdx.load(), w->attenuator.load(), f);
        }
    }
}

// Every C, L and mode bit of the tune word.
constexpr uint32_t kWordBits = 0x10D554u | 0x282AAAu | kModeMask;

std::vector<uint64_t> tuneTable(Works* w, int antenna) {
    const auto& packed = w->tuneMem[antenna].packed;
    return std::vector<uint64_t>(std::begin(packed), std::end(packed));
}

void tuneMemory(Works* w, const uint8_t* data, size_t size) {
    FuzzHoldSettingsWritable();
    if (size < 1) return;
    const int bank = data[0] % 20, antenna = (data[0] / 20) % 3;
    const std::string path = TuneMemFileName(bank, antenna);
    FuzzWriteFile(path.c_str(), data + 1, size - 1);
    FuzzQuietly([&] { LoadTabAtu(w, bank, antenna); });
    const std::vector<uint64_t> first = tuneTable(w, antenna);

    // Written back and loaded again: the stored entries, and nothing else.
    FuzzQuietly([&] {
        SaveTabAtu(w, bank, antenna);
        LoadTabAtu(w, bank, antenna);
    });
    const std::string written = FuzzReadFile(path.c_str());
    const std::vector<uint64_t> second = tuneTable(w, antenna);
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
}

void (*const kTables[])(Works*, const uint8_t*, size_t) = {config, filter, ventola, antennaBank,
                                                           tuneMemory};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    if (size < 1) return 0;
    kTables[data[0] % std::size(kTables)](w, data + 1, size - 1);
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    std::vector<std::vector<uint8_t>> seeds = {
        // config.txt: a table with hexadecimal and octal starts and a missing
        // tail, and the hand edits that were once converted unchecked. (The
        // simulator's station table, twelve rows of the same form, reaches
        // nothing more.)
        FuzzBytes(0, "1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 1 2 3 4 5 "
                     "6 7 8 9 10 1\r\n"
                     "0x33E140 05177777 60 3411.1 60 4247.1 10 1347.4 -0.007 5000 14.05 20 80\r\n"
                     "5300000 7399999 0 0 60 4247.1 10 1347.4\n\n;comment\n7400000\n"),
        FuzzBytes(0, "1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 -3e7 20 80 0 0 0 0 "
                     "0 0 0 0 0 0 1\n"
                     "3400000 5299999 nan 3411.1 60 inf 10 1347.4 -0.007 1e10 -3 1e39 80 "
                     "99999999999 0 0 0 0 0 0 0 0 0 1\n"
                     "-30000000 0x1FFFFFFFF 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 0 0 "
                     "0 0 0 0 0 0 0 0 1\n"),
        // filter.txt: the unit test's table (the simulator's station's, seven
        // enabled rows of the same form, reaches nothing more); nine rows, CR LF
        // ends, octal; numbers no field can hold.
        FuzzBytes(1, "; low high enabled\n1700000 2100000 1\n0x33E140 4100000 1\n3500000 3600000 "
                     "1\n7000000 7300000 2\n7000000 7400000 1\n"),
        FuzzBytes(1, "1 2 1\r\n3 4 1\r\n5 6 1\r\n7 8 1\r\n9 10 1\r\n011 013 1\r\n13 14 1\r\n15 16 "
                     "1\r\n17 18 1\r\n"),
        FuzzBytes(1, "-1700000 2100000 1\n3400000 99999999999 1\n5300000 7400000 "
                     "99999999999999999999\n7000000 7300000 257\n"),
        // ventola.txt: the unit test's table (the simulator's station's is of the
        // same form); blank rows, fractions; the hand edits once converted
        // unchecked.
        FuzzBytes(2, "; temperature level\r\n30 0\r\n45.0\t50\r\n60 100.7\r\n"),
        FuzzBytes(2, "\n25.5 10\n\n35 20.9\n0x20 99\n"),
        FuzzBytes(2, "30 1e10\n40 nan\n45 -5\nnan 20\ninf 30\n50 1000\n55 999.9\n60 -3e7\n"),
    };
    // An antenna bank: the simulator's bank 1, and the defaults the program
    // writes for a missing file.
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    const std::string station = BankFileName(1), missing = BankFileName(0);
    for (const std::string& p : {station, missing})
        std::remove((FuzzRootDir() + p).c_str());
    SimStationWriteBank(FuzzRootDir(), kModeGeneric);
    loadBank(w, 0);
    saveBank(w, 0, kModeTav);
    // From the unit tests: twelve rows with hexadecimal ends, CR LF, names of
    // eight and nine characters, a marker-only file, names that begin with a
    // comment or a marker, and settings out of their ranges.
    std::string twelve = "\x02; bank for the contest station\r\n!Tav\r\n";
    for (int i = 0; i < 12; i++)
        twelve += "b" + std::to_string(i) + " " + std::to_string(1000000 * (i + 1)) +
                  " 0xF4240 1 2 0 3 12.5\n";
    const std::string banks[] = {
        "\x01" + FuzzReadFile(station.c_str()),
        std::string(1, '\0') + FuzzReadFile(missing.c_str()),
        twelve,
        std::string(1, '\0') +
            "160meters 1800000 2000000 1 1 0 0 0.0\n80meters 3500000 4000000 1 2 0 1 0.0\n",
        "\x05; nothing but the interface\n!817\n",
        "\x06!Ham\n40m 7000000 7300000 1 2 0 1 0.0\n!Hamlib\n20m 14000000 14350000 1 3 1 2 0.0\n",
        "\x03!Tav\n  ;40m 7000000 7300000 1 2 0 1 5.5\n\t!817 14000000 14350000 1 3 1 2 0.0\n"
        "20m 14350001 14400000 0 1 1 0 0.0\n",
        std::string(1, '\0') +
            "40m 7000000 7300000 2 200 1 9 nan\n20m 14000000 14350000 1 -1 7 3 1e39\n"
            "15m -21000000 21450000 1 1 0 0 0.05\n"};
    for (const std::string& b : banks)
        seeds.push_back(FuzzBytes(3, b));
    // A tuner memory file: a bank as the program writes it after a few tunes,
    // with every mode; comments, CR LF, indices out of range, an entry not
    // marked valid, values beyond their bits.
    for (const std::string& t :
         {std::string("\x15"
                      "900 1800000 1 1 12 300\n3117 14070000 1 2 511 0\n3118 14080000 1 3 0 511\n"
                      "2100 7000000 1 1 100 200\n4648 53950000 1 0 7 9\n"),
          std::string(
              "\x2A; antenna 3 of bank 2\r\n3110 14000000 1 1 5 6\r\n-1 0 1 1 1 1\r\n"
              "5000 0 1 1 1 1\r\n3111 14010000 0 2 3 4\r\n3112 14020000 257 9 70000 600\r\n"),
          std::string(1, '\0') + "99999999999 0 1 1 1 1\n1 2000\n2\n"})
        seeds.push_back(FuzzBytes(4, t));
    return seeds;
}
