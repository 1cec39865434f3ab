// The alarm list: codes 0..22 raised by the parts that detect a fault and
// removed when it ends or by the operator's reset key.
#pragma once

struct Works;

// The alarm codes.
enum AlarmCode {
    kAlarmHighTempEnd = 0,   // an over-temperature event has ended
    kAlarmHighSwr = 1,       // high-SWR protection
    kAlarmHighTemp = 2,      // above the temperature set point
    kAlarmPwrIn = 3,         // input power fault
    kAlarmComm = 4,          // the link gave a command up
    kAlarmRemoteUsb = 5,     // remote check: no transceiver; USB receiver failure
    kAlarmAudioMissing = 6,  // remote check: no USB audio device
    kAlarmTavMode = 7,       // remote check: transceiver serial link off
    kAlarmTavExtio = 8,      // transceiver serial link time-out or read error
    kAlarmAudioRead = 9,     // audio capture
    kAlarmAudioWrite = 10,   // audio playback
    kAlarmWebSocket = 11,    // raised by nothing
    kAlarmTuneTimeout = 12,  // automatic tune timed out
    kAlarmTuneSwr = 13,      // automatic tune: SWR not reached
    kAlarmTuneAbort = 14,    // tune-on-transmit aborted by the transceiver
    kAlarmFault = 15,        // amplifier fault bits
    kAlarmMicroReset = 16,   // the micro reported a reset
    kAlarmCmdRefused = 17,   // panel command not available
    kAlarmTuneMaxSwr = 18,   // automatic tune: SWR too high
    kAlarmBandStby = 19,     // band fault, standby
    kAlarmRemoteCat = 20,    // remote check: CAT port; CAT relay failure
    kAlarmTxLimitNear = 21,  // a remote transmission nears its time limit
    kAlarmTxLimit = 22,      // the time limit ended a remote transmission
};

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

// The texts and flags of the alarm codes (start-up).
void InitErrorTable(Works* works);
