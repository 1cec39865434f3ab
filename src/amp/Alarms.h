// The operator's alarm reset: the reset key of the alarm keys and what it sends
// to the amplifier and restarts.
#pragma once

#include "core/AlarmList.h"

struct Works;

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
