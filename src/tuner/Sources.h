// The frequency sources: where a bank, by its work mode (ModeWorkIdx), takes the
// operating frequency from. One entry a source, as Hamlib describes a radio by
// its capabilities: the following, the work-mode switch, the interface key, the
// bank file's marker, the status page and the device-error page read the table.
#pragma once

#include "core/Services.h"
#include "core/Works.h"

#include <cstddef>

struct FreqSource {
    int mode;           // ModeWorkIdx
    const char* name;   // the interface key's text
    const char* marker; // the bank file's line that names the mode ("!Gen")
    // Its thread, and the byte that keeps it running ('1'); none for the
    // amplifier's own counter, which the link reads with "FM;".
    bool hasThread;
    Service service;
    Flag* (*run)(Works*);
    // The amplifier counts the frequency itself: nothing to send it ("FA").
    bool amplifierCounts;
    // The maker's transceiver: its link gives the frequency, the antenna relay
    // state (AN) and the transmit state, and tune on transmit follows it. The
    // other sources leave the relay at 0.
    bool followsTransceiver;
    // Raised when the source stops: its link's own alarm goes with it.
    int stopAlarm;
    // Its device-error page, and the setup flag ESC on that page turns off
    // (nullptr: ESC only closes the page, the thread retries by itself).
    int errorPage;
    Flag& (*escOff)(SetupRecord&);
    // The status page's second STATUS row.
    void (*statusRow)(Works*, char* text, size_t size);
};

// The source of a work mode, or nullptr for a mode that is none (-1 before the
// first bank is read).
const FreqSource* SourceOfMode(int mode);
// The source the current bank takes its frequency from, or nullptr.
const FreqSource* CurrentSource(Works* works);
// The source whose thread is `service`, or nullptr.
const FreqSource* SourceOfService(Service service);
// The source whose device-error page `code` is: the current mode's when it
// raises that page, else the first that does; nullptr when none.
const FreqSource* SourceOfErrorPage(Works* works, int code);
// The work mode of a bank file's marker line ("!Tav..."); -1 when none.
int SourceModeOfMarker(const char* line);
// The interface key's text of `mode` (the first source's for a mode that is none).
const char* SourceName(int mode);
// The frequency the source of `mode` read last.
int SourceFreqHz(Works* works, int mode);
