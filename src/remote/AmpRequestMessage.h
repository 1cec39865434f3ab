// The operator's unit asks the station for a change of its amplifier with an
// "AQ" message: a letter, and for an antenna its digit ("S" standby, "O"
// operate, "R" fault reset, "A1".."A3" antenna, "T" tune). The station queues
// it for its keys' thread (core/AmpRequests.h), which makes it under the keys'
// rules, as for a logger of its own; an older station logs "AQ" as a wrong
// message type and goes on.
#pragma once

#include "core/AmpRequests.h"

#include <cstddef>
#include <cstdint>

struct Works;

constexpr size_t kAmpRequestMessageMax = 2;

// The message of a request; its length, 0 for an antenna outside 1..3.
size_t BuildAmpRequestMessage(AmpAsk what, int value, char* out, size_t cap);
// A message into a request; false when it is none.
bool ParseAmpRequestMessage(const uint8_t* p, size_t n, AmpAsk* what, int* value);

// Operator's unit: sends the request; false without a session, or when it did
// not go out.
bool AskStationAmplifier(Works* works, AmpAsk what, int value);
// Station, on its session thread: queues the request for the keys' thread.
void StationAmpRequestReceived(Works* works, const uint8_t* p, size_t n);
