// The key strip: the labels of the six keys on every key page, the page skins
// and the transmit indicator. The key actions themselves are in KeyActions.
#pragma once

#include "core/Shared.h"

#include <cstdint>

struct Works;

// The key pages: what the six keys do and show.
enum KeyPage {
    kPageMain = 0,        // main operating page
    kPageMenuChoose = 1,  // menu, choosing an entry
    kPageMenuEdit = 2,    // menu, editing the chosen entry
    kPageTuner = 3,       // tuner page
    kPageManualTune = 4,  // manual L/C tuning
    kPageDeviceError = 5, // device-error page
    kPageMemTable = 6,    // memory-table view of the current bank
    kPageMemEdit = 7,     // memory-table row editing
    kPageSaveTune = 8,    // saving the tuner setting to a bank and antenna
    kPageBankUtil = 9,    // bank utilities
    kPageBankCopy = 10,   // bank copy
    kPageBankReset = 11,  // bank reset
};
constexpr int kKeyPages = 12;
constexpr int kKeyLabelSize = 12;

// The two label lines of the six keys of one key page and its highlight bits.
struct KeyLabelPage {
    SharedText<kKeyLabelSize> line1[6];
    SharedText<kKeyLabelSize> line2[6];
    Shared<uint8_t> highlight; // bit 0 key 1 ... bit 5 key 6
};
extern KeyLabelPage KeyLabels[kKeyPages];

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
