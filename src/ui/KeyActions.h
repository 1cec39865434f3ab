// What the six keys do on each key page.
#pragma once

#include "core/AmpRequests.h"

struct Works;

// Acts on key 1..6; `longBits` is 0 for a short press (on release) or the key's
// long-press bit. Returns non-zero when the action repeats while the key is held.
int DecodeTasto(Works* works, int key, int longBits);
// Makes a change a logger or the operator's unit asked for as the keys make
// it (the attenuator key's standby and operate, the reset key, the antenna
// key, the tune key where it starts a search), under the same rules; logs it,
// or its refusal. The keys' thread runs it.
AmpVerdict ApplyAmpRequest(Works* works, const AmpRequest& request);
