// A station of device models for the simulator and the tests.
#include "devsim/Station.h"

#include "devsim/AmpModel.h"
#include "devsim/Ft817Model.h"
#include "devsim/GpioConverter.h"
#include "devsim/SimRoot.h"
#include "devsim/TrxCatModel.h"
#include "devsim/TrxModel.h"

#include <filesystem>
#include <fstream>

namespace {
// A frequency in each band, for stepping through them.
const long long kBands[] = {1840000,  3573000,  7074000,  10136000, 14074000,
                            18100000, 21074000, 24915000, 28074000, 50313000};

// Writes `text` to root + path unless the file is there already.
void writeDefault(const std::string& root, const char* path, const std::string& text) {
    const std::string p = root + path;
    if (!std::filesystem::exists(p))
        std::ofstream(p) << text;
}

// The tables of a station that is set up: low-pass filters per band group, the
// fan curve, and band rows whose calibration matches the amplifier model's
// converters (60 W at count 3411.1 forward, and so on).
void writeTables(const std::string& root) {
    writeDefault(root, "/opt/set/filter.txt",
                 "; low high enabled\n1700000 2100000 1\n3400000 4100000 1\n5300000 7400000 1\n"
                 "10000000 14500000 1\n18000000 21500000 1\n24800000 29800000 1\n"
                 "49000000 54500000 1\n");
    writeDefault(root, "/opt/set/ventola.txt", "; temperature fan\n0 0\n40 30\n50 60\n60 100\n");
    std::string config = "; start end Pfwd Vfwd Prefl Vrefl Pin Vin kdir pwin current refl fwd "
                         "L C L C L C L C L C step\n";
    const long starts[] = {1700000, 3400000, 5300000, 7400000, 10000000, 14500000,
                           18000000, 21500000, 24800000, 29800000, 49000000, 55000000};
    for (size_t i = 0; i + 1 < sizeof starts / sizeof starts[0]; i++)
        config += std::to_string(starts[i]) + " " + std::to_string(starts[i + 1] - 1) +
                  " 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 0 0 0 0 0 0 0 0 0 0 1\n";
    config += "55000000 60000000 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 0 0 0 0 0 0 0 0 0 0 1\n";
    writeDefault(root, "/opt/set/config.txt", config);
    SimStationWriteBank(root, 0);
}

} // namespace

void SimStationWriteBank(const std::string& root, int workMode) {
    // Bank 1, the one a new panel starts with: amplifier on, output 1 through the
    // tuner on every band.
    const char* markers[3] = {"!Gen\n", "!Tav\n", "!817\n"};
    std::string bank = markers[workMode >= 0 && workMode <= 2 ? workMode : 0];
    const char* bands[][3] = {{"160m", "1800000", "2000000"},   {"80m", "3500000", "4000000"},
                              {"60m", "5330500", "5450000"},    {"40m", "7000000", "7300000"},
                              {"30m", "10100000", "10150000"},  {"20m", "14000000", "14350000"},
                              {"17m", "18068000", "18168000"},  {"15m", "21000000", "21450000"},
                              {"12m", "24890000", "24990000"},  {"10m", "28000000", "29700000"},
                              {"6m", "50000000", "54000000"}};
    for (const auto& b : bands)
        bank += std::string(b[0]) + " " + b[1] + " " + b[2] + " 1 1 0 0 0.0\n";
    writeDefault(root, "/opt/set/antenna_b1.txt", bank);
}

bool SimStationStart(SimStation* s, const std::string& root, std::string* error) {
    s->root = root;
    // The FT-817 on its own port; the tune key searches, and stops at SWR 1.5.
    writeDefault(root, "/opt/set/setup.txt",
                 std::string("CatSerialPort: ") + kStationFt817Port +
                     "\nAutoTuneMode: 1\nSWRescAutoTune: 150\n");
    writeTables(root);
    s->amp = AmpModelStart(root + "/dev/ttyAMA0");
    s->converter = GpioConverterStart(SimGpioPath(root));
    Ft817ModelConfig radio;
    radio.hz = s->hz;
    s->radio = Ft817ModelStart(root + kStationFt817Port, radio);
    s->cat = TrxCatModelStart(root + "/dev/KAVOCAT0");
    if (!s->amp || !s->converter || !s->radio || !s->cat || !SimStationReplugTrx(s)) {
        if (error)
            *error = "cannot start the station's device models";
        SimStationStop(s);
        return false;
    }
    AmpModelSetFrequency(s->amp, static_cast<int>(s->hz));
    return true;
}

void SimStationUnplugTrx(SimStation* s) {
    if (s->cat)
        TrxCatModelSetTransmitHook(s->cat, nullptr);
    TrxModelStop(s->trx);
    s->trx = nullptr;
    if (s->amp)
        AmpModelSetDrive(s->amp, 0.0f);
}

bool SimStationReplugTrx(SimStation* s) {
    if (s->trx)
        return true;
    TrxModelConfig trx;
    trx.hz = s->hz;
    s->trx = TrxModelStart(s->root + "/dev/ttyUSB1", trx);
    if (!s->trx)
        return false;
    AmpModel* amp = s->amp;
    TrxModelSetTransmitHook(s->trx, [amp](bool on, float watts) { AmpModelSetDrive(amp, on ? watts : 0.0f); });
    // One radio: "TX;" on its CAT port keys it as its PTT does, "RX;" ends that.
    TrxModel* radio = s->trx;
    const float drive = s->driveW;
    if (s->cat)
        TrxCatModelSetTransmitHook(s->cat, [radio, drive](bool on) { TrxModelSetPtt(radio, on, drive); });
    return true;
}

void SimStationStop(SimStation* s) {
    if (s->cat)
        TrxCatModelSetTransmitHook(s->cat, nullptr);
    TrxModelStop(s->trx); // first: its hook drives the amplifier model
    s->trx = nullptr;
    AmpModelStop(s->amp);
    GpioConverterStop(s->converter);
    Ft817ModelStop(s->radio);
    TrxCatModelStop(s->cat);
    s->amp = nullptr;
    s->converter = nullptr;
    s->radio = nullptr;
    s->cat = nullptr;
}

void SimStationSetFrequency(SimStation* s, long long hz) {
    s->hz = hz;
    if (s->amp)
        AmpModelSetFrequency(s->amp, static_cast<int>(hz));
    if (s->radio)
        Ft817ModelSetFrequency(s->radio, hz);
    if (s->cat)
        TrxCatModelSetFrequency(s->cat, hz);
    if (s->trx)
        TrxModelSetFrequency(s->trx, hz);
}

void SimStationTransmit(SimStation* s, bool on) {
    s->transmitting = on;
    if (s->trx)
        TrxModelSetPtt(s->trx, on, s->driveW);
}

void SimStationBand(SimStation* s, int direction) {
    const int n = static_cast<int>(sizeof kBands / sizeof kBands[0]);
    int i = 0;
    while (i < n && kBands[i] <= s->hz)
        i++;
    // i is the first band above; the current band is i - 1.
    int next = direction > 0 ? i : i - 2;
    if (next < 0)
        next = n - 1;
    if (next >= n)
        next = 0;
    SimStationSetFrequency(s, kBands[next]);
}
