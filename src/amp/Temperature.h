// Heat-sink temperatures, the fan, the over-temperature protection, the
// temperature log, and the small conversions the screens use.
#pragma once

#include <cstdint>

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
// 1 a protection sample.
void LogTempFunction(Works* works, int mode);
// The same, with a sample of `r`.
void LogTempFunction(Works* works, int mode, const AmpReadings& r);
// Supply voltage of a converter reading.
double CalvTensVadcAmp(Works* works, uint8_t adc);
float ConversionCelsius_to_Fahrenheit(float c);
// Runs the board temperature command and stores its two values.
void ReadCPUTemp(Works* works);
// Refreshes dateText once a second.
void ReadDataOra(Works* works);
// Number of C-Media USB audio devices present.
int Get_AudioTAV(Works* works);
