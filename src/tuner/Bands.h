// Band rows of config.txt (meter calibration, protection thresholds) and the
// low-pass filters of filter.txt, chosen by the operating frequency.
#pragma once

struct Works;

// Loads /opt/set/config.txt into the band table (empty when missing).
void ReadConfigFile(Works* works);
// Loads /opt/set/filter.txt into the eight filter rows.
void LoadTabFiltri(Works* works);
// Selects the filter of freqHz; queues the filter command when it changes.
void SetFilterFromfreq(Works* works);
// Selects the threshold row of freqHz; queues the thresholds when it changes.
void SearchCambioSoglie_TS(Works* works);
// Calibration constant of the row of freqHz: 0 forward, 1 reflected, 2 input,
// 3 directivity correction; built-in values without a band table.
float SearchK(Works* works, int which);
// on == 1: protection mode on and both attenuator pads in; else protection off.
void AttivaDisattivaProtezione(Works* works, int on);
// The search's thresholds: the input-power trip off while it tunes (queued),
// and the band's row wanted again once it has ended.
void ThresholdsForTune(Works* works);
void ThresholdsAfterTune(Works* works);
// The four thresholds as one set, for the command that sends them.
void ReadThresholds(Works* works, int out[4]);
