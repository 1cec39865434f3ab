// Decoding the amplifier's replies, and the status record sent to a remote unit.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

// What a reply was, for the link loop to choose what follows.
enum class ReplyKind {
    Status, // the status reply: readings, alarms, fan and protection applied
    Other,  // any other reply the amplifier accepted, applied
    Failed, // rejected by the amplifier, unknown or too short: nothing applied
};

// Decodes one reply (without its ';', NUL-terminated; `length` counts the NUL)
// and applies it to the shared record. Never sleeps, never chooses the link's
// next state.
ReplyKind DecodeCatCmd(Works* works, const char* reply, int length);
// Value of a hex digit, or -1.
int charToInt(char c);

// The fields of a status reply as the amplifier sends them.
struct StatusReply {
    uint8_t ampStatus1 = 0, ampStatus2 = 0; // one hex digit each
    int in = 0, fwd = 0, refl = 0;          // power readings, four decimal digits each
    int current = 0;                        // drain current reading
    int temp1 = 0, temp2 = 0;               // thermistor readings
    uint8_t ampFault = 0;                   // low nibble first on the wire
    int peak = 0;                           // peak forward power reading
    bool operator==(const StatusReply&) const = default;
};
// The fields of a status reply (its text without ';', `len` characters). A
// position past the end reads as NUL; a hex digit that is none gives -1 (all
// bits set), a decimal field that is no number 0.
StatusReply ParseStatusReply(const char* reply, int len);
// The reply's text of `st` (36 characters and a NUL for readings of 0..9999;
// `cap` at least 37): the amplifier's side of the exchange; its length.
size_t FormatStatusReply(const StatusReply& st, char* out, size_t cap);

constexpr int kStatusRecordSize = 53; // 52 characters and the NUL
constexpr int kStatusRecordSent = 44; // the part streamed to a remote unit
// Fills the status record of the current state.
void CreaBufferDiStato(Works* works, char* buffer);
// The record's band: the first 4 characters of the band of the current
// frequency, blank-padded; "----" when no band holds it. `out` holds 5 bytes.
void StatusBandText(Works* works, char* out);
