// The console's JSON of the amplifier's values: what the status record and
// the alarm message carry, plus reflected power and both temperatures, with
// texts escaped so that any alarm text stays valid JSON.
#include "RootedWorks.h"

#include "core/AlarmList.h"
#include "web/StatusJson.h"

namespace {

class StatusJson : public RootedWorks {};

TEST_F(StatusJson, ValuesAndAlarmsOfTheUnit) {
    w->startupFlags.replace(0); // alarms count once start-up is over
    auto json = [&] {
        char out[kStatusJsonMax];
        return std::string(out, BuildStatusJson(w.get(), out, sizeof out));
    };
    PublishAmpReadings(w.get(), {.ampStatus2 = 1, .pwrIn = 20.0f, .pwrFwd = 600.0f, .pwrRefl = 12.5f,
                                 .swr = 1.33f, .currentRaw = 2048.0f, .temp1 = 41.5f, .temp2 = 38.0f});
    w->antennaRowCount = 1;
    w->antennaTable[0].name.set("20m");
    w->antennaTable[0].freqLow = 14000000;
    w->antennaTable[0].freqHigh = 14350000;
    w->antennaIdx = 1;
    w->NumBanco = 3;
    w->tunerBypass = 1;
    w->ampBypass = 1;
    w->supplyAdc[3] = 200;
    const std::string a = json();
    for (const char* part : {"{\"band\":\"20m \",\"antenna\":2,\"bank\":3,\"tuner\":\"bypassed\",\"bypass\":true",
                             "\"forward_w\":600.0", "\"reflected_w\":12.5", "\"input_w\":20.0", "\"swr\":1.33",
                             "\"board_c\":41.5", "\"heatsink_c\":38.0", "\"supply_v\":17.0", "\"current_a\":7.0",
                             "\"tx\":true", "\"alarms\":[]"})
        EXPECT_TRUE(Contains(a, part)) << part << "\n" << a;
    EXPECT_EQ(a.front(), '{');

    AddErrore(w.get(), kAlarmTavExtio);
    // A quote and a backslash in a text stay inside their string.
    w->errorTable[kAlarmTavExtio].line1.set("say \"hi\\");
    const std::string b = json();
    EXPECT_TRUE(Contains(b, "{\"code\":" + std::to_string(kAlarmTavExtio) + ",")) << b;
    EXPECT_TRUE(Contains(b, "\"text\":[\"say \\\"hi\\\\\",")) << b;

    // Every alarm at once still fits.
    for (int code = 1; code < kAlarmCodes; code++)
        AddErrore(w.get(), code);
    EXPECT_EQ(json().back(), '}');
    char small[16];
    EXPECT_EQ(BuildStatusJson(w.get(), small, sizeof small), 0u);
}

} // namespace
