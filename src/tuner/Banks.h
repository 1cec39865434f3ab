// The antenna bank tables: per band, the antenna, tuner, attenuator and amplifier
// settings of a memory bank, and the work mode the bank uses. Twenty banks, each
// one table file plus three tuner memory files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

struct Works;

// The current bank (NumBanco, its antenna rows, its work mode and the
// transceiver links that mode runs, its three tuner memories) is loaded, edited
// and saved by the keys, the remote link and start-up, read by the refresh
// tick and stored into by the link thread at the end of a search: every one of
// these does it under this lock, so a table is never seen half loaded and a
// bank change never mixes two banks. It may be held while files are read or
// written; the picture lock is taken before it, never after.
std::recursive_mutex& BankMutex();
using BankLock = std::lock_guard<std::recursive_mutex>;

constexpr int kBankCount = 20;

// Name of the first row of the current table whose range holds freqHz; leaves
// `name` unchanged and returns false when none does.
bool BandNameOfFreq(Works* works, char* name, size_t size);

// The table file of a bank: "/opt/set/antenna.txt", "/opt/set/antenna_b<N>.txt".
std::string BankFileName(int bank);

// Loads a bank's table; returns the work mode of its marker (0 without one).
int LoadTabConfig(Works* works, int bank);
// Writes the table with the marker of ModeWorkIdx.
void SaveTabConfig(Works* works, int bank);
// The default bands; namesOnly keeps the settings already in the rows.
void InitTabAntenna(Works* works, int namesOnly);
// Copies the live antenna, tuner, attenuator and amplifier state into the row
// of freqHz and saves the table.
void SaveToBank(Works* works, int bank, int antenna);
// The same with the tuner's bypass as the caller chose it (the key that turns
// the bypass on or off saves before the link thread has changed it).
void SaveToBankWithBypass(Works* works, int bank, int antenna, uint8_t bypass);
// Loads a whole bank (table and the three tuner memories) and applies its mode.
void LoadAllBankTable(Works* works, int bank);
// The next bank.
void ChangeBanco(Works* works);
// The next work mode of the current bank.
void ChangeInterfaceBanco(Works* works);
// Changes the selected cell of the table page by one step.
void ModifytabAntenna(Works* works, int down);
// Deletes one file of a bank: kind 0..2 tuner memory of antenna 1..3, 3 the table.
void DeleteFileConf(Works* works, int bank, int kind);

// The bank sequences of the key pages.
void CopyBank(Works* works, int origin, int dest);
// Deletes a bank's files, or every bank's when `bank` is MAXbank, and reloads.
void ResetBank(Works* works, int bank);
// Deletes the files of all 20 banks (factory reset).
void DeleteAllBanks(Works* works);
