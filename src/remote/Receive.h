// What a remote unit does with the messages it receives, on the session thread
// of either end: the server (the amplifier's unit) and the client (the
// operator's unit) share the message set and differ in what they accept.
#pragma once

#include "wire/Frames.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct Works;

constexpr size_t kSpectrumMax = 1706; // the largest spectrum a peer sends (1600 mode)
constexpr size_t kStatusTextMax = 200;

// The state of one session thread, kept from session to session.
struct RemoteSession {
    WsRole role = WsRole::Server;
    int isFirst = 0; // server: 1 until the access code has been handled, then 2
    uint8_t spectrum[kSpectrumMax]{};
    std::unique_ptr<uint8_t[]> screen; // a screen being reassembled, the panel's size
    char statusText[kStatusTextMax + 1]{}; // the last "ST" payload
};

enum class Dispatch { Continue, End };

// Acts on one frame (the server's first frame is the access code, which it
// checks here). End: the session is over.
Dispatch RemoteReceive(Works* works, RemoteSession* session, const WsFrame& frame);

// Runs the status-channel commands of a status text ("KAVOBANK", "KAVOFT01;" ...);
// text that matches none, as every status record, changes nothing.
void dispStat(Works* works, const char* text);

// Compares a received access code with the expected one in time that does not
// depend on where they differ.
bool AccessCodeMatches(const char* expected, const uint8_t* received, size_t n);

// The reassembly of one fragment ("SP" or "FB") into `buffer` of `capacity`
// bytes: the data copied (at most 512 bytes, never past the total or the
// buffer). Complete is set when this fragment ends the message.
struct Fragment {
    uint32_t total = 0;
    uint32_t offset = 0;
    bool complete = false;
};
bool TakeFragment(const WsFrame& frame, uint8_t* buffer, size_t capacity, Fragment* out);
