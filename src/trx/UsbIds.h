// USB identifiers of the maker's transceiver (its receiver and CAT interface):
// the one place that names them.
#pragma once

#include <cstdint>

constexpr uint16_t RX_VENDOR_ID = 0x16C0;
constexpr uint16_t RX_PID_TAV = 0x05DC;
// Earlier receivers of the same vendor, which stream in another format.
constexpr uint16_t RX_PID_S2 = 0x05DB;
constexpr uint16_t RX_PID_S1 = 0x05DA;
// The transceiver's USB sound interface (a C-Media audio adapter).
constexpr uint16_t AUDIO_VENDOR_ID = 0x0D8C;
constexpr uint16_t AUDIO_PID_TAV = 0x01AF;
