// What the six keys do on each key page.
#pragma once

struct Works;

// Acts on key 1..6; `longBits` is 0 for a short press (on release) or the key's
// long-press bit. Returns non-zero when the action repeats while the key is held.
int DecodeTasto(Works* works, int key, int longBits);
