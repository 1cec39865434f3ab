// Hamlib's amplifier protocol: commands cut from a client's bytes, the answer
// bytes of each command in both forms, refusals and their codes, and the shape
// of every answer against Debian's real ampctld (its dummy amplifier).
#include "AmpctlTalk.h"
#include "TestRoot.h"
#include "WsPeer.h"

#include "core/Works.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

const std::string kLevelList =
    "SWR PWRINPUT PWRFORWARD PWRREFLECTED PWRPEAK FAULT WARNING VD_METER ID_METER TEMP_METER ";
const std::string kInfo = std::string("Panel amplifier, software ") + kSwVersion;

std::string times(const std::string& s, int n) { return n > 0 ? s + times(s, n - 1) : ""; }

AmpctlView fixedView() {
    return AmpctlView{.valid = true, .mayChange = true, .freqHz = 14074000, .forwardW = 500, .reflectedW = 12,
                      .inputW = 25, .peakW = 610, .swr = 1.5f, .warning = "Drive high", .heatSinkC = 41.5f,
                      .supplyV = 48.25f, .drainA = 22.5f, .operate = true,
                      .status = kAmpctlFaultSwr | kAmpctlWarningTemperature, .antenna = 2};
}

AmpctlTalk talk(const AmpctlView& v, const std::string& bytes, int result = 0,
                size_t piece = 4096) {
    const auto same = [result](const AmpctlRequest&) { return result; };
    return TalkTo(v, bytes, same, piece);
}

struct Case {
    const char* line;
    std::string answer;
    AmpctlAction action = AmpctlAction::None;
    int64_t value = 0;
};

void expectCases(const AmpctlView& v, const std::vector<Case>& cases, int result = 0) {
    for (const Case& c : cases) {
        const AmpctlTalk t = talk(v, std::string(c.line) + "\n", result);
        EXPECT_EQ(t.answers, c.answer) << c.line;
        ASSERT_EQ(t.requests.size(), c.action == AmpctlAction::None ? 0u : 1u) << c.line;
        if (c.action != AmpctlAction::None) {
            EXPECT_TRUE(t.requests[0].action == c.action && t.requests[0].value == c.value) << c.line;
        }
    }
}

TEST(Ampctl, EveryCommandAnswersInThePlainAndTheExtendedForm) {
    using A = AmpctlAction;
    expectCases(fixedView(), {
        {"f \\get_freq", "14074000\n14074000\n"},
        {"+f", "get_freq:\nFrequency(Hz): 14074000\nRPRT 0\n"},
        {";f", "get_freq:;Frequency(Hz): 14074000;RPRT 0\n"},
        {"F 7050000", "RPRT 0\n", A::SetFreq, 7050000},
        {"+F 7.1e6", "set_freq: 7.1e6\nRPRT 0\n", A::SetFreq, 7100000},
        {"l FAULT l WARNING l TEMP_METER l VD_METER l ID_METER",
         "No Fault\nDrive high\n41.500000\n48.250000\n22.500000\n"},
        {"+l SWR", "get_level: SWR\n1.500000\nRPRT 0\n"},
        {"|l PWRFORWARD", "get_level: PWRFORWARD|500\nRPRT 0\n"},
        {"l ? L ?", kLevelList + "\n\nRPRT 0\n"},
        {"+l ?", "get_level: ?\n" + kLevelList + "\nRPRT 0\n"},
        {"\\get_powerstat s y \\dump_state _", "4\nFAULT_SWR WARNING_TEMPERATURE \n2\n0\n" + kInfo + "\n"},
        {";\\get_powerstat", "get_powerstat:;Power Status: 4\nRPRT 0\n"},
        {"\\set_powerstat 2", "RPRT 0\n", A::Standby},
        {"+\\set_powerstat 4", "set_powerstat: 4\nRPRT 0\n", A::Operate},
        {"R 1", "RPRT 0\n", A::FaultReset},
        {"+\\reset 1", "reset: 1\nRPRT 0\n", A::FaultReset},
        {"+\\dump_state", "dump_state:\nampctld Protocol Ver: 0\nAmplifier Model: Panel amplifier\nRPRT 0\n"},
        {";\\dump_state", "dump_state:;ampctld Protocol Ver: 0;Amplifier Model: Panel amplifier\nRPRT 0\n"},
        {"+_", "get_info:\nInfo: " + kInfo + "\nRPRT 0\n"},
        {"+s", "get_status:\nStatus flags: FAULT_SWR WARNING_TEMPERATURE \nRPRT 0\n"},
        {",\\get_ant", "get_ant:,Antenna: 2,RPRT 0\n"},
        {"Y 3", "RPRT 0\n", A::SetAntenna, 3},
        {"+Y 1 0", "set_ant: 1 0\nRPRT 0\n", A::SetAntenna, 1},
        {"G TUNE", "RPRT 0\n", A::Tune},
        {"+\\amp_op TUNE", "amp_op: TUNE\nRPRT 0\n", A::Tune},
        {"G ? w hello", "TUNE \nRPRT 0\nRPRT -11\n"},
        {"+w hello  there", "send_cmd: hello  there\nRPRT -11\n"},
        {"q", ""},
    });
    // Transmitting shows as PTT; the caps dump names this amplifier and its levels.
    AmpctlView tx = fixedView();
    tx.transmitting = true;
    tx.status = 0;
    EXPECT_EQ(talk(tx, "s\n").answers, "PTT \n");
    const std::string caps = talk(tx, "+1\n").answers;
    EXPECT_EQ(caps.rfind("dump_caps:\nCaps dump for model:\t0\nModel name:\t\tPanel amplifier\n", 0), 0u) << caps;
    EXPECT_TRUE(Contains(caps, "\nGet level: " + kLevelList + "\n")) << caps;
    EXPECT_EQ(caps.substr(caps.size() - 36), "\nOverall backend warnings: 0\nRPRT 0\n");
    EXPECT_EQ(talk(tx, "1\n").answers, caps.substr(11));
}

