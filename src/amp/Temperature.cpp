// Temperatures, fan, protection and the temperature log.
#include "amp/Temperature.h"

#include "core/CmdRing.h"
#include "core/Setup.h"
#include "core/Storage.h"
#include "core/TableFields.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// 10 kOhm NTC: (degrees C, kOhm), rising temperature.
const float K_T_R[34][2] = {
    {-40, 347.808f}, {-35, 248.591f}, {-30, 179.973f}, {-25, 131.832f}, {-20, 97.679f},
    {-15, 73.119f},  {-10, 55.301f},  {-5, 42.257f},   {0, 32.582f},    {5, 25.324f},
    {10, 19.847f},   {15, 15.679f},   {20, 12.478f},   {25, 10.000f},   {30, 8.068f},
    {35, 6.552f},    {40, 5.353f},    {45, 4.399f},    {50, 3.635f},    {55, 3.020f},
    {60, 2.521f},    {65, 2.115f},    {70, 1.783f},    {75, 1.510f},    {80, 1.284f},
    {85, 1.096f},    {90, 0.939f},    {95, 0.808f},    {100, 0.698f},   {105, 0.605f},
    {110, 0.527f},   {115, 0.460f},   {120, 0.403f},   {125, 0.354f}};

constexpr float kTempMin = -10.0f;
constexpr float kTempMax = 80.0f;
constexpr const char* kLogPath = "/opt/set/LOGtemp.txt";
constexpr int kFanLevelMax = 999;

} // namespace

float CalcolaTemp(uint16_t reading) {
    // An open sensor (4095) divides by zero: infinite resistance, the coldest end.
    const float r = reading >= 4095 ? 1e30f : reading * 10.0f / (4095 - reading);
    float t = K_T_R[33][0];
    for (int i = 0; i < 34; i++) {
        if (K_T_R[i][1] < r) {
            if (i == 0) {
                t = K_T_R[0][0];
            } else {
                const float t0 = K_T_R[i - 1][0], r0 = K_T_R[i - 1][1];
                const float t1 = K_T_R[i][0], r1 = K_T_R[i][1];
                t = t0 + (t1 - t0) * (r - r0) / (r1 - r0);
            }
            break;
        }
    }
    if (t < kTempMin)
        t = kTempMin;
    if (t > kTempMax)
        t = kTempMax;
    return t;
}

void ReadVentolaFile(Works* w) {
    FILE* f = std::fopen(plat_path("/opt/set/ventola.txt").c_str(), "r");
    if (!f) {
        LogOut("Ventola File not FOUND!!");
        LogErr("can't open /opt/set/ventola.txt");
        return;
    }
    char line[256];
    const int count = CountDataLines(f);
    LogOut("N row Ventola File %d \n", count);
    LogOut("Setup3 \n");
    // Built once at start-up and kept for the life of the process.
    auto* rows = static_cast<FanRow*>(std::calloc(count > 0 ? count : 1, sizeof(FanRow)));
    if (!rows) {
        std::fclose(f);
        LogErr("can't allocate the fan table");
        return;
    }
    std::rewind(f);
    int n = 0;
    while (n < count && NextDataLine(f, line, sizeof line)) {
        // A refused number leaves its field at 0, as one that does not parse.
        TableCursor in{line, "ventola.txt", n + 1};
        TableFloat(&in, "temperature", -kTableFloatMax, kTableFloatMax, &rows[n].temp);
        // The level goes out as the three digits of "FN1%03d;".
        TableTruncated(&in, "fan level", 0, kFanLevelMax, &rows[n].level);
        LogOut("->t:%.02f: %d \n", rows[n].temp, rows[n].level);
        n++;
    }
    std::fclose(f);
    w->fanTable = rows;
    w->fanCount = n;
}

float SearchTemperatureFromVentola(Works* w, int level) {
    for (int i = 0; i < w->fanCount; i++)
        if (w->fanTable[i].level == level)
            return w->fanTable[i].temp;
    return 0.0f;
}

void searchPercentVentola(Works* w) {
    const int count = w->fanCount;
    if (count <= 0)
        return;
    const FanRow* rows = w->fanTable;
    const float t = AmpReadingsNow(w).hotter();
    int wanted = rows[0].level;
    for (int i = 0; i + 1 < count; i++) {
        if (rows[i].temp <= t && t < rows[i + 1].temp) {
            wanted = rows[i].level;
            break;
        }
    }
    w->fanWanted = wanted;
    if (wanted == w->fanLevel)
        return;
    if (wanted < w->fanLevel) {
        const float tc = SearchTemperatureFromVentola(w, w->fanLevel);
        if (tc - static_cast<float>(w->settings.hysteresis2.load()) <= t)
            return;
    }
    IncPNTIn_CMDLinear(kCmdFan, w);
    w->fanLevel = wanted;
    LogOut("---> VENTOLA: %d (%02.02f\xC2\xB0" "C)\n", wanted, t);
}

