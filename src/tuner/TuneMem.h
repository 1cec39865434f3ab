// The tuner memory: tuner words stored per antenna and frequency.
#pragma once

struct Works;

// Loads the stored tuner word of `antenna` for freqHz into tunerWord.
void LoadTuneFromMEM(Works* works, int antenna);

// On a frequency change: applies the antenna row of the frequency (antenna,
// tuner, amplifier, attenuator).
void GestioneAntennaAutomatica(Works* works);
