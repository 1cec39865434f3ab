// The shared state record.
//
// One `Works` instance, owned by main for the life of the process, holds every
// value the threads share: settings mirrored from the setup file, measurements
// of the amplifier, the link's command queue, the alarm list, tuner and screen
// state. Threads exchange single values through it without locks, so every
// field that more than one thread touches is a `Shared` (relaxed atomic) or a
// `SharedText`; a byte of bits that several threads change is a `SharedFlags`,
// which has no assignment. Fields set before the threads start and only read
// afterwards are plain. The three mutexes guard what the record says they guard.
//
// "Written by" names the threads that change a group once the threads run:
// main (start-up), link (the amplifier link and the decoder and tuning steps that
// run on it), keys (key actions and menus), refresh (the screen tick), trx (the
// transceiver link), cat (the FT-817 poll and the CAT relay), keyboard, session
// (the remote link); "any" means a function several of them call.
#pragma once

#include "core/Shared.h"
#include "platform/Watchdog.h"

#include <cstdint>
#include <mutex>

struct FrameBuffer;
struct SetupRecord;
struct TrxParameters;
struct OpusEncoder;
struct OpusDecoder;

constexpr const char* kSwVersion = "0.046";
constexpr int kCmdQueueSize = 30;
constexpr int kAlarmCodes = 21;
constexpr int kMaxActiveErrors = 22;
constexpr int kAlarmTextSize = 30;

// One row of config.txt: a frequency range with its meter calibration and the
// protection thresholds sent to the amplifier.
struct ThresholdRow {
    uint32_t freqStart;
    uint32_t freqEnd;
    float kFwd;
    float kRefl;
    float kIn;
    float kDirectivity;
    float pwinMax;
    float currentMax;
    float reflMax;
    float fwdMax;
    int32_t tuneStartL[5];
    int32_t tuneStartC[5];
    int32_t tuneStepSize;
};

// One row of ventola.txt: from this temperature on, this fan level.
struct FanRow {
    float temp;
    int level;
};

// One low-pass filter of filter.txt; only enabled == 1 selects it.
struct FilterRange {
    Shared<uint32_t> low;
    Shared<uint32_t> high;
    Shared<uint8_t> enabled;
};

// One band of an antenna bank table.
struct AntennaRow {
    SharedText<8> name;
    Shared<uint32_t> freqLow;
    Shared<uint32_t> freqHigh; // inclusive
    Shared<uint8_t> ampEnable; // 1 amplifier in line, 0 standby
    Shared<uint8_t> antenna;   // output 1..3, 0 = leave as is
    Shared<uint8_t> atuBypass;
    Shared<uint8_t> attStep; // 0..3
    Shared<float> pwr;
};

// A peak-hold record of one meter: hold timer, held value, decay step counter.
struct PeakHold {
    Shared<int> holdMs;
    Shared<float> peak;
    Shared<int> decayCount;
};

// The spectrum plot: its trace (dB per point, written under serMut) and the
// span shown.
constexpr int kTracePoints = 1024;
constexpr int kPlotPoints = 854;
struct SpectrumGrid {
    float trace[kTracePoints]; // guarded by serMut
    Shared<int> spanHz;
    Shared<int> points;
};

// One stored tuner setting: valid, mode, L, C.
struct TuneMemEntry {
    uint8_t valid;
    uint8_t mode;
    uint16_t l;
    uint16_t c;
};
constexpr int kTuneMemEntries = 5000;
// The tuner memory of one antenna output. Each entry is packed into one atomic
// word so that the link thread and the keys' thread never see half an entry.
struct TuneMemTable {
    Shared<uint64_t> packed[kTuneMemEntries];
};

constexpr int kFilterRows = 8;
constexpr int kAntennaRows = 11;
constexpr uint32_t kNoAntennaRow = 0xFFFFFFFFu;

// One alarm code: its flag byte and the two lines of its key (texts set at start-up).
struct ErrorEntry {
    Shared<uint8_t> flags;
    SharedText<kAlarmTextSize> line1;
    SharedText<kAlarmTextSize> line2;
};

