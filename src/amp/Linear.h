// The amplifier link thread: one command outstanding at a time, replies waited
// for against a deadline, failed exchanges retried and then given up.
#pragma once

#include "amp/Decoder.h"
#include "core/Shared.h"
#include "platform/SerialPort.h"

#include <cstddef>

struct Works;

extern QuietShared<int> linearProcessStatus; // current link state (command numbers, 2 wait, 3 decode)
extern QuietShared<int> counterrortimeout; // ms waited for the current reply

constexpr int kReplyTimeoutMs = 1500;
constexpr size_t kReplyBufferSize = 500;

// The reply being collected. The decoder takes it without its ';' (a NUL in its
// place), `len` counting that NUL.
using LinearReply = TextFramer<kReplyBufferSize>;
// Takes one byte from the port; true when it completed a reply.
bool LinearReplyByte(LinearReply* reply, char c);

// The thread body.
void Linear(Works* works);
// After a decoded reply: the next state (the failed command again or given up;
// after a status reply the oldest queued command or "FM;", or the tuner's next
// step and word while it searches; else a drained command or "ST;"), then the
// pause that paces the exchange (10 ms after a status reply, else 20 ms).
void LinearAfterReply(Works* works, ReplyKind kind);
// A failed exchange: retry the command, or after four attempts give it up,
// raise the communication warning and fall back to the status poll.
void GestRetrayCMD(Works* works);
// Formats, sends and applies the side effects of the command of `state`, then
// sets the next state (normally the wait). Used by the thread; exposed for tests.
void SendLinearCommand(Works* works, int state);
