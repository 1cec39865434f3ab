// The maker's transceiver on its serial link to the amplifier.
//
// It streams, unasked, a parameter frame and a spectrum frame at a steady rate
// (frame: type, subtype, four length digits least significant first as 0x30 +
// nibble, payload), and takes the amplifier's ASCII requests: "TU120;TX2;" makes
// it transmit a tuning carrier, "RX;" returns it to receive. Its transmit state
// goes into the parameter block and, through a hook, to the amplifier model as
// drive power. Tests can make the line misbehave.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TrxModelConfig {
    int framesPerSecond = 20;     // parameter frames; a spectrum frame goes with each
    long long hz = 14074000;      // active frequency (VFO A)
    int mode = 2;                 // mode code in the parameter block (4 and 6 shift the trace)
    int pitchHz = 600;
    int offsetHz = 0;
    float carrierW = 5.0f;        // drive power of the tuning carrier
    int spectrumLength = 1194;    // payload bytes: 1024 + 170
    bool spectrum = true;
};

struct TrxModel;

TrxModel* TrxModelStart(const std::string& linkPath, const TrxModelConfig& cfg = {});
void TrxModelStop(TrxModel* m);

// Called with (transmitting, drive watts) whenever the transmit state changes.
void TrxModelSetTransmitHook(TrxModel* m, std::function<void(bool, float)> hook);

void TrxModelSetFrequency(TrxModel* m, long long hz);
long long TrxModelFrequency(TrxModel* m);
void TrxModelSetMode(TrxModel* m, int mode);
// The operator's own transmission (PTT), with its drive power.
void TrxModelSetPtt(TrxModel* m, bool on, float watts);
bool TrxModelTransmitting(TrxModel* m);
// The "AN" request bit the transceiver reports (parameter b[11] bit 5).
void TrxModelSetAnRequest(TrxModel* m, bool on);

// Line faults: garbage bytes before the next frame; the next frame cut off after
// `bytes` bytes; a share of bytes dropped at random; silence.
void TrxModelSendGarbage(TrxModel* m, int count);
void TrxModelCutNextFrame(TrxModel* m, int bytes);
void TrxModelSetDropPercent(TrxModel* m, int percent);
void TrxModelSetSilent(TrxModel* m, bool silent);
// A transceiver that takes the tune requests but never keys its carrier.
void TrxModelSetIgnoreTune(TrxModel* m, bool ignore);

// The ASCII requests received, each up to its ';', with the time it arrived.
struct TrxReceived {
    int64_t ms;
    std::string text;
};
std::vector<TrxReceived> TrxModelReceived(TrxModel* m);
void TrxModelClearReceived(TrxModel* m);
int TrxModelFramesSent(TrxModel* m);

// The parameter payload the model sends for a state (exposed for tests).
std::vector<uint8_t> TrxParameterPayload(long long hz, int mode, bool transmitting, bool anRequest,
                                         int pitchHz, int offsetHz);
// A whole frame: header, length digits, payload.
std::vector<uint8_t> TrxFrame(int type, char subtype, const std::vector<uint8_t>& payload);