struct Works {
    // Process and device errors. Written by: keyboard and main (running), any
    // device thread (error page), keys (its retry). A device thread writes the
    // text, then the code with release order; the refresh thread reads the code
    // with acquire order.
    Shared<int> running;
    Shared<int> deviceErrorCode;
    SharedText<104> deviceErrorText;

    // Display and amplifier identity. Written by: main (fb), link.
    FrameBuffer* fb;
    Shared<uint8_t> eeModel[2];
    SharedText<20> swVersion;
    Shared<uint8_t> ee0[32];
    Shared<uint8_t> ee1[32];
    SharedText<8> microVersion; // 7 characters and the terminator

    // Remote connection. Written by: main (setup), session.
    SharedText<100> serverAddr;
    Shared<int16_t> tcpPort;
    Shared<int> wsFD;
    Shared<int> remoteConnected;
    SharedText<13> remotePassword;

    // Screen, audio and locks. Written by: main; refresh and keys (skin).
    SharedText<16> skinName; // current skin, loaded from "<name>.png"
    Shared<int> imageX, imageY;
    Shared<int> audioMultiplier;
    Shared<int> audioFrameParam;
    Shared<int> audioRate;
    std::mutex* connMut;
    std::mutex* wsSendMut;
    SetupRecord* setup;
    OpusEncoder* opusEncoder;
    OpusDecoder* opusDecoder;
    Shared<int> audioBitrate;
    // Audio. Written by: the playback thread (audioOutReady), the senders.
    Shared<uint8_t> audioOutReady;  // the playback buffer exists
    Shared<int> wsDroppedAudio;     // audio frames not sent: the peer took too long
    Shared<int> wsDroppedFrames;    // other frames whose write ran out of time

    // Amplifier link. Written by: link; the queue by any thread (its lock).
    Shared<int> linFD;
    Shared<int> refreshUs;
    Shared<int> cmdQueue[kCmdQueueSize];
    Shared<int> cmdQueueRead;
    Shared<int> cmdQueueWrite;
    Shared<uint8_t> cmdQueueDrain;
    TrxParameters* trxParams;
    std::mutex* serMut;

    // Alarms. Written by: any thread that raises or removes an alarm (AddErrore's
    // lock), keys (the reset key).
    SharedFlags<uint8_t> errorFlags; // any thread that raises an alarm; the reset key
    Shared<int> activeErrors[kMaxActiveErrors];
    Shared<int> activeErrorCount;
    ErrorEntry errorTable[kAlarmCodes];
    Shared<uint8_t> errorResetPhase;

    // Tables loaded from files (set while loading, before the readers use them).
    // Written by: main, keys (a bank change), refresh (the band thresholds).
    ThresholdRow* bandTable;
    Shared<int> bandCount;
    FanRow* fanTable;
    Shared<int> fanCount;
    Shared<int> thresholdRowIdx; // -1: no thresholds sent yet
    FilterRange filterTable[kFilterRows];

    // Antenna bank table of the current bank. Written by: main, keys, refresh (the
    // row in use).
    AntennaRow antennaTable[kAntennaRows];
    Shared<int> antennaRowCount;
    Shared<uint32_t> antennaRowIdx; // row applied last; kNoAntennaRow forces a new evaluation
    Shared<int> editRow;
    Shared<int> editColumn;

    // Key pages and screen pages. Written by: keys; refresh (closing the status page).
    Shared<int> keyPage;
    SharedFlags<uint8_t> viewFlags; // bit 0 status page, bit 1 memory-table view
    SharedFlags<uint8_t> keyNotice;
    Shared<int> screenPage;
    Shared<int> targetBank;    // save page: bank and antenna (0..2) to store into
    Shared<int> targetAntenna;
    Shared<int> copyOrigin;    // bank copy page
    Shared<int> copyDest;
    Shared<int> resetTarget;   // bank reset page; MAXbank stands for all banks
    Shared<uint8_t> manualTune; // manual L/C tuning switched on
    Shared<int> menuEntry;      // settings menu: current entry 0..29
    Shared<int> menuItem;       // always 0
    Shared<int> menuCount;
    Shared<uint8_t> factoryArmed; // "FACTORY DEFAULT" chosen, waiting for ENTER

