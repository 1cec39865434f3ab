// Any change to the shared record, for a thread that waits while nothing changes.
//
// Every write to a shared value that changes it counts here (the field types in
// core/Shared.h call ChangesNote), as do the writers of what those types do not
// hold (locked tables, the picture outside a tick). The refresh thread, on a page
// that did not change in its last tick, waits for the next count instead of its
// 10 ms, so a still page costs no wake-ups while a change is drawn by the next
// tick after it, as it would be at the steady rhythm.
#pragma once

#include <cstdint>

// One more change; wakes the waiter, if one waits.
void ChangesNote();
// The count now, to wait from.
uint32_t ChangesSeen();
// Waits until the count differs from `seen`, at most `programMs` of program time
// (a manual clock moves by the whole wait, as a sleep does). True when a change
// ended the wait.
bool ChangesWait(uint32_t seen, int programMs);
