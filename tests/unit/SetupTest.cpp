// The setup file: creation from defaults, reading rules, round trips, failures.
#include "RootedWorks.h"

#include <cmath>

namespace {

const char* const kFirstKeys = "EnableKeyb: 1\n"
                               "EnableSpi: 0\n"
                               "EnableTouch: 0\n"
                               "DelayedTouch: 0\n"
                               "EnableGPIO: 1\n"
                               "EnableRead: 0\n"
                               "EnableWrite: 0\n"
                               "EnableCAT: 0\n"
                               "EnableLinear: 1\n"
                               "EnableTime: 1\n"
                               "WebSocket: 1\n"
                               "Pitch: 2500\n"
                               "Quality: 100\n"
                               "AudioIn: hw:1\n"
                               "InChannels: 1\n"
                               "AudioCompress: 0\n"
                               "Multiplier: 2\n"
                               "AudioOut: hw:1\n"
                               "Server: 127.0.0.1\n"
                               "TcpPort: 6666\n"
                               "CatPort: /dev/ttyUSB0\n"
                               "SerPort: /dev/ttyUSB1\n"
                               "LinPort: /dev/ttyAMA0\n"
                               "NumAntenna: 1\n"
                               "EnablePwrPeak: 0\n"
                               "TempMode: 0\n"
                               "FreqSensIn: 0\n"
                               "FreqPeriodTime: 10\n"
                               "Attenuator: 0\n"
                               "AttenuatorTune: 0\n"
                               "SWRescAutoTune: 0\n"
                               "ViewTimeStr: 0\n"
                               "ViewTemp: 0\n"
                               "MaxTemperature: 600\n"
                               "AutoTuneMaxCicli: 0\n"
                               "PowerUnits: 0\n"
                               "SaveScreenIdx: 0\n"
                               "AutoTuneMode: 0\n"
                               "EnableFFT: 0\n"
                               "Divide: 2\n"
                               "MaxTempAllowed: 60\n"
                               "PSpar1: 1\n"
                               "PSpar2: 1000\n"
                               "Isteresi1: 1\n"
                               "Isteresi2: 1\n"
                               "PSpar3: 0\n"
                               "PSpar4: 0\n"
                               "OffsetPlot: 0\n"
                               "CatSerialPort: /dev/ttyUSB1\n"
                               "TUNEenabled: 0\n"
                               "NumBanco: 1\n"
                               "GMpar1: 2\n"
                               "GMpar2: 100\n"
                               "Peak_media: 2\n"
                               "Peak_ValDec: 10\n"
                               "Peak_TimeDec: 1\n"
                               "Peak_Time: 3000\n"
                               "MAXbank: 20\n"
                               "BTN_longpress_Time: 5\n"
                               "EnableDebug: 0\n"
                               "Enable1600: 1\n"
                               "EnableLOGTemp: 0\n"
                               "RemotePlain: 0\n"
                               "HamlibModel: 2\n"
                               "HamlibPort: 127.0.0.1:4532\n"
                               "HamlibSpeed: 0\n"
                               "HamlibPoll: 200\n"
                               "WebPort: 8443\n"
                               "GpioChip: \n";

// A new file: the keys above, then those added since with their defaults, as the table gives them.
const std::string& newFile() {
    static const std::string file = [] {
        std::string f = kFirstKeys;
        int n = 0;
        const SettingRow* rows = SettingRows(&n);
        for (int i = static_cast<int>(CountOf(f, "\n")); i < n; i++)
            f += std::string(rows[i].key) + ": " + rows[i].def + "\n";
        return f;
    }();
    return file;
}

class SetupFile : public RootedWorks {
  protected:
    std::string setupPath() const { return dir.path + "/opt/set/setup.txt"; }
    std::string slotText(const char* key) const {
        char text[kSettingTextMax];
        SettingText(w.get(), key, text, sizeof text);
        return text;
    }
    // Reads a file made of the new-file lines with `extra` appended (a later key wins).
    void readWith(const std::string& extra) {
        ASSERT_TRUE(WriteFile(setupPath(), newFile() + extra));
        readSetup(w.get());
    }
};

TEST_F(SetupFile, MissingFileIsCreatedFromDefaultsBetweenTheRemounts) {
    readSetup(w.get());
    EXPECT_EQ(ReadFile(setupPath()), newFile());
    EXPECT_EQ(commands(), (std::vector<std::string>{"mount -o remount defaults,rw /opt/set",
                                                    "mount -v -n -o remount -r /opt/set"}));
    EXPECT_TRUE(Contains(syslog(), "3 can't open /opt/set/setup.txt"));
    // A file of an older unit, without the Hamlib lines: read, it gives the
    // created file back, with their defaults.
    std::string older = newFile();
    older.erase(older.find("HamlibModel:"));
    ASSERT_TRUE(WriteFile(setupPath(), older));
    readSetup(w.get());
    ASSERT_EQ(writeSetup(w.get()), 0);
    EXPECT_EQ(ReadFile(setupPath()), newFile());
}

// Each kind of key read, logged in its form and written back as it was read.
TEST_F(SetupFile, EachKindIsReadLoggedAndWrittenBackInItsForm) {
    const std::string byId = "/dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART-if00-port0";
    readWith("NumAntenna: 3\nTUNEenabled: 255\nAutoTuneMode: 3\nAttenuator: 2\nDivide: 7\n"
             "Peak_ValDec: 15\n"
             "TcpPort: 40000\nGpioChip: pinctrl-rp1\nEnableSpi: \nHamlibModel: 1020\nHamlibPort: " +
             byId + "\nHamlibSpeed: 38400\nHamlibPoll: 500\n");
    EXPECT_EQ(w->antennaIdx, 2);
    EXPECT_EQ(w->tuneModeFlags.load(), 3);
    EXPECT_EQ(w->attenuator, 2);
    EXPECT_DOUBLE_EQ(w->settings.PeakDecrement, 1.5); // Peak_ValDec is in tenths
    EXPECT_EQ(SettingNumber(w.get(), "HamlibSpeed"), 38400);
    EXPECT_EQ(SettingNumber(w.get(), "HamlibPoll"), 500);
    const std::string l = syslog();
    for (const std::string& line : std::vector<std::string>{
             "6 EnableKeyb: -1-", "6 Pitch: -2500-", "6 AudioCompress: -0-", "6 TcpPort: -40000-",
             "6 Divide: -7- -7-", "6 MaxTemperature: -600-", "6 HamlibPort: -" + byId + "-",
             "6 TUNEenabled: --1-"}) // no tuner fitted: -1
        EXPECT_TRUE(Contains(l, line)) << line;
    ASSERT_EQ(writeSetup(w.get()), 0);
    const std::string out = ReadFile(setupPath());
    // Only the automatic bit of the tune mode is stored.
    for (const std::string& line : std::vector<std::string>{
             "\nNumAntenna: 3\n", "\nTUNEenabled: 255\n", "\nAutoTuneMode: 1\n",
             "\nTcpPort: 40000\n", "\nWebPort: 8443\nGpioChip: pinctrl-rp1\n",
             "\nEnableSpi: \nEnableTouch: 0\n", "\nHamlibModel: 1020\nHamlibPort: " + byId + "\n"})
        EXPECT_TRUE(Contains(out, line)) << line;

    readWith("TUNEenabled: 300\n");
    EXPECT_EQ(w->settings.tuneEnabled, 44); // the low 8 bits
}

TEST_F(SetupFile, TenthsAndHundredthsSurviveReadAndWrite) {
    // A sweep across the range plus values whose float quotient lies just below
    // the exact one (0.29, 2.51 ...), which truncation would turn one unit lower.
    std::vector<int> values = {-999, -25, -1, 0, 1, 29, 57, 251, 999, 9999};
    for (int v = -990; v <= 9999; v += 37)
        values.push_back(v);
    for (int v : values) {
        std::string n = std::to_string(v);
        ASSERT_TRUE(WriteFile(
            setupPath(), "SWRescAutoTune: " + n + "\nMaxTemperature: " + n + "\nPeak_ValDec: " + n +
                             "\nBTN_longpress_Time: " + n + "\nOffsetPlot: " + n + "\n"));
        readSetup(w.get());
        ASSERT_EQ(writeSetup(w.get()), 0);
        std::string out = ReadFile(setupPath());
        for (const char* key : {"SWRescAutoTune", "MaxTemperature", "Peak_ValDec",
                                "BTN_longpress_Time", "OffsetPlot"})
            ASSERT_TRUE(Contains(out, std::string(key) + ": " + n + "\n")) << key << " " << v;
    }
}

TEST_F(SetupFile, SpectrumSourceFollowsTheLastOfEnableFFTAndEnable1600) {
    // Last, the order a new file has: EnableFFT then Enable1600.
    for (auto [text, source] : {std::pair{std::string("Enable1600: 0\n"), '1'},
                                {"Enable1600: 0\nEnableFFT: 0\n", '0'},
                                {newFile(), '1'}}) {
        ASSERT_TRUE(WriteFile(setupPath(), text));
        readSetup(w.get());
        EXPECT_EQ(setup->usbSpectrum, source) << text.substr(0, 30);
    }
}

TEST_F(SetupFile, LongValuesAreCutAtTheirFieldAndLongLinesSplit) {
    std::string longPort = "/dev/serial/by-id/very-long-device-name";
    readWith("LinPort: " + longPort + "\nServer: " + std::string(150, '9') + "\nGpioChip: /dev/" +
             std::string(80, 'g') + "\n");
    EXPECT_EQ(std::string(setup->LinPort.get().s), longPort.substr(0, 12));
    EXPECT_TRUE(Contains(syslog(), "setup: value of LinPort cut to 12 characters"));
    // The 150-character line is read in pieces: its first piece is cut to 15.
    EXPECT_EQ(std::string(setup->Server.get().s), std::string(15, '9'));
    // Neighbouring fields are intact.
    EXPECT_TRUE(setup->SerPort.equals("/dev/ttyUSB1"));
    EXPECT_EQ(setup->NumAntenna, '1');
    // Longer than a path or label can be.
    EXPECT_EQ(slotText("GpioChip").size(), 63u);
    EXPECT_TRUE(Contains(syslog(), "setup: value of GpioChip cut to 63 characters"));
}

TEST_F(SetupFile, NumbersThatDoNotParseKeepTheirMirror) {
    readWith("PSpar2: 12x\nMaxTempAllowed: \nGMpar1: 77\nNumAntenna: 7\n");
    EXPECT_TRUE(setup->PSpar2.equals("12x")); // the text is stored as read
    EXPECT_EQ(w->settings.psPar[1], 1000);
    EXPECT_EQ(w->settings.maxTempAllowed, 60);
    EXPECT_EQ(w->settings.gmPar[0], 77);
    EXPECT_EQ(w->antennaIdx, 0); // only outputs 1..3 exist
}

// A value the hardware cannot take, or no number its field holds, is refused
// and the earlier line's value (the new file's own) kept; the edges are taken.
TEST_F(SetupFile, ValuesOutsideWhatTheHardwareTakesAreRefusedAndKept) {
    using Get = long (*)(const Works&);
    const Get bank = [](const Works& w) { return long{w.NumBanco}; };
    const Get maxBank = [](const Works& w) { return long{w.MAXbank}; };
    const Get att = [](const Works& w) { return long{w.attenuator}; };
    const Get attTune = [](const Works& w) { return long{w.settings.attenuatorTune}; };
    const Get period = [](const Works& w) { return long{w.settings.freqPeriod}; };
    const Get ps4 = [](const Works& w) { return long{w.settings.psPar[3]}; };
    const Get gm1 = [](const Works& w) { return long{w.settings.gmPar[0]}; };
    const Get peak = [](const Works& w) { return std::lround(w.settings.PeakDecrement * 10); };
    const Get divide = [](const Works& w) { return long{w.settings.divide}; };
    const Get web = [](const Works& w) { return SettingNumber(&w, "WebPort"); };
    const Get poll = [](const Works& w) { return SettingNumber(&w, "HamlibPoll"); };
    const struct {
        const char* line;
        Get get;
        long value;
        const char* logged; // "" when nothing is said
    } cases[] = {
        {"NumBanco: 25", bank, 1, "NumBanco value 25 is not within 0..19: kept"},
        {"MAXbank: 0", maxBank, 20, "MAXbank value 0 is not within 1..20: kept"},
        {"Attenuator: 7", att, 0, "Attenuator value 7 is not within 0..3: kept"},
        {"GMpar1: -1", gm1, 2, "GMpar1 value -1 is not within 0..9999: kept"},
        // Applied whole but saved cut, 2147483647 tenths would come back as 2147.
        {"Peak_ValDec: 2147483647", peak, 10,
         "Peak_ValDec value 2147483647 is longer than its field: kept"},
        // Below 1 the spectrum's down-counter would wrap.
        {"Divide: 0", divide, 2, "Divide value 0 is not within 1..99: kept"},
        {"Divide: 100", divide, 2, "Divide value 100 is not within 1..99: kept"},
        {"Divide: 2147483648", divide, 2, ""},
        {"Divide: x7", divide, 2, ""},
        {"WebPort: 65536", web, 8443, "WebPort value 65536 is not within 0..65535: kept"},
        {"WebPort: -443", web, 8443, ""},
        {"HamlibPoll: 5", poll, 200, ""}, // faster than 20 ms
        // The edges.
        {"NumBanco: 19", bank, 19, ""},
        {"MAXbank: 1", maxBank, 1, ""},
        {"AttenuatorTune: 3", attTune, 3, ""},
        {"FreqPeriodTime: 9990", period, 9990, ""},
        {"PSpar4: 9999", ps4, 9999, ""},
        {"Divide: 99", divide, 99, ""},
        {"WebPort: 0", web, 0, ""}, // the console off
    };
    for (const auto& c : cases) {
        readWith(std::string(c.line) + "\n");
        EXPECT_EQ(c.get(*w), c.value) << c.line;
        EXPECT_TRUE(Contains(syslog(), std::string("setup: ") + c.logged)) << c.line;
    }
    // The texts are kept with the numbers, and the file says what was taken.
    readWith("NumBanco: 25\nAttenuator: 7\nPeak_ValDec: 2147483647\nWebPort: 443\nDivide: 99\n");
    EXPECT_TRUE(setup->NumBanco.equals("1"));
    EXPECT_EQ(setup->Attenuator, '0');
    EXPECT_TRUE(setup->Peak_ValDec.equals("10"));
    ASSERT_EQ(writeSetup(w.get()), 0);
    EXPECT_TRUE(Contains(ReadFile(setupPath()), "HamlibPoll: 200\nWebPort: 443\n"));
    EXPECT_TRUE(Contains(ReadFile(setupPath()), "\nDivide: 99\n"));
}

// CR LF ends and values that end in carriage returns: none survives a save.
TEST_F(SetupFile, LineEndsCarriageReturnsDuplicatesAndMissingBlank) {
    std::string crlf = newFile();
    for (size_t p = 0; (p = crlf.find('\n', p)) != std::string::npos; p += 2)
        crlf.replace(p, 1, "\r\n");
    ASSERT_TRUE(WriteFile(setupPath(), crlf + "Server: 10.0.0.7\r\nLinPort:/dev/ttyX\r\n"
                                              "TcpPort: 7000\r\nTcpPort: 7001\r\nPitch: 25\r\r\n"
                                              "EnableSpi: \r\r\nSerPort: /dev/tty5\r\r\r\n"));
    readSetup(w.get());
    EXPECT_TRUE(setup->Server.equals("10.0.0.7"));
    EXPECT_TRUE(w->serverAddr.equals("10.0.0.7"));
    EXPECT_TRUE(setup->LinPort.equals("/dev/ttyAMA0")); // no blank after the colon: ignored
    EXPECT_EQ(w->settings.tcpPort, 7001);               // the later key wins
    EXPECT_EQ(setup->EnableKeyb, '1');                  // no '\r' left in a flag
    EXPECT_TRUE(setup->Pitch.equals("25"));
    EXPECT_EQ(setup->EnableSpi, '\0');
    EXPECT_TRUE(setup->SerPort.equals("/dev/tty5"));
    // A cut that would leave one last is taken back to before it.
    readWith("LinPort: /dev/ttyAM\r\rXYZ\n");
    EXPECT_TRUE(setup->LinPort.equals("/dev/ttyAM"));
    ASSERT_EQ(writeSetup(w.get()), 0);
    EXPECT_EQ(ReadFile(setupPath()).find('\r'), std::string::npos);
}

TEST_F(SetupFile, AudioBlocksOnlyOfTheSizesOpusTakes) {
    readWith("");
    EXPECT_EQ(w->settings.audioMultiplier, 480); // Multiplier 2: 480 frames, 10 ms
    for (auto [text, frames] :
         {std::pair{"1", 240}, {"12", 2880}, {"3", 480}, {"6", 960}, {"40", 2880}, {"0", 240}}) {
        readWith(std::string("Multiplier: ") + text + "\n");
        EXPECT_EQ(w->settings.audioMultiplier, frames) << text;
        EXPECT_TRUE(setup->Multiplier.equals(text)); // the file keeps the operator's value
    }
    EXPECT_TRUE(Contains(syslog(), "3 Multiplier 3 is not 1, 2, 4, 8 or 12: 2 used"));
    EXPECT_TRUE(Contains(syslog(), "3 Multiplier 40 is not 1, 2, 4, 8 or 12: 12 used"));
    EXPECT_FALSE(Contains(syslog(), "Multiplier 12 is not"));
}

TEST_F(SetupFile, ReadingKeepsTheAccessCodeAndRunState) {
    w->remotePassword.set("ABCDEFGHJKLM"); // remote.txt's, not the setup file's
    w->tsThresholds[0] = 1234;
    w->cmdQueue[0] = 36;
    w->cmdQueueWrite = 1;
    w->ident.eeModel[1] = '1';
    readWith("");
    EXPECT_TRUE(w->remotePassword.equals("ABCDEFGHJKLM"));
    EXPECT_EQ(w->tsThresholds[0], 1234);
    EXPECT_EQ(w->cmdQueue[0], 36);
    EXPECT_EQ(w->cmdQueueWrite, 1);
    EXPECT_EQ(w->ident.eeModel[1], '1');
}

TEST_F(SetupFile, RemountAndWriteFailuresAreLoggedAndLeaveTheOldFile) {
    readWith("Pitch: 1234\n");
    std::string before = ReadFile(setupPath());
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 3\n"));
    w->NumBanco = 5;
    EXPECT_NE(writeSetup(w.get()), 0);
    EXPECT_EQ(ReadFile(setupPath()), before);
    EXPECT_EQ(CountOf(syslog(), "3 can't mount rw /opt/set/ error "), 1u); // reported once

    // rw succeeds, ro fails. A folder where the temporary file should go makes
    // the write fail: the old file kept, and the read-only remount all the same.
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount",
                               "case \"$*\" in *-r*) exit 1;; esac\n"
                               "echo rw > \"$PANEL_ROOT/sim/opt-set.mount\"\n"));
    ASSERT_TRUE(WriteFile(setupPath() + ".new/x", "block"));
    EXPECT_NE(writeSetup(w.get()), 0);
    EXPECT_EQ(ReadFile(setupPath()), before);
    EXPECT_EQ(ReadLines(dir.path + "/commands.log").back(), "mount -v -n -o remount -r /opt/set");
    EXPECT_TRUE(Contains(syslog(), "3 can't write /opt/set/setup.txt error"));
    // Then the file is written.
    std::filesystem::remove_all(setupPath() + ".new");
    EXPECT_EQ(writeSetup(w.get()), 0);
    EXPECT_TRUE(Contains(ReadFile(setupPath()), "NumBanco: 5\n"));
}

} // namespace
