// Any bytes as /opt/set/setup.txt: the file loads, is written back by the
// program's own writer and loads again to the same record and the same values
// of every key of the settings table; a second write gives the same file; the
// settings that select hardware stay in the ranges their commands and tables
// take: every number within its row's bounds, "FS", "PS" and "GM" with only
// their digits.
#include "FuzzRoot.h"

#include "amp/Linear.h"
#include "core/Setup.h"

#include <span>

namespace {

// Every value the file sets: the record with its texts blanked out, each key's
// text and number, and the two values whose start differs from their text's
// default (the audio block starts at 240 frames while Multiplier starts at "2";
// the server address starts empty while Server starts at "127.0.0.1"): a file
// without those lines loads to the start values and, once written, to the
// defaults' values.
struct Values {
    std::string record;
    std::vector<std::string> keys, started;
};

Values values(Works* w) {
    Values v;
    SetupRecord& r = *w->setup;
    // The record is atomic characters with the layout of plain ones; no other
    // thread runs here.
    const char* base = reinterpret_cast<const char*>(&r);
    v.record.assign(base, sizeof r);
    const auto blank = [&](const void* field, size_t n) {
        v.record.replace(static_cast<size_t>(static_cast<const char*>(field) - base), n, n, '\0');
    };
    // The spectrum source is not a key: any Enable1600 line forces it, so it
    // follows the order of the lines, which the writer fixes.
    blank(&r.usbSpectrum, 1);
    int count = 0;
    const SettingRow* rows = SettingRows(&count);
    for (const SettingRow& row : std::span(rows, static_cast<size_t>(count))) {
        char text[kSettingTextMax] = "";
        if (row.text) {
            const TextRef t = row.text(r);
            blank(t.c, t.n);
            // A text written from its number is what the last file said: its
            // number is compared.
            if (!row.lineFromNumber) t.copyTo(text, sizeof text);
        } else if (!row.flag) {
            SettingText(w, row.key, text, sizeof text);
        }
        const long n = row.regen ? row.regen(w) : SettingNumber(w, row.key);
        // Whatever the file said, what the hardware takes (banks, attenuator steps...).
        FUZZ_CHECK(n >= row.lo && n <= row.hi, "setup: %s is %ld", row.key, n);
        v.keys.push_back(std::string(row.key) + " " + std::to_string(n) + ": " + text);
    }
    v.started = {std::to_string(w->settings.audioMultiplier), w->serverAddr.get().s};
    return v;
}

void readAndWrite(Works* w) {
    FuzzQuiet quiet;
    readSetup(w);
    FUZZ_CHECK(writeSetup(w) == 0, "setup: the file could not be written");
}

// The amplifier command of link state `state`, sent into a pipe: the bytes that
// would have gone to the port.
std::string sentCommand(Works* w, int state) {
    static int fds[2] = {-1, -1};
    if (fds[0] < 0 && pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        FuzzFail("fuzz: cannot make the port's pipe");
    const int old = w->linFD;
    w->linFD = fds[1];
    FuzzQuietly([&] { SendLinearCommand(w, state); });
    w->linFD = old;
    char buf[256];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Whether `s` is `letters`, `digits` decimal digits and ';': a command of fixed form.
bool isCommand(const std::string& s, const char* letters, size_t digits) {
    return s.size() == digits + 3 && s.compare(0, 2, letters) == 0 && s.back() == ';' &&
           std::all_of(s.begin() + 2, s.end() - 1, [](char c) { return c >= '0' && c <= '9'; });
}

std::string firstDifference(const Values& a, const Values& b, bool fromWritten) {
    const auto at = std::mismatch(a.record.begin(), a.record.end(), b.record.begin()).first;
    if (at != a.record.end()) return "record byte " + std::to_string(at - a.record.begin());
    for (size_t i = 0; i < a.keys.size(); i++)
        if (a.keys[i] != b.keys[i]) return a.keys[i] + " then " + b.keys[i];
    if (fromWritten && a.started != b.started) return "Multiplier or Server";
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    FuzzWriteFile(kSetupPath, data, size);
    readAndWrite(w);
    const Values first = values(w);
    const std::string written = FuzzReadFile(kSetupPath);

    // The settings that select hardware or a table.
    FUZZ_CHECK(w->antennaIdx >= 0 && w->antennaIdx <= 2, "setup: antenna index %d",
               w->antennaIdx.load());
    const struct {
        int state;
        const char* letters;
        size_t digits;
    } commands[] = {{kCmdFreqSens, "FS", 5}, {kCmdProtParams, "PS", 16}, {kCmdGeneric, "GM", 8}};
    for (const auto& c : commands) {
        const std::string sent = sentCommand(w, c.state);
        FUZZ_CHECK(isCommand(sent, c.letters, c.digits), "setup: \"%s\" sent", sent.c_str());
    }

    // Loaded again from what was written: the same values, and the same file;
    // and once more, from a file the program wrote itself.
    readAndWrite(w);
    const Values second = values(w);
    std::string diff = firstDifference(first, second, false);
    FUZZ_CHECK(diff.empty(), "setup: a written file loads to other values (%s)", diff.c_str());
    FUZZ_CHECK(FuzzReadFile(kSetupPath) == written, "setup: a second write gives another file");
    readAndWrite(w);
    diff = firstDifference(second, values(w), true);
    FUZZ_CHECK(diff.empty(), "setup: a file written twice loads to other values (%s)",
               diff.c_str());
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    // The file the program writes when there is none.
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    std::remove((FuzzRootDir() + kSetupPath).c_str());
    FuzzQuietly([w] { readSetup(w); });
    std::vector<std::string> texts = {FuzzReadFile(kSetupPath)};
    // The simulator's station, lines from the unit tests (CR LF, a key without
    // its blank, twice the same key, Enable1600 before EnableFFT), values longer
    // than their fields, numbers that do not parse, and the extremes.
    texts.push_back("CatSerialPort: /dev/ttyUSB2\nAutoTuneMode: 1\nSWRescAutoTune: 150\n");
    texts.push_back("OffsetPlot: 25\r\nNumAntenna: 3\r\nEnable1600: 0\r\nEnableFFT: 0\r\n"
                    "TcpPort:6667\r\nTcpPort: 40000\r\nTcpPort: 7000\r\nMultiplier: 3\r\n"
                    "Pitch: 2500\r\n");
    texts.push_back("Server: 192.168.100.200.300.400\nAudioIn: plughw:CARD=Device,DEV=0\n"
                    "FreqPeriodTime: 12x\nMaxTemperature: -45\nTUNEenabled: 300\nNumBanco: 7\n"
                    "MAXbank: 8\nEnableKeyb: \nPeak_ValDec: 2147483647\n"
                    "BTN_longpress_Time: -2147483648\nAttenuator: 2\n");
    // What the first runs found: settings out of range, commands that lose
    // their form, a number longer than its field, values that end in a
    // carriage return.
    texts.push_back("Attenuator: 7\nAttenuatorTune: 9\nMAXbank: 0\nNumBanco: 25\n"
                    "FreqPeriodTime: -990\nPSpar2: 99999\nGMpar1: -1\nPeak_ValDec: 2147483647\n"
                    "Pitch: 25\r\r\nEnableKeyb: \r\r\nMultiplier: 3\r: 7000\r\n");
    texts.push_back(std::string("SerPort: /dev/tty5\r\r\r\0\0\0bleKey 0\n", 33));
    // The Hamlib rig: a long device name, a port cut at its field, limits.
    texts.push_back("HamlibModel: 1020\n"
                    "HamlibPort: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0\n"
                    "HamlibSpeed: 38400\nHamlibPoll: 19\nHamlibModel: 100000\nHamlibPort: " +
                    std::string(140, 'p') + "\nHamlibSpeed: -1\r\n");
    // The console's port: off, its limits, past them.
    texts.push_back("WebPort: 0\nWebPort: 65535\nWebPort: 65536\nWebPort: -1\nWebPort: 443x\n");
    // The GPIO chip: by path, name and label, empty, and one longer than its field.
    texts.push_back("GpioChip: /dev/gpiochip4\nGpioChip: gpiochip0\nGpioChip: pinctrl-rp1\n"
                    "GpioChip: \nGpioChip: " +
                    std::string(80, 'g') + "\r\n");
    return FuzzSeedsOf(texts);
}
