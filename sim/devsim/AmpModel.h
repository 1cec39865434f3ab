// The amplifier's microcontroller, on the master side of a pseudo-terminal.
//
// It answers the panel's ';'-terminated commands one reply each, with a few
// milliseconds of turnaround plus the time the bytes take at 115200 baud, and
// computes what the converters read from a small physical model (AmpPhysics.h).
// Tests set the station (drive, frequency, antennas), force temperatures and
// faults, make the link misbehave, and read back what the panel commanded.
//
// Protection: latching trips are checked only while protection mode is on (MP1,
// also the power-up state) and the amplifier is actually amplifying (not in
// bypass): current over its threshold -> fault bit 0, reflected -> bit 1,
// forward -> bit 2, input (only with AN1) -> bit 5, SWR over 3 with more than
// 5 W forward -> status byte 2 bit 1. Counts must be strictly above the
// threshold; power-up thresholds are 4095, so nothing trips until "TS". Any latch
// (fault bits 0, 1, 2, 5 or the SWR trip) sets status byte 2 bits 2 and 3 and puts
// the amplifier in standby until "CPFFFF;". Fault bit 4 (FILTER TX) is live, not
// latched: amplifying with filter mask 0, or with a selected filter whose cutoff
// (config, 0 = unknown) is below the frequency.
// "CPFFFF;" clears every latched and test-set fault bit, the SWR trip and the
// "was reset" flag. A micro reset restores the power-up settings, leaves
// firmware-update mode and sets fault bit 7 and the flag that "MR0;" reports.
#pragma once

#include "devsim/AmpPhysics.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct AmpModelConfig {
    bool model120W = false;
    bool usa = false;
    // Converter calibration as the panel applies it: watts = k * count^2, and the
    // reflected reading is corrected by kDir * forward watts.
    float kFwd = 5.156579e-06f;
    float kRefl = 3.3262754e-06f;
    float kIn = 5.5078103e-06f;
    float kDir = -0.007f;
    // Amplifier stage.
    float gainDb = 13;
    float saturationW = 0; // 0: 1.1 x rated (66 W / 132 W), so rated output needs ~1 dB compression
    float supplyV = 48;    // the 50 V rail under load
    float efficiency = 0.55f;
    float quiescentA = 0.4f;
    // Heat sink: a first-order node per sensor. Thermal resistance falls from rthStill
    // (fan 0) to rthFan (fan 100); time constant = rth * heatCapacity (48 s .. 15 s).
    float ambientC = 25;
    float rthStill = 0.8f; // K/W
    float rthFan = 0.25f;  // K/W
    float heatCapacity = 60; // J/K
    float sensor2Share = 0.85f; // sensor 2 sits further from the transistors: less rise...
    float sensor2Lag = 1.3f;    // ...and slower
    float thermalTimeScale = 1; // >1 runs the heat model faster than real time
    // Frequency for the physics when neither the test nor "FA" gave one.
    double defaultHz = 14.2e6;
    // Per-filter cutoff for the wrong-filter check; 0 = not checked.
    std::array<double, 8> filterCutoffHz{};
    std::array<AmpAntenna, 3> antennas = {AmpDefaultAntenna(1), AmpDefaultAntenna(2),
                                          AmpDefaultAntenna(3)};
    AmpTunerParts tuner;
    std::string version = "1.07.03"; // exactly 7 characters (padded/cut otherwise)
    std::string serialText = "SN 2026-00417";
    std::string hardwareText; // empty: "HW rev C 60W" or "HW rev C 120W"
};

struct AmpModel;

// Opens the pty, links it at `linkPath` and starts the thread; nullptr on failure.
AmpModel* AmpModelStart(const std::string& linkPath, const AmpModelConfig& cfg = {});
// Ends the thread, closes the pty and removes the link; nullptr is ignored.
void AmpModelStop(AmpModel* m);

// Station: transceiver drive (W, 0 = receive) and operating frequency (Hz; 0 = follow "FA").
void AmpModelSetDrive(AmpModel* m, float watts);
void AmpModelSetFrequency(AmpModel* m, int hz);
// Replaces the load on output 1..3.
void AmpModelSetAntenna(AmpModel* m, int index, const AmpAntenna& a);
// Pins both sensors; Release hands them back to the heat model from where they are.
void AmpModelSetTemperatures(AmpModel* m, float t1, float t2);
void AmpModelReleaseTemperatures(AmpModel* m);
// Test-set fault bits, ORed into the fault byte until CPFFFF or Clear.
void AmpModelSetFaultBits(AmpModel* m, uint8_t bits);
void AmpModelClearFaultBits(AmpModel* m, uint8_t bits);
// Extra bits ORed into status bytes 1 and 2 (low nibbles), e.g. the coax bit 0x1.
void AmpModelSetStatusBits(AmpModel* m, uint8_t byte1, uint8_t byte2);
void AmpModelMicroReset(AmpModel* m);

// How the next `count` commands (-1: until changed) are answered. Late: executed,
// reply after lateMs. Silent: lost, no reply. Reject: not executed, "XX?;".
// Noise: not executed, a few random bytes without ';' and no reply.
enum class AmpAnswer { Normal, Late, Silent, Reject, Noise };
void AmpModelSetAnswer(AmpModel* m, AmpAnswer mode, int lateMs = 0, int count = -1);

// Commands as received, with their ';' (printable bytes only), newest 10000 kept.
struct AmpReceived {
    int64_t ms; // plat_mono_ms when the ';' arrived
    std::string text;
};
std::vector<AmpReceived> AmpModelReceived(AmpModel* m);
void AmpModelClearReceived(AmpModel* m);

// Everything the model knows, at the moment of the call.
struct AmpModelState {
    bool transmitting = false, amplifying = false, standby = false;
    bool bypass = false; // "AB1" as commanded
    bool protection = false, programming = false, highSwr = false, wasReset = false;
    int antenna = 1, fan = 0, attenuatorDb = 0, filterMask = 0, an = 0;
    uint32_t tunerWord = 0;
    std::array<int, 4> thresholds{};
    uint8_t faults = 0;
    double hz = 0;
    float inW = 0, fwdW = 0, reflW = 0, amps = 0, swr = 1, t1 = 25, t2 = 25;
    std::string generalSettings;
};
AmpModelState AmpModelGetState(AmpModel* m);

uint32_t AmpModelTunerWord(AmpModel* m);
float AmpModelSwr(AmpModel* m); // at the current antenna, tuner word and frequency
int AmpModelAntenna(AmpModel* m);
int AmpModelFan(AmpModel* m);
bool AmpModelBypass(AmpModel* m);
int AmpModelAttenuator(AmpModel* m); // dB: 0, 2, 3 or 5
std::array<int, 4> AmpModelThresholds(AmpModel* m); // input, forward, reflected, current
bool AmpModelProgramming(AmpModel* m);
