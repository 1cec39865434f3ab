// The key pages and the label texts of the six keys on each: state that the
// key actions, the refresh tick and the tuner all write, and the key strip draws.
#pragma once

#include "core/Shared.h"

#include <cstdint>

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
