// The FT-817 CAT link: polls the radio's frequency for work mode 2, and the
// work-mode switch that starts and stops the transceiver threads.
#pragma once

#include "core/Shared.h"

#include <cstddef>
#include <cstdint>

struct Works;

extern Shared<int> catProcessStatus; // 1 decode, 2 receive, 3 send
extern Shared<int> lastCommandSent;  // 3 while a query waits for its answer
extern Shared<int> counterimeoutCAT; // ms waited for the answer

// The thread body.
void CatSerial(Works* works);
// Writes every byte (bounded wait); clears the answer time-out count.
int writeSerialCatPort(int fd, const uint8_t* bytes, size_t length, Works* works);
// Decodes one 5-byte answer into the FT-817 source's frequency and catMode.
void DecodeCatSerialCmd(Works* works, const uint8_t* answer, int length);
// Non-zero when either nibble of the byte is not a decimal digit.
int VerifyByteFreq(uint8_t byte);
// Brings the transceiver threads in line with ModeWorkIdx and tells the amplifier.
void SetModeWorkIDX(Works* works);