TEST(Ampctl, RefusalsForArgumentsRulesRightsAndMissingDataAnswerHamlibsCodes) {
    AmpctlView v = fixedView();
    v.freqFromSource = true;
    expectCases(v, {
        {"F 7050000", "RPRT -11\n"}, // a source sets the frequency
        {"F abc", "RPRT -1\n"},
        {"+F abc", "set_freq: abc\nRPRT -1\n"},
        {"F", "RPRT -1\n"}, // the argument not on its line
        {"+l", "get_level:\nRPRT -1\n"},
        {"l swr l NH", "RPRT -1\nRPRT -1\n"}, // NH: a Hamlib level this amplifier has not
        {"\\set_powerstat 9 \\set_powerstat 3 \\set_powerstat x R 9 Y 4 Y 0 G FOO", times("RPRT -1\n", 7)},
        {"L SWR 1 \\set_powerstat 1 R 0 G BAND_UP", times("RPRT -11\n", 4)},
        {";L SWR 1", "set_level: SWR 1;RPRT -11\n"},
        {"+R 2", "reset: 2\nRPRT -11\n"},
    });
    // What the panel's rules answer completes the answer: standby while transmitting.
    expectCases(fixedView(), {
        {"\\set_powerstat 2", "RPRT -9\n", AmpctlAction::Standby},
        {"+\\set_powerstat 2", "set_powerstat: 2\nRPRT -9\n", AmpctlAction::Standby},
        {"G TUNE", "RPRT -9\n", AmpctlAction::Tune},
    }, kAmpctlRejected);
    // A client without rights reads but changes nothing.
    v = fixedView();
    v.mayChange = false;
    expectCases(v, {
        {"F 7050000 \\set_powerstat 2 R 1 Y 1 G TUNE", times("RPRT -19\n", 5)},
        {"+\\set_powerstat 4", "set_powerstat: 4\nRPRT -19\n"},
        {"R 0", "RPRT -11\n"}, // what the amplifier never has is not a matter of rights
        {"f l PWRFORWARD", "14074000\n500\n"},
    });
    // Without data every value answers "not available", never an old one.
    v = fixedView(); // the old values stay in the view
    v.valid = false;
    expectCases(v, {
        {"+f", "get_freq:\nRPRT -11\n"},
        {";l TEMP_METER", "get_level: TEMP_METER;RPRT -11\n"},
        {"\\get_powerstat s y", times("RPRT -11\n", 3)},
        {"\\set_powerstat 2 F 7050000", "RPRT -11\nRPRT -11\n"},
        {"l BOGUS", "RPRT -1\n"},
        // The description of the amplifier needs no data.
        {"l ? _ \\dump_state", kLevelList + "\n" + kInfo + "\n0\n"},
    });
}

TEST(Ampctl, LinesAreCutAsAmpctldReadsThemAndAnOverlongOneEndsTheClient) {
    const AmpctlView v = fixedView();
    struct Lines {
        std::string bytes;
        std::string answers;
    };
    const Lines cases[] = {
        {"f\r\ny\r\n", "14074000\n2\n"},
        {"\n\r\n   \n#f y\n+#f\nf\n", "14074000\n"},          // empty lines, comments
        {"f l PWRPEAK +y\n", "14074000\n610\nget_ant:\nAntenna: 2\nRPRT 0\n"}, // several on a line
        {"Y 2 f\n", "RPRT 0\n14074000\n"},                      // the option only when a number
        {"X\nzzz\nff\n\\bogus\n+X\n;\nf\n", "14074000\n"},     // unknown: nothing, prefix forgotten
        {"f q f\n", "14074000\n"},                             // 'q' ends the connection
        {"f\nf", "14074000\n"},                                // a line counts once it ends
    };
    for (const Lines& c : cases) {
        EXPECT_EQ(talk(v, c.bytes).answers, c.answers) << c.bytes;
        EXPECT_EQ(talk(v, c.bytes, 0, 1).answers, c.answers) << "byte by byte: " << c.bytes;
    }
    // 256 bytes with the LF is a line; one more byte before the LF ends the
    // client at that byte, and nothing of the line is answered.
    const std::string longest = "f" + std::string(254, ' ') + "\n";
    EXPECT_EQ(talk(v, longest + "f\n").answers, "14074000\n14074000\n");
    const AmpctlTalk over = talk(v, "f\n" + std::string(255, 'x') + "f\nf\n");
    EXPECT_TRUE(over.tooLong);
    EXPECT_EQ(over.taken, 2u + 256u);
    EXPECT_EQ(over.answers, "14074000\n");
}