    // Screen refresh: meters, peak hold, screen saver, plot. Written by: refresh;
    // keys (screen saver, key time); trx and session (the plot's trace, serMut).
    Shared<float> needleAngle[2]; // forward, right-hand meter
    Shared<float> peakAngle[2];   // 0 = no peak shown yet
    PeakHold peakHold[2];
    Shared<uint8_t> saverOn;
    Shared<int64_t> lastKeyTime; // seconds of the wall clock
    Shared<uint8_t> trxTransmitting;
    Shared<uint8_t> skinReload;
    Shared<int> tuneTickFirst, tuneTickNow; // tune-on-transmit window
    SpectrumGrid grid;

    // Tuner memory, one table per antenna output. Written by: main, keys, link.
    TuneMemTable tuneMem[3];

    // Tuner setting and transceiver link requests. Written by: link (tuning),
    // keys (manual tuning, under tuneSem), trx.
    // The requests other threads make of the tuner's owner (tuner/TunerRequests.h).
    Shared<uint16_t> tunerReq[16];
    Shared<int> tunerReqRead, tunerReqWrite;
    Shared<uint32_t> tuneC;
    Shared<uint32_t> tuneL;
    Shared<uint16_t> tuneMode;
    Shared<int> tuneStep;  // state of the automatic search
    Shared<float> bestSwr; // best SWR of the last search
    Shared<int> serFD;
    SharedFlags<uint8_t> txButtonFlags; // keys thread sets, transceiver link clears
    Shared<int> rxHoldTicks;

    // Operating point and measurements. Written by: link (the decoder), refresh
    // (freqHz, lastFreqHz), keys (antenna, attenuator, remote choice).
    Shared<uint8_t> remoteEnabled;
    Shared<int> freqHz;
    Shared<int> lastFreqHz;
    Shared<int> antennaIdx;
    Shared<int> anState;
    Shared<uint8_t> ampStatus1, ampStatus2, ampFault;
    Shared<float> pwrIn;
    Shared<float> pwrFwd;
    Shared<float> pwrRefl;
    Shared<float> pwrFwdPeak;
    Shared<uint16_t> rawIn, rawFwd, rawRefl;
    Shared<float> swr;
    Shared<float> currentRaw;
    Shared<float> temp1, temp2;
    Shared<int> fanWanted, fanLevel;

    // Tuner and modes. Written by: main (setup), keys (menus), link (replies,
    // tuning), refresh, trx, cat (catFreqHz, catMode, its descriptors).
    SharedFlags<uint8_t> tuneModeFlags; // refresh tick, link (tune), transceiver link, menu
    Shared<uint8_t> tuReported;
    Shared<uint8_t> tuneState;
    Shared<uint8_t> tunerBypass;
    Shared<uint8_t> ampBypass;
    Shared<uint8_t> bypassRequested;
    Shared<uint8_t> autoTuneMaxCycles;
    Shared<float> swrEscAutoTune;
    Shared<uint8_t> tempMode;
    Shared<uint8_t> pwrPeakEnabled;
    Shared<int> divide;
    Shared<int> fmFreqHz;
    Shared<uint32_t> tunerWord;
    Shared<uint8_t> freqSensIn;
    Shared<int> freqPeriod;
    Shared<uint8_t> attenuator;
    Shared<uint8_t> attenuatorShown;
    Shared<uint8_t> attenuatorTune;
    Shared<float> cpuTemp[2];
    SharedText<80> dateText;
    Shared<uint8_t> viewTimeStr, viewTemp;
    Shared<float> maxTemperature;
    Shared<uint8_t> powerUnits, saveScreenIdx;
    Shared<int> tsThresholds[4];
    Shared<uint8_t> panelCmd;
    Shared<uint8_t> clockIdle; // 1: the converter clock idles high
    Shared<int> maxTempAllowed;
    Shared<int> psPar[4];
    Shared<int> gmPar[2];
    SharedText<11> generalSettings;
    Shared<int> hysteresis1, hysteresis2;
    SharedFlags<uint8_t> startupFlags;
    SharedFlags<uint8_t> anFlags;
    Shared<uint8_t> relayDrive;
    Shared<uint8_t> supplyAdc[4];
    SharedText<3> lastCmd; // two letters and the terminator
    Shared<int> retryState;
    Shared<int> retryTotal, retryCount, retryStops;
    Shared<double> plotOffset;
    Shared<int> ModeWorkIdx;
    Shared<int> catFreqHz;
    Shared<uint8_t> catMode; // mode byte of the last FT-817 answer
    Shared<int> catSerFD;    // FT-817 port
    Shared<int> catFD;       // transceiver CAT port of the relay
    Shared<uint8_t> catEnded;
    SharedFlags<uint8_t> serviceFlags; // menu, keyboard (F10), link ("MR1;")
    Shared<uint8_t> microResetSeen;

