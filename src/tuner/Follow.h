// The refresh tick's frequency following and its supervision of tune on
// transmit (called once a tick, before the page is drawn).
#pragma once

struct Works;

// The frequency from the bank's source; on a change the frequency, filter and
// thresholds are queued and the bank's row applied; with the transceiver's
// link, its transmit state, the antenna relay state and tune on transmit.
void FollowFrequency(Works* works);
