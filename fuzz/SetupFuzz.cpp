// Any bytes as /opt/set/setup.txt: the file loads, is written back by the
// program's own writer and loads again to the same record and the same numbers
// in the shared record; a second write gives the same file; the settings that
// select hardware stay in the ranges their commands and tables take: banks
// 0..19 of 1..20, attenuator steps up to 3, "FS", "PS" and "GM" with only their
// digits.
#include "FuzzRoot.h"
#include "FuzzTarget.h"

#include "amp/LinearPort.h"
#include "core/Setup.h"
#include "core/Works.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kPath = "/opt/set/setup.txt";

// Every value the file sets: the record's characters and texts, and the numbers
// kept in Works.
struct Values {
    char flags[sizeof(SetupRecord)]; // the record with its texts blanked out
    std::vector<std::string> texts;
    std::vector<double> numbers;
    std::string server;
};

template <typename... T> std::vector<double> doubles(const T&... n) { return {static_cast<double>(n)...}; }

Values values(Works* w) {
    Values v;
    SetupRecord& r = *w->setup;
    // The record is 279 atomic characters with the layout of plain ones; no other
    // thread runs here.
    std::memcpy(v.flags, static_cast<const void*>(&r), sizeof v.flags);
    const auto blank = [&](const void* field, size_t n) {
        std::memset(v.flags + (static_cast<const char*>(field) - reinterpret_cast<const char*>(&r)), 0, n);
    };
    // The spectrum source is not a key: any Enable1600 line forces it, so it
    // follows the order of the lines, which the writer fixes.
    blank(&r.usbSpectrum, 1);
    const auto text = [&](const auto& field) {
        blank(&field, sizeof field);
        v.texts.push_back(field.get().s);
    };
    text(r.Pitch), text(r.Quality), text(r.AudioIn), text(r.InChannels), text(r.Multiplier);
    text(r.AudioOut), text(r.Server), text(r.CatPort), text(r.SerPort), text(r.LinPort);
    text(r.FreqPeriodTime), text(r.SWRescAutoTune), text(r.MaxTemperature), text(r.MaxTempAllowed);
    text(r.PSpar1), text(r.PSpar2), text(r.PSpar3), text(r.PSpar4), text(r.OffsetPlot);
    text(r.CatSerialPort), text(r.TUNEenabled), text(r.NumBanco), text(r.GMpar1), text(r.GMpar2);
    text(r.Peak_media), text(r.Peak_ValDec), text(r.Peak_TimeDec), text(r.Peak_Time), text(r.MAXbank);
    text(r.BTN_longpress_Time);
    // The keys added since keep their characters in slots.
    for (const char* key : {"RemotePlain", "HamlibModel", "HamlibPort", "HamlibSpeed", "HamlibPoll", "WebPort", "GpioChip"}) {
        char text[kSettingTextMax];
        SettingText(w, key, text, sizeof text);
        v.texts.push_back(text);
    }
    // AudioCompress and Divide are written from their numbers, which are compared
    // below; their texts are what the last file said, or the start values.
    blank(&r.AudioCompress, sizeof r.AudioCompress);
    blank(&r.Divide, sizeof r.Divide);
    const Settings& st = w->settings;
    v.numbers = doubles(st.audioBitrate, st.audioMultiplier, st.tcpPort, w->antennaIdx, st.pwrPeakEnabled,
        st.tempMode, st.freqSensIn, st.freqPeriod, w->attenuator, st.attenuatorTune, st.swrEscAutoTune,
        st.viewTimeStr, st.viewTemp, st.maxTemperature, st.autoTuneMaxCycles, st.powerUnits, st.saveScreenIdx,
        // Only the first bit is a setting; the others are run-time requests.
        w->tuneModeFlags.load() & 1, st.divide, st.maxTempAllowed, st.psPar[0], st.psPar[1], st.psPar[2],
        st.psPar[3], st.hysteresis1, st.hysteresis2, st.plotOffset, st.tuneEnabled, w->NumBanco, st.gmPar[0],
        st.gmPar[1], st.fattoremedia, st.PeakDecrement, st.PeakDecrementTime, st.TimerPeakSec, w->MAXbank,
        st.TIME_LONG_PRESS, st.debugEnabled, st.logTempEnabled, SettingNumber(w, "HamlibModel"),
        SettingNumber(w, "HamlibSpeed"), SettingNumber(w, "HamlibPoll"), SettingNumber(w, "WebPort"));
    v.server = w->serverAddr.get().s;
    return v;
}

