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

// The texts and flags of the 21 alarm codes (start-up).
void InitErrorTable(Works* works);

// The reset key of the alarm keys: 1 when it handled the press.
int GPIO_Errori(Works* works);
void GestErrore(Works* works);
void GestErroreRemote(Works* works);
void GestErroreSerial(Works* works);
void ResetBiasCmd(Works* works);
void ClearDisplayError(Works* works);
// Removes every temporary warning (flag bit 2).
void VerifyWarningTemporanei(Works* works);
// Removes every active alarm after a protection reset.
void VerifyWarningTemporaneiDopoResetBias(Works* works);
void VerificaEsistonoErrori(Works* works);

// Draws the six most recent alarms as keys above the key strip.
void DrawError(Works* works);
void DrawTastoErrore(Works* works, int x1, int x2, int index);