std::string TempLogLine(Works* w, int mode, const AmpReadings& r) {
    char date[81];
    w->dateText.copyTo(date, sizeof date);
    char line[256];
    std::snprintf(line, sizeof line, "%s%s%04.01f,%04.01f,%02.01fW,%03.02f,%04.01fV,%04.01fA%s", date,
                  r.transmitting() ? " , 1," : " , 0,", r.temp1, r.temp2, r.pwrFwd, r.swr,
                  CalvTensVadcAmp(w, w->supplyAdc[3]), r.amps(), mode == 1 ? " -> protezione attiva\n" : "\n");
    return line;
}

void LogTempFunction(Works* w, int mode) { LogTempFunction(w, mode, AmpReadingsNow(w)); }

void LogTempFunction(Works* w, int mode, const AmpReadings& r) {
    // The storage thread writes them between the remounts.
    if (mode == -1) {
        char cmd[64];
        std::snprintf(cmd, sizeof cmd, "rm %s", kLogPath);
        StorageRemove(kLogPath, cmd);
        return;
    }
    StorageAppend(kLogPath, TempLogLine(w, mode, r), ";TX,Temp1,Temp2,FDD,SWR\n", [](int err) {
        if (err != 0)
            LogErr("can't open %s for appending", kLogPath);
    });
}

double CalvTensVadcAmp(Works* w, uint8_t adc) {
    const double k = HighPowerModel(w) ? 348.0 : 118.0;
    return adc * 3.3 * k / 255.0 / 18.0;
}

float ConversionCelsius_to_Fahrenheit(float c) { return c * 9 / 5 + 32; }

void ReadCPUTemp(Works* w) {
    // The SoC's sensor as the kernel offers it on every Pi, in millidegrees: the
    // same reading my_temp prints (CPU and GPU share the die), without a process.
    if (FILE* f = std::fopen(plat_path("/sys/class/thermal/thermal_zone0/temp").c_str(), "r")) {
        long milli = 0;
        const bool read = std::fscanf(f, "%ld", &milli) == 1;
        std::fclose(f);
        if (read) {
            w->cpuTemp[0] = static_cast<float>(milli) / 1000.0f;
            w->cpuTemp[1] = static_cast<float>(milli) / 1000.0f;
            return;
        }
    }
    // The command runs on the storage thread; its values reach cpuTemp there,
    // where the screens read them.
    StorageJob("my_temp", [w] { RunMyTemp(w); });
}

void RunMyTemp(Works* w) {
    FILE* p = plat_popen("my_temp", "r");
    if (!p) {
        // The board temperature is only shown; the amplifier must keep running.
        LogErr("can't run my_temp, board temperature not read");
        return;
    }
    char line[32];
    int n = 0;
    while (std::fgets(line, sizeof line, p)) {
        if (n == 0) {
            w->cpuTemp[0] = static_cast<float>(std::atof(line));
        } else if (n == 1 && std::strlen(line) > 5) {
            char part[5] = {};
            std::memcpy(part, line + 5, 4);
            w->cpuTemp[1] = static_cast<float>(std::atof(part));
        }
        n++;
    }
    plat_pclose(p);
}

void ReadDataOra(Works* w) {
    static Shared<long> lastSecond;
    const time_t now = static_cast<time_t>(plat_wall_time());
    if (static_cast<long>(now) == lastSecond)
        return;
    lastSecond = static_cast<long>(now);
    tm local{};
    localtime_r(&now, &local);
    char text[80];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    w->dateText.set(text);
}

int Get_AudioTAV(Works*) {
    FILE* p = plat_popen("lsusb | grep 0d8c", "r");
    if (!p) {
        LogOut("Error opening pipe.\n");
        return 0;
    }
    char line[256];
    int count = 0;
    while (std::fgets(line, sizeof line, p)) {
        LogOut("----------------- %s\n", line);
        count++;
    }
    if (plat_pclose(p) == -1) {
        LogOut(" Error!\n");
        return 0;
    }
    return count;
}