void readAndWrite(Works* w) {
    FuzzQuiet quiet;
    readSetup(w);
    FUZZ_CHECK(writeSetup(w) == 0, "setup: the file could not be written");
}

// Two numbers are taken from texts rather than written from Works, and their
// start values differ from the texts' defaults: the audio block size starts at
// 240 frames while the Multiplier text starts at "2", and the server address
// starts empty while the Server text starts at "127.0.0.1". A file without those
// lines loads to the start values and, once written, to the defaults' values.
constexpr size_t kMultiplierNumber = 1;

// "FS", "PS" and "GM" carry their numbers as fixed counts of digits.
bool isCommandForm(const std::string& s, const char* letters, size_t digits) {
    if (s.size() != digits + 3 || s.compare(0, 2, letters) != 0 || s.back() != ';')
        return false;
    for (size_t i = 2; i < 2 + digits; i++)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

std::string firstLineDifference(const std::string& a, const std::string& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        i++;
    const size_t from = a.rfind('\n', i) == std::string::npos ? 0 : a.rfind('\n', i) + 1;
    auto line = [&](const std::string& s) {
        std::string l = s.substr(from, s.find('\n', from) - from);
        std::string shown;
        for (unsigned char c : l)
            shown += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : "\\x" + std::to_string(c);
        return shown;
    };
    return "\"" + line(a) + "\" then \"" + line(b) + "\"";
}

std::string firstDifference(const Values& a, const Values& b, bool fromWritten) {
    for (size_t i = 0; i < sizeof a.flags; i++)
        if (a.flags[i] != b.flags[i])
            return "record byte " + std::to_string(i) + ": " + std::to_string(a.flags[i]) + " then " +
                   std::to_string(b.flags[i]);
    for (size_t i = 0; i < a.texts.size(); i++)
        if (a.texts[i] != b.texts[i])
            return "text " + std::to_string(i) + ": \"" + a.texts[i] + "\" then \"" + b.texts[i] + "\"";
    for (size_t i = 0; i < a.numbers.size(); i++)
        if (a.numbers[i] != b.numbers[i] && (fromWritten || i != kMultiplierNumber))
            return "number " + std::to_string(i) + ": " + std::to_string(a.numbers[i]) + " then " +
                   std::to_string(b.numbers[i]);
    if (a.server != b.server && fromWritten)
        return "server " + a.server + " then " + b.server;
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzHoldSettingsWritable();
    FuzzWriteFile(kPath, data, size);
    readAndWrite(w);
    const Values first = values(w);
    const std::string written = FuzzReadFile(kPath);

    // The settings that select hardware or a table.
    FUZZ_CHECK(w->antennaIdx >= 0 && w->antennaIdx <= 2, "setup: antenna index %d", w->antennaIdx.load());
    const int frames = w->settings.audioMultiplier;
    FUZZ_CHECK(frames == 240 || frames == 480 || frames == 960 || frames == 1920 || frames == 2880,
               "setup: audio block of %d frames", frames);
    FUZZ_CHECK(w->NumBanco >= 0 && w->NumBanco <= 19 && w->MAXbank >= 1 && w->MAXbank <= 20,
               "setup: bank %d of %d", w->NumBanco.load(), w->MAXbank.load());
    FUZZ_CHECK(w->attenuator <= 3 && w->settings.attenuatorTune <= 3, "setup: attenuator %d, while tuning %d",
               w->attenuator.load(), w->settings.attenuatorTune.load());
    const struct {
        int state;
        const char* letters;
        size_t digits;
    } commands[] = {{kCmdFreqSens, "FS", 5}, {kCmdProtParams, "PS", 16}, {kCmdGeneric, "GM", 8}};
    for (const auto& c : commands) {
        const std::string sent = FuzzSentCommand(w, c.state);
        FUZZ_CHECK(isCommandForm(sent, c.letters, c.digits), "setup: \"%s\" sent", sent.c_str());
    }

    // Loaded again from what was written: the same values, and the same file;
    // and once more, from a file the program wrote itself.
    readAndWrite(w);
    const Values second = values(w);
    std::string diff = firstDifference(first, second, false);
    FUZZ_CHECK(diff.empty(), "setup: a written file loads to other values (%s)", diff.c_str());
    const std::string again = FuzzReadFile(kPath);
    FUZZ_CHECK(again == written, "setup: a second write gives another file (%s)",
               firstLineDifference(written, again).c_str());
    readAndWrite(w);
    diff = firstDifference(second, values(w), true);
    FUZZ_CHECK(diff.empty(), "setup: a file written twice loads to other values (%s)", diff.c_str());
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    std::vector<std::string> texts;
    // The file the program writes when there is none.
    {
        Works* w = FuzzWorks();
        FuzzHoldSettingsWritable();
        std::remove((FuzzRootDir() + kPath).c_str());
        FuzzQuiet quiet;
        readSetup(w);
        texts.push_back(FuzzReadFile(kPath));
    }
    // The simulator's station, lines from the unit tests (CR LF, a key without
    // its blank, twice the same key, Enable1600 before EnableFFT), values longer
    // than their fields, numbers that do not parse, and the extremes.
    texts.push_back("CatSerialPort: /dev/ttyUSB2\nAutoTuneMode: 1\nSWRescAutoTune: 150\n");
    texts.push_back("OffsetPlot: 25\r\nNumAntenna: 3\r\nEnable1600: 0\r\nEnableFFT: 0\r\nTcpPort:6667\r\n"
                    "TcpPort: 40000\r\nTcpPort: 7000\r\nMultiplier: 3\r\nPitch: 2500\r\n");
    texts.push_back("Server: 192.168.100.200.300.400\nAudioIn: plughw:CARD=Device,DEV=0\nFreqPeriodTime: 12x\n"
                    "MaxTemperature: -45\nTUNEenabled: 300\nNumBanco: 7\nMAXbank: 8\nEnableKeyb: \n"
                    "Peak_ValDec: 2147483647\nBTN_longpress_Time: -2147483648\nAttenuator: 2\n");
    // What the first runs found: settings out of range, commands that lose
    // their form, a number longer than its field, values that end in a
    // carriage return.
    texts.push_back("Attenuator: 7\nAttenuatorTune: 9\nMAXbank: 0\nNumBanco: 25\nFreqPeriodTime: -990\n"
                    "PSpar2: 99999\nGMpar1: -1\nPeak_ValDec: 2147483647\nPitch: 25\r\r\nEnableKeyb: \r\r\n"
                    "Multiplier: 3\r: 7000\r\n");
    texts.push_back(std::string("SerPort: /dev/tty5\r\r\r\0\0\0bleKey 0\n", 33));
    // The Hamlib rig: a long device name, a port cut at its field, limits.
    texts.push_back("HamlibModel: 1020\nHamlibPort: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0\n"
                    "HamlibSpeed: 38400\nHamlibPoll: 19\nHamlibModel: 100000\nHamlibPort: " +
                    std::string(140, 'p') + "\nHamlibSpeed: -1\r\n");
    // The console's port: off, its limits, past them.
    texts.push_back("WebPort: 0\nWebPort: 65535\nWebPort: 65536\nWebPort: -1\nWebPort: 443x\n");
    // The GPIO chip: by path, name and label, empty, and one longer than its field.
    texts.push_back("GpioChip: /dev/gpiochip4\nGpioChip: gpiochip0\nGpioChip: pinctrl-rp1\nGpioChip: \n"
                    "GpioChip: " + std::string(80, 'g') + "\r\n");
    return FuzzSeedsOf(texts);
}
