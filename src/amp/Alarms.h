// The alarm list: codes 0..20 raised by the parts that detect a fault and
// removed when it ends or by the operator's reset key.
#pragma once

struct Works;

// Raises an alarm (not before the amplifier's first "CP" reply, not twice).
void AddErrore(Works* works, int code);
// Removes an alarm; an absent code changes nothing.
void DeleteErrore(Works* works, int code);
// 1 when the code is active, else 0.
int ExistError(Works* works, int code);
// The oldest active code, or -1.
int ExistAnError(Works* works);
// Copies the active codes, oldest first, into `codes` (up to `max`); returns the count.
int SnapshotErrors(Works* works, int* codes, int max);
