// The maker's transceiver on its USB CAT port, on the master side of a pty.
//
// Kenwood-style ASCII commands, each ending with ';'. "DT;" asks who is there
// (the transceiver says "DT001;"; another device on a KAVOCAT port says something
// else, or nothing). "FA;" reads the frequency ("FA%011lld;"), "MD;" the mode
// ("MD%d;"), "IF;" the status a Kenwood radio gives (frequency, transmit, mode,
// VFO A), which Hamlib's Kenwood backends ask for. Anything else is acknowledged by echoing it unchanged; "FA" with 11
// digits and "MD" with one digit also set the frequency and mode, "TX;" (or "TX"
// and one digit) keys the transmitter and "RX;" returns it to receive. The transceiver
// also speaks unprompted (TrxCatModelSend), which the panel relays onward.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TrxCatModelConfig {
    std::string id = "DT001;"; // answer to "DT;"; empty: none
    long long hz = 14200000;
    int mode = 2; // USB in Kenwood numbering
    int turnaroundMs = 2;
    // false: other text is taken in but not echoed (the logging software at an
    // operator's unit, which answers what it asked and nothing else).
    bool echo = true;
};

struct TrxCatModel;

// Opens the pty, links it at `linkPath` (e.g. DIR/dev/KAVOCAT0) and starts the
// thread; nullptr on failure.
TrxCatModel* TrxCatModelStart(const std::string& linkPath, const TrxCatModelConfig& cfg = {});
// Ends the thread, closes the pty and removes the link; nullptr is ignored.
void TrxCatModelStop(TrxCatModel* m);

void TrxCatModelSetFrequency(TrxCatModel* m, long long hz);
long long TrxCatModelFrequency(TrxCatModel* m);
void TrxCatModelSetMode(TrxCatModel* m, int mode);
int TrxCatModelMode(TrxCatModel* m);
bool TrxCatModelTransmitting(TrxCatModel* m);
// Called (on the model's thread) when "TX;" keys the transmitter or "RX;" ends
// it, so that the station's radio drives the amplifier; an empty one unhooks.
void TrxCatModelSetTransmitHook(TrxCatModel* m, std::function<void(bool)> hook);
void TrxCatModelSetId(TrxCatModel* m, const std::string& id);
// Silent: commands are still taken in and recorded, nothing is answered.
void TrxCatModelSetSilent(TrxCatModel* m, bool silent);
// Queues unprompted text for the port (sent as given, after any answer already
// due); false when more than 64 KiB is already waiting.
bool TrxCatModelSend(TrxCatModel* m, const std::string& text);

// Texts as received, with their ';' (printable bytes only), newest 10000 kept.
// A text that runs past 200 bytes without ';' is dropped, up to its ';'.
struct TrxCatReceived {
    int64_t ms; // plat_mono_ms when the ';' arrived
    std::string text;
};
std::vector<TrxCatReceived> TrxCatModelReceived(TrxCatModel* m);
void TrxCatModelClearReceived(TrxCatModel* m);
