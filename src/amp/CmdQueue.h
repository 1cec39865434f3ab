// The amplifier command queue and the amplifier's serial port.
//
// Any thread asks for an amplifier action by queueing its command number; only
// the link thread takes numbers out and writes the command text to the port.
// A command number is also the link state that sends it.
#pragma once

#include <cstddef>

struct Works;

// Link states / command numbers.
enum LinearState {
    kCmdVersion = 0,      // "VSM;"
    kCmdStatus = 1,       // "ST;"
    kStateWait = 2,       // waiting for a reply
    kStateDecode = 3,     // decoding a reply
    kCmdAntenna = 7,      // "SA%d;"
    kCmdFreqMeter = 8,    // "FM;"
    kCmdFreq = 9,         // "FA%011lu;"
    kCmdTuneQuery = 10,   // "MT;"
    kCmdTuneWord = 11,    // "MT1%08X;"
    kCmdFreqSens = 12,    // "FS%01d%04d;"
    kCmdClearProt = 13,   // "CPFFFF;"
    kCmdAtt = 14,         // "ATxx;" from attenuator
    kCmdAttTune = 15,     // "ATxx;" from attenuatorTune
    kCmdAttBoth = 16,     // "AT11;"
    kCmdProtOff = 17,     // "MP0;"
    kCmdProtOn = 18,      // "MP1;"
    kCmdBypassOff = 19,   // "AB0;"
    kCmdBypassOn = 20,    // "AB1;"
    kCmdAn = 21,          // "AN%d;"
    kCmdThresholds = 22,  // "TS%04d%04d%04d%04d;"
    kCmdFan = 23,         // "FN1%03d;"
    kCmdProtParams = 24,  // "PS%04d%04d%04d%04d;"
    kCmdTuneFromMem = 27, // "MT1%08X;" after loading the stored word
    kCmdFilter = 28,      // "SF30000%02x;"
    kCmdFwUpdate = 30,    // "MR1;"
    kStateParked = 31,    // after "MR1;": nothing more is sent
    kCmdResetQuery = 32,  // "MR0;"
    kCmdGeneric = 33,     // "GM%04d%04d;"
    kCmdGsRead = 34,      // "GS;"
    kCmdGsWrite = 35,     // "GS%s;"
    kCmdEe0 = 36,         // "ER0000;"
    kCmdEe1 = 37,         // "ER0001;"
    kCmdEe2 = 38,         // "ER0002;"
    kCmdTunerBypass = 39, // "MT1%08X;" with the bypass bit
    kCmdTunerReset = 40,  // "MT1%08X;" of the reset word
};

// Queues a command; returns `cmd`, or -1 when the queue already holds 29
// commands (the command is dropped and logged).
int IncPNTIn_CMDLinear(int cmd, Works* works);
// True when no command waits.
bool CmdQueueEmpty(Works* works);
// Takes the oldest waiting command (clearing its slot); -1 when none waits.
int CmdQueueTake(Works* works);
// After every reply but the status reply: the next link state.
void NextCmdPriority(Works* works, int defaultState);
// Records the letters of the command being sent and the state that repeats it.
void LastCmdSent(Works* works, char letter1, char letter2, int state);
// Writes all of `text`; gives up (returns -1, logged) when the port stays
// unwritable for a second or the program ends. Clears the reply time-out count.
int writeLinearPort(int fd, const char* text, size_t length, Works* works);
// Opens and configures the amplifier port of the setup file; the descriptor, or
// -1 after reporting the device error.
int OpenLinear(Works* works);
// Sends the attenuator command for `value` (0..3) and waits for its reply.
void SetAttenuatorCMD(Works* works, int value, int state);
// Queues the amplifier's start-up commands.
void InitMicroCmd(Works* works);
// The "ATxy;" text of an attenuator value (bit 1 the 3 dB pad, bit 0 the 2 dB pad).
const char* AttenuatorText(int value);