    // Banks and flags at the end of the record. Written by: main (setup), keys
    // (bank, menus), link and trx (errHoldoffMs), refresh (its count-down).
    Shared<int8_t> tuneEnabled;
    Shared<int> NumBanco;
    Shared<int> MAXbank;
    Shared<int> errHoldoffMs;
    Shared<uint8_t> debugEnabled;
    Shared<uint8_t> remoteRestart;
    Shared<uint8_t> logTempEnabled;
    Shared<uint8_t> logTempStarted;

    // Progress of the threads the service watchdog watches. Written by: each
    // thread its own (link, keys, refresh); read by main.
    Heartbeat linkBeat{"link"};
    Heartbeat keysBeat{"keys"};
    Heartbeat refreshBeat{"refresh"};
};

// The 120 W model: its second model byte is '1'. It has its own pictures and a
// 120 W forward scale.
inline bool HighPowerModel(const Works* works) { return works->eeModel[1] == '1'; }

// Zero-fills a record (what main does before InitGlobalVar).
void ZeroWorks(Works* works);
// Sets every start value into a zero-filled record, and the start values of the
// meter, peak and long-press globals. Neither clears the record nor touches the
// setup record. It is InitRunState followed by InitSettingMirrors.
void InitGlobalVar(Works* works);
// Start values of the run-time state: run flag, link identity, measurements,
// thresholds, meter scales, connection. The command queue keeps what is queued.
void InitRunState(Works* works);
// Start values of the numbers that mirror setup-file keys and of the setup
// globals (peak timing, long-press time). A setup-file read starts
// from these, so that a key missing from the file takes its start value while the
// run-time state (and the commands queued before the read) stays as it is.
void InitSettingMirrors(Works* works);

// Codes of the device-error page (deviceErrorCode): which device failed to open.
enum DeviceErrorCode {
    kDevErrRetry = -1, // a retry of the failed device was asked for
    kDevErrNone = 0,
    kDevErrLinear = 1, // amplifier port
    kDevErrCat = 2,    // FT-817 CAT port
    kDevErrSerial = 3, // transceiver serial link
    kDevErrUsb = 5,    // USB spectrum receiver
};

// Opens the device-error page: the text (printf format), then the code, so that
// the refresh thread never sees the code without its text.
void RaiseDeviceError(Works* works, int code, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// A port that hung up: logs "<link>: device <dev> went away" at error level and
// shows it on the device-error page with `code`, whose retry key opens it again.
void DeviceWentAway(Works* works, int code, const char* link, const char* dev);

// Sleeps up to `ms` milliseconds, waking early once `running` is cleared.
void SleepWhileRunning(Works* works, int ms);

// Named globals shared by several threads.
extern Shared<double> TIME_LONG_PRESS;
extern Shared<int> number_ofStep_meter_FWD;
extern Shared<int> number_ofStep_meter_REFL;
extern Shared<int> number_ofStep_meter_SWR;
extern Shared<int> number_ofStep_meter_PW;
extern Shared<int> fattoremedia;
extern Shared<double> PeakDecrement;
extern Shared<int> PeakDecrementTime;
extern Shared<int> TimerPeakSec;
extern Shared<int> CntIP, CntDNS, CntNetMask, CntGateway;
