// Whether the transceiver (its USB device and CAT port) and the USB sound
// interface are there, for the status page and the menu's local/remote choice.
//
// The probe opens the CAT port and runs lsusb, so it is the storage thread's
// work: the pages ask for it and draw the last results it published.
#pragma once

struct Works;

struct RemoteCheckResults {
    int transceiver; // Find_Remote_Settings: 0 present, 1 no USB device, 2 no CAT port, 3 no audio
    int audio;       // Get_AudioTAV: the sound interfaces found
};

// Asks the storage thread for a probe (one waits at most; without the thread
// it runs at once).
void RemoteChecksRequest(Works* works);
// Asks for one every 5 s while it is called: the status page and the menu's
// local/remote entry call it as they are drawn.
void RemoteChecksKeepFresh(Works* works);
// The last results; before the first probe "not connected" and "not found".
RemoteCheckResults RemoteChecksLast();
// The probe itself (on the storage thread).
void RemoteChecksProbe(Works* works);
