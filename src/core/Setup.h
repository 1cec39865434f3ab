// The setup file /opt/set/setup.txt and its in-memory record.
//
// Every operator setting that survives a restart is one "Key: value" line of
// the setup file. The record keeps each value as the file's characters (flags
// '0'/'1', numbers and paths as text); Works keeps numeric mirrors of the values
// the program computes with. The record is the characters of its fields in the
// file's field order; flags are watched by running threads, so every byte is an
// atomic character.
#pragma once

#include "core/Settings.h"

#include <sys/types.h>

struct Works;

struct SetupRecord {
    Flag EnableKeyb;
    Flag EnableSpi;
    Flag EnableTouch;
    Flag DelayedTouch;
    Flag EnableRead;
    Flag EnableWrite;
    Flag EnableCAT;
    Flag serialLinkEnabled; // no key: stays '1'
    Flag EnableLinear;
    Flag EnableTime;
    Flag EnableGPIO;
    Flag WebSocket; // '0' off, '1' server, '2' client
    SharedText<10> Pitch;
    SharedText<4> Quality;
    SharedText<20> AudioIn;
    Flag EnableFFT;
    Flag usbSpectrum; // no key: copy of EnableFFT, forced '1' by an Enable1600 line
    Flag Enable1600;
    SharedText<3> Divide;
    SharedText<2> InChannels;
    SharedText<10> AudioCompress;
    SharedText<3> Multiplier;
    SharedText<20> AudioOut;
    SharedText<16> Server;
    SharedText<13> CatPort;
    SharedText<13> SerPort;
    SharedText<13> LinPort;
    Flag NumAntenna;
    Flag EnablePwrPeak;
    Flag TempMode;
    Flag FreqSensIn;
    SharedText<5> FreqPeriodTime;
    Flag Attenuator;
    Flag AttenuatorTune;
    SharedText<6> SWRescAutoTune;
    Flag ViewTimeStr;
    Flag ViewTemp;
    SharedText<6> MaxTemperature;
    Flag AutoTuneMaxCicli;
    Flag PowerUnits;
    Flag SaveScreenIdx;
    Flag AutoTuneMode;
    SharedText<6> MaxTempAllowed;
    SharedText<6> PSpar1;
    SharedText<6> PSpar2;
    SharedText<6> PSpar3;
    SharedText<6> PSpar4;
    Flag Isteresi1;
    Flag Isteresi2;
    SharedText<6> OffsetPlot;
    Flag catSerialEnabled; // no key: stays '1'
    SharedText<13> CatSerialPort;
    SharedText<4> TUNEenabled;
    SharedText<4> NumBanco;
    SharedText<6> GMpar1;
    SharedText<6> GMpar2;
    SharedText<6> Peak_media;
    SharedText<6> Peak_ValDec;
    SharedText<6> Peak_TimeDec;
    SharedText<6> Peak_Time;
    SharedText<4> MAXbank;
    SharedText<6> BTN_longpress_Time;
    Flag EnableDebug;
    Flag EnableLOGTemp;
};

// The 279 characters of the older units' record; the keys added since keep
// their characters in their slots of the settings (core/Settings.h).
static_assert(sizeof(SetupRecord) == 279, "the setup record's characters");

constexpr const char* kSetupPath = "/opt/set/setup.txt";
constexpr const char* kRemountRw = "mount -o remount defaults,rw /opt/set";
constexpr const char* kRemountRo = "mount -v -n -o remount -r /opt/set";

// Resets the setting mirrors of Works and the record to their defaults (the
// access code is remote.txt's and stays).
void initSetup(Works* works);
// Reads the setup file into the record and Works; writes a new file from the
// defaults when there is none.
void readSetup(Works* works);
// Regenerates the record from Works and writes the whole file through the
// storage thread (core/Storage.h); 0 on success or once queued.
int writeSetup(Works* works);

// Helpers shared by every writer of a file under /opt/set (the storage thread,
// and start-up before it runs): the
// first writer in remounts read-write, the last one out read-only, so one
// writer's read-only remount never lands in another's write. RemountSetRw
// returns false when the remount failed (logged once, and printed); a writer
// calls RemountSetRo only after a RemountSetRw that returned true.
bool RemountSetRw();
void RemountSetRo();
// Writes a whole file under /opt/set between the two remounts (WriteFileAtomic),
// unless it already holds these bytes: then neither the file nor the partition
// is touched. 0 when the file holds them, -1 when the read-write remount
// failed, otherwise the write's errno.
int WriteSetFile(const char* path, const char* data, size_t len, mode_t forceMode = 0);
