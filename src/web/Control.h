// What a console's browser asks for, and the six keys it holds.
//
// A browser sends short JSON texts: {"key":N,"down":true} and
// {"key":N,"down":false} (N 1..6) for a key pressed and released,
// {"take":true} to take control when nobody has it, {"ack":true} to acknowledge
// the transmit time limit's notice (as the reset key does), {"listen":true|"opus"|false}
// for the station's audio (as PCM or Opus) and {"talk":true|false} while the
// operator holds "talk". Only the controller's keys
// count. They are held for the key thread, which reads them with the panel's
// own lines and so debounces them and times long presses as its own: a tap
// shorter than the debounce is held kWebTapMs so that it is never lost.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kWebTapMs = 100;
constexpr size_t kWebAskBytes = 64; // longer texts are not asks

enum class WebAsk { None, KeyDown, KeyUp, Take, Listen, Talk, Ack };

// What a text message asks; `arg` is the key for the key asks, 1 or 0 for
// talk, and for listen 0 (off), 1 (PCM) or 2 (Opus). None for anything else, which the caller logs and drops.
WebAsk WebParseAsk(const char* text, size_t n, int* arg);

struct WebKeys {
    uint8_t held = 0;          // bit k-1: key k, as the key thread sees it
    int64_t downMs[6] = {};    // when each was pressed
    int64_t releaseMs[6] = {}; // a release waiting for its tap's end, 0: none
};

void WebKeyDown(WebKeys* keys, int key, int64_t nowMs);
void WebKeyUp(WebKeys* keys, int key, int64_t nowMs);
// Carries out the releases that are due; true when `held` changed.
bool WebKeysDue(WebKeys* keys, int64_t nowMs);
// Everything released at once (the controller left).
void WebKeysClear(WebKeys* keys);
