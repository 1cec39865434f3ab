// Messages to a connected remote unit: tagged binary WebSocket frames.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

// Short messages: 0x82, n + 2, the tag, the payload (n <= 123).
constexpr size_t kShortMax = 123;
void sendWebSockStatusFrame(Works* works, const char* payload, size_t n);
void sendWebSockSerParFrame(Works* works, const uint8_t* payload, size_t n);
void sendWebSockCatFrame(Works* works, const char* payload, size_t n);
// The station's alarm message ("AS"), short or with a 16-bit length as it needs.
void sendWebSockAlarmFrame(Works* works, const char* payload, size_t n);
// The operator's alarm reset ("AR", no payload); false when it did not go out.
bool sendWebSockResetFrame(Works* works);
// One audio block of audioMultiplier stereo frames as an "SO" message: the raw
// samples, or one Opus packet when compression is on.
void sendWebSockAudioFrame(Works* works, const int16_t* block);
// The spectrum trace in fragments of 512 bytes.
void sendWebSockSerSpectrFrame(Works* works, const uint8_t* trace, size_t length);
// The operator's change of the station's amplifier ("AQ", a short text:
// remote/AmpRequestMessage.h); false when it did not go out.
bool sendWebSockAmpRequestFrame(Works* works, const char* payload, size_t n);
// The station's transmit time limit ("TL", remote/TxLimit.h); false when it did not go out.
bool sendWebSockTxLimitFrame(Works* works, const char* payload, size_t n);

// Frame builders (exposed for tests); return the frame length, 0 when refused.
size_t BuildShortFrame(const char tag[2], const uint8_t* payload, size_t n, uint8_t* out,
                       size_t outSize);
// A tagged binary frame: short up to 123 bytes of payload, else with a 16-bit length.
constexpr size_t kTaggedFrameMax = 2048;
size_t BuildTaggedFrame(const char tag[2], const uint8_t* payload, size_t n, uint8_t* out,
                        size_t outSize);
constexpr size_t kFragmentData = 512;
constexpr size_t kFragmentFrame = 526;
size_t BuildFragment(const char tag[2], const uint8_t* data, size_t total, size_t offset,
                     uint8_t* out);
// 0x82, 0x7E, payload + 6, "SO", the payload's length (4), the payload.
size_t BuildAudioFrame(const uint8_t* payload, size_t n, uint8_t* out, size_t outSize);
