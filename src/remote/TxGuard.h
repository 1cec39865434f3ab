// The station's transmitter when a remote session ends.
//
// An operator whose link drops while transmitting cannot say "receive" any
// more, so the station says it: when a session ends while the amplifier reports
// transmit, while forward power is above 1 W, or within 5 s after a transmit
// command relayed to the CAT port, "RX;" goes to the transceiver's CAT port (if
// the relay holds it) and the receive request to its serial link. Once forward
// power is below 1 W the amplifier goes to standby; never under power, where
// the bypass relays would switch hot. A local key, or the next operator,
// returns it to operate.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

constexpr float kTxGuardPowerW = 1.0f;
constexpr int kTxGuardCatMs = 5000;     // a relayed transmit command counts this long
constexpr int kTxGuardRfWaitMs = 10000; // for the power to fall before standby

// True when the text holds a transmit command: "TX;" or "TX" and one digit and
// ';', at the start or after another command's ';'.
bool HasTransmitCommand(const uint8_t* text, size_t n);
// Notes a transmit command ("TX;", "TX0;" ... "TX2;") in relayed CAT text.
void TxGuardCatText(Works* works, const uint8_t* text, size_t n);
// Called by the server's session thread once the session is closed.
void RemoteSessionEnded(Works* works);
// The guard's way back to receive: "RX;" on the relay's CAT port, the receive
// request on the transceiver's link, then standby once forward power is below
// 1 W (waiting up to kTxGuardRfWaitMs; never under power). Waits: run it on a
// thread that may (the session's after its end, or the guard's job).
void TxGuardReturnToReceive(Works* works);