// Debian's ampctld with its dummy amplifier on a free port; what it prints (a
// line per character it does not know) goes to /dev/null.
struct Ampctld {
    int pid = -1;
    WsPeer peer;
    bool start() {
        const int port = FreeTcpPort();
        pid = std::atoi(CommandOutput("/usr/bin/ampctld -m 1 -T 127.0.0.1 -t " +
                                      std::to_string(port) + " >/dev/null 2>&1 & echo $!")
                            .c_str());
        return pid > 0 && peer.connectTo(port, 10000);
    }
    // The answer to `line`: a refused reset in the extended form follows it,
    // so that even an unanswered command has a known end.
    std::string ask(const std::string& line) {
        const std::string marker = "reset: 77\nRPRT -1\n";
        std::string got;
        for (bool sent = peer.send(line + "\n+R 77\n"); sent && !got.ends_with(marker);) {
            const std::string b = peer.read(1, 5000);
            if (b.empty())
                return got + "<no end>";
            got += b;
        }
        return got.substr(0, got.size() - std::min(got.size(), marker.size()));
    }
    ~Ampctld() {
        peer.closeIt();
        if (pid > 0)
            kill(pid, SIGTERM);
    }
};

// An answer's shape: its number of lines, per record its key (up to ':'),
// "RPRT n" whole, and the extended form's first record whole; values are left out.
std::vector<std::string> shape(const std::string& line, const std::string& answer) {
    const bool extended = !line.empty() && std::strchr("+;|,", line[0]);
    const char sep = extended && line[0] != '+' ? line[0] : '\n';
    std::vector<std::string> out = {std::to_string(CountOf(answer, "\n")) + " lines"};
    std::string record;
    for (char c : answer) {
        if (c != sep && c != '\n') {
            record += c;
            continue;
        }
        const size_t colon = record.find(':');
        const bool whole = (out.size() == 1 && extended) || record.starts_with("RPRT ");
        out.push_back(whole ? record : colon == std::string::npos ? "" : record.substr(0, colon));
        record.clear();
    }
    out.push_back(record); // bytes after the last end: none in a whole answer
    return out;
}

TEST(Ampctl, EachAnswerHasTheShapeOfDebiansAmpctld) {
    if (access("/usr/bin/ampctld", X_OK) != 0)
        GTEST_SKIP() << "no /usr/bin/ampctld (libhamlib-utils)";
    Ampctld real;
    ASSERT_TRUE(real.start());
    const char* script[] = {
        "f", "+f", ";f", "|f\r", "\\get_freq", "F 14074000", "+F 14074000", ",F 14074000", "F abc", "+F abc",
        "l SWR", "+l SWR", ";l SWR", "l PWRFORWARD", "l PWRREFLECTED", "l PWRINPUT", "l PWRPEAK",
        "l FAULT", "+l FAULT", "l ?", "+l ?", "|l ?", "l BOGUS", "+l BOGUS", "L SWR 1", "+L SWR 1", "L ?",
        "+L ?", "\\get_powerstat", "+\\get_powerstat", ";\\get_powerstat", "\\set_powerstat 2",
        "+\\set_powerstat 4", "\\set_powerstat 9", "+\\set_powerstat 9", "\\set_powerstat x", "R 1", "+R 1",
        "R 9", "+R 9", "\\reset 1", "\\dump_state", "+\\dump_state", ";\\dump_state", "1", "+1", "\\dump_caps",
        "_", "+_", ";_", "\\get_info", "X", "zzz", "\\bogus_cmd", "+X", "#comment f", "", "   ", "f f",
        "l SWR l FAULT", "F 14074000 f",
    };
    const AmpctlView v = fixedView();
    for (const char* line : script) {
        const std::string theirs = real.ask(line);
        const std::string ours = talk(v, std::string(line) + "\n").answers;
        EXPECT_EQ(shape(line, ours), shape(line, theirs)) << line << "\nours:   " << ours << "\ntheirs: " << theirs;
    }
}

} // namespace
