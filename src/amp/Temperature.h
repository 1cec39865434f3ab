// Heat-sink temperatures, the fan, the over-temperature protection, the
// temperature log, and the small conversions the screens use.
#pragma once

#include <cstdint>
#include <string>

struct AmpReadings;
struct Works;

// Degrees Celsius of a raw thermistor reading (limited to -10..80).
float CalcolaTemp(uint16_t reading);
// Loads /opt/set/ventola.txt into the fan table (empty when missing).
void ReadVentolaFile(Works* works);
// Chooses the fan level for the hotter heat sink; commands it when it changes.
void searchPercentVentola(Works* works);
// Temperature of the first fan row with `level`, 0.0 when none.
float SearchTemperatureFromVentola(Works* works, int level);
// mode -1 deletes the temperature log, 0 appends a sample of the readings now,
// 1 a protection sample (through the storage thread, which writes them between
// the remounts).
void LogTempFunction(Works* works, int mode);
// The same, with a sample of `r`.
void LogTempFunction(Works* works, int mode, const AmpReadings& r);
// The log's line of a sample (mode 0) or of the protection (1).
std::string TempLogLine(Works* works, int mode, const AmpReadings& r);
// Supply voltage of a converter reading.
double CalvTensVadcAmp(Works* works, uint8_t adc);
float ConversionCelsius_to_Fahrenheit(float c);
// The board temperature: the kernel's sensor, else the my_temp command, which
// the storage thread runs and whose two values it stores.
void ReadCPUTemp(Works* works);
// Runs my_temp and stores its two values (on the storage thread).
void RunMyTemp(Works* works);
// Refreshes dateText once a second.
void ReadDataOra(Works* works);
// Number of C-Media USB audio devices present (runs lsusb: the storage
// thread's probe, ui/RemoteChecks.h).
int Get_AudioTAV(Works* works);
