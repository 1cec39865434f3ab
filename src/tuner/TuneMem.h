// The tuner memory: tuner settings stored per antenna output and frequency
// index, kept per bank in files, recalled when the frequency changes.
#pragma once

#include "core/Works.h"

#include <string>

// Frequency index of `freq` and its segment: [segStart, segEnd) Hz, indices
// [firstIdx, endIdx).
int AtuIdxSearch(int64_t freq, int64_t* segStart, int64_t* segEnd, int* firstIdx, int* endIdx);
// First frequency of an index.
int64_t AtuFreqfromIdx(int index);

void SaveTuneValsuTabRam(Works* works, const TuneMemEntry& entry, int index, int antenna);
// The stored entry (a stored mode 3 reads as 1); an empty one outside 0..4999.
TuneMemEntry LoadTuneValFromTabRam(Works* works, int index, int antenna);
// Nearest valid index of the segment, the lower on a tie; -1 when none.
int SearchBestTune(Works* works, int index, int firstIdx, int endIdx, int antenna);
// 0 when a value is stored for the index or anywhere in its segment, else 1.
int EsisteTuneValInTabRam(Works* works, int index, int firstIdx, int endIdx, int antenna);

// Loads the stored setting of `antenna` for freqHz into the tuner word.
void LoadTuneFromMEM(Works* works, int antenna);
// Stores the current setting for freqHz and rewrites the bank's file.
void InsertTuneToMem(Works* works, int bank, int antenna);
// The tuner memory file of a bank and antenna (0..2).
std::string TuneMemFileName(int bank, int antenna);
void LoadTabAtu(Works* works, int bank, int antenna);
void SaveTabAtu(Works* works, int bank, int antenna);

// Queues the recall of the stored setting, or the neutral (absentAction) or
// bypass word when nothing is stored near the frequency.
void GestioneLoadTuneVal(Works* works, int absentAction);
// On a frequency change: applies the antenna row of the frequency.
void GestioneAntennaAutomatica(Works* works);
