// The amplifier's serial port and the link's side of the command ring.
#pragma once

#include "core/CmdRing.h"

#include <cstddef>

struct Works;

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
