// The key strip: the labels of the six keys on every key page, the page skins
// and the transmit indicator. The key actions themselves are in KeyActions.
#pragma once

#include "core/KeyLabels.h"

#include <cstdint>

struct Works;

// The initial labels of every key page.
void InitKeyLabels();
// Draws the key strip and what goes over the page: parameters, alarm keys,
// status page, transmit indicator.
void LoadButtons(Works* works);
// Loads the skin of the current screen page into the background and restores it.
void SetWorkImg(Works* works);
// Closes the status page; 1 when it was open.
int EscFromStatus(Works* works);
// The red "TX" box while the amplifier transmits.
void ViewStatusTX(Works* works);

// Dynamic labels, each acting on its own key page only.
void SetAttenuatorLabel(Works* works);
void SetModeWorkLabel(Works* works);
void LabelByPassATU(Works* works);
void LabelSAVEATU(Works* works);
void GetLblInterface(int type, char* text, int size);
void LblCOPY(Works* works);
void LblRESET(Works* works);
void LblMenuAntenna(Works* works);
void ImpostaLblManuale(Works* works);

// Draws the six most recent alarms as keys above the key strip.
void DrawError(Works* works);
struct AlarmKey;
void DrawTastoErrore(Works* works, int x1, int x2, const AlarmKey& key);
