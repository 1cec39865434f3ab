// The station around the panel: the amplifier's microcontroller, the GPIO
// converter, an FT-817 and the transceiver's CAT port, each a device model on its
// device path in a root folder, driven together like a real station.
#pragma once

#include <string>

struct AmpModel;
struct GpioConverter;
struct Ft817Model;
struct TrxCatModel;
struct TrxModel;

// Where the station puts the FT-817: apart from the transceiver link's port.
constexpr const char* kStationFt817Port = "/dev/ttyUSB2";

struct SimStation {
    std::string root;
    AmpModel* amp = nullptr;
    GpioConverter* converter = nullptr;
    Ft817Model* radio = nullptr;
    TrxCatModel* cat = nullptr;
    TrxModel* trx = nullptr; // the transceiver's serial link (work mode 1)
    long long hz = 14074000;
    float driveW = 5.0f;
    bool transmitting = false;
};

// Writes bank 1's table (when the root has none yet) with the interface of work
// mode `workMode` (0 Generic, 1 the transceiver's link, 2 FT-817).
void SimStationWriteBank(const std::string& root, int workMode);

// Starts the models in `root` (laid out with SimRootCreate) and, when the root has
// no setup file yet, writes one that puts the FT-817 on its own port.
bool SimStationStart(SimStation* s, const std::string& root, std::string* error);
void SimStationStop(SimStation* s);

// The operator's actions. Transmitting keys the transceiver, whose drive
// reaches the amplifier.
void SimStationSetFrequency(SimStation* s, long long hz);
void SimStationTransmit(SimStation* s, bool on);
// The next (+1) or previous (-1) amateur band.
void SimStationBand(SimStation* s, int direction);
// The transceiver's serial link pulled out (its port goes away) and plugged
// back (a new port at the same path); false when it cannot be plugged back.
void SimStationUnplugTrx(SimStation* s);
bool SimStationReplugTrx(SimStation* s);
