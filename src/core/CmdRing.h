// The amplifier command ring: how every thread asks the link for an amplifier
// command.
//
// Any thread queues a command number; only the link thread takes numbers out
// and writes the command text to the port. A command number is also the link
// state that sends it. The ring's lock also covers its drain request (the link
// sends everything queued before it polls again) and the alarm reset's phase,
// which move with what is queued.
#pragma once

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
// Asks the link to send everything queued before its next poll; with
// `resetPhase` the alarm reset is in its first phase until the queue is empty.
void CmdQueueStartDrain(Works* works, bool resetPhase);
// For the link while it drains: the oldest command, or -1 once everything
// queued before the drain request has been taken, which ends the drain (and
// moves an alarm reset from phase 1 to 2).
int CmdQueueTakeDraining(Works* works);
// True once, when the alarm reset reached phase 2: the phase goes back to 0.
bool CmdQueueResetPhaseDone(Works* works);
