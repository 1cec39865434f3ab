// What a status reply does to the amplifier's state.
#pragma once

struct StatusReply;
struct Works;

// Applies a decoded status reply (`text` is the reply, for the log lines):
// finishes an alarm reset, follows the bypass the amplifier reports (and its
// pads after a communication failure), raises and clears the alarms of its
// bits, starts the temperature log, publishes the readings, sets the fan and
// switches the over-temperature protection. Runs in the link thread.
void ApplyStatusReply(Works* works, const StatusReply& st, const char* text);
// SWR from forward and reflected watts: 0 without power, else 1..100.
float SwrFromPowers(float pFwd, float pRefl);
