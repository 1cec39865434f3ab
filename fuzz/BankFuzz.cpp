// Any bytes as an antenna bank table (the first byte picks the bank, so both
// file names are reached): the table loads with its settings in their ranges,
// is written back by the program's own writer and loads again to the same rows
// and work mode; applying any row selects an existing antenna output and
// attenuator step.
#include "FuzzRoot.h"

#include "devsim/Station.h"
#include "tuner/Banks.h"
#include "tuner/TuneMem.h"

#include <cmath>
#include <tuple>

namespace {

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

int load(Works* w, int bank) {
    return FuzzQuietly([&] { return LoadTabConfig(w, bank); });
}

void save(Works* w, int bank, int mode) {
    w->ModeWorkIdx = mode;
    FuzzQuietly([&] { SaveTabConfig(w, bank); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    if (size < 1) return 0;
    const int bank = data[0] % kBankCount;
    const std::string path = BankFileName(bank);
    FuzzWriteFile(path.c_str(), data + 1, size - 1);

    const int mode = load(w, bank);
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
    save(w, bank, mode);
    const std::string written = FuzzReadFile(path.c_str());
    const int again = load(w, bank);
    const std::vector<Row> second = rows(w);
    FUZZ_CHECK(again == mode, "bank %d: mode %d written, %d read back", bank, mode, again);
    FUZZ_CHECK(second == first, "bank %d: %zu rows written, %zu read back otherwise", bank,
               first.size(), second.size());
    // A second round writes the very same file.
    save(w, bank, again);
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
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    // The simulator's bank 1, and the defaults the program writes for a missing file.
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    const std::string station = BankFileName(1), missing = BankFileName(0);
    for (const std::string& p : {station, missing})
        std::remove((FuzzRootDir() + p).c_str());
    SimStationWriteBank(FuzzRootDir(), kModeGeneric);
    load(w, 0);
    save(w, 0, kModeTav);
    std::vector<std::string> texts = {"\x01" + FuzzReadFile(station.c_str()),
                                      std::string(1, '\0') + FuzzReadFile(missing.c_str())};
    // From the unit tests: twelve rows with hexadecimal ends, CR LF, names of
    // eight and nine characters, a marker-only file, names that begin with a
    // comment or a marker, and settings out of their ranges.
    std::string twelve = "\x02; bank for the contest station\r\n!Tav\r\n";
    for (int i = 0; i < 12; i++)
        twelve += "b" + std::to_string(i) + " " + std::to_string(1000000 * (i + 1)) +
                  " 0xF4240 1 2 0 3 12.5\n";
    texts.push_back(twelve);
    texts.push_back(
        std::string(1, '\0') +
        "160meters 1800000 2000000 1 1 0 0 0.0\n80meters 3500000 4000000 1 2 0 1 0.0\n");
    texts.push_back("\x05; nothing but the interface\n!817\n");
    texts.push_back(
        "\x06!Ham\n40m 7000000 7300000 1 2 0 1 0.0\n!Hamlib\n20m 14000000 14350000 1 3 1 2 0.0\n");
    texts.push_back(
        "\x03!Tav\n  ;40m 7000000 7300000 1 2 0 1 5.5\n\t!817 14000000 14350000 1 3 1 2 0.0\n"
        "20m 14350001 14400000 0 1 1 0 0.0\n");
    texts.push_back(std::string(1, '\0') +
                    "40m 7000000 7300000 2 200 1 9 nan\n20m 14000000 14350000 1 -1 7 3 1e39\n"
                    "15m -21000000 21450000 1 1 0 0 0.05\n");
    return FuzzSeedsOf(texts);
}
