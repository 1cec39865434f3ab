// The unit's access code for the remote link, kept in /opt/set/remote.txt as
// one line "Code: XXXXXXXXXXXX".
//
// Each unit draws its own code the first time it starts; the operator reads it
// on the status page and types it into the other unit's menu. The code is a
// secret: the file is mode 0600 and no log line carries it.
#pragma once

#include <string>

struct Works;

constexpr const char* kRemoteCodePath = "/opt/set/remote.txt";
constexpr int kRemoteCodeLength = 12;
// 32 symbols, so that a random byte's low five bits pick one evenly; no I, O,
// 0 or 1, which are read one for the other.
constexpr char kRemoteCodeSymbols[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
constexpr int kRemoteCodeSymbolCount = 32;

// True for exactly twelve symbols of the set.
bool RemoteCodeValid(const char* code);
// The symbol `steps` places after `c` in the set, wrapping (negative: before);
// a character outside the set counts as the first symbol.
char RemoteCodeSymbolAfter(char c, int steps);
// A new random code; empty (and logged) when the random source fails.
std::string RemoteCodeDraw();

// At start-up and after a factory default: the code of the file into
// remotePassword. A missing file, or one whose line is not a valid code, is
// replaced by a new code (logged); a valid file of another mode is made 0600.
// False when no code could be drawn or the file could not be written (a drawn
// code is still used until the next start).
bool LoadRemoteCode(Works* works);
// Writes `code` to the file (mode 0600) and makes it remotePassword once the
// file holds it (the storage thread writes it when it runs: true once queued);
// an invalid code, or a failed write, leaves both as they were and returns false.
bool SaveRemoteCode(Works* works, const char* code);
// Draws a new code and saves it: the menu's service action.
bool NewRemoteCode(Works* works);
