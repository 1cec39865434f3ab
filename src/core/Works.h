// The shared state record.
//
// One `Works` instance, owned by main for the life of the process, holds every
// value the threads share: settings mirrored from the setup file, measurements
// of the amplifier, the link's command queue, the alarm list, tuner and screen
// state. Every field that more than one thread touches is a `Shared` (relaxed
// atomic) or a `SharedText`; a byte of bits that several threads change is a
// `SharedFlags`, which has no assignment. Fields set before the threads start
// and only read afterwards are plain.
//
// Each group says who owns it once the threads run: main (start-up), link (the
// amplifier link and the decoder and tuning steps that run on it), keys (key
// actions and menus), refresh (the screen tick), trx (the transceiver link),
// cat (the FT-817 poll and the CAT relay), keyboard, session (the remote link),
// storage (the files under /opt/set and the commands: core/Storage.h).
// A group has one owner, which alone writes it and may change it by reading it
// first; other threads ask the owner (the command ring, the tuner's requests)
// and read single values or a snapshot. Where several threads must change a
// group themselves, the group says which one lock every such change takes and
// why that is the better shape; a plain store of a value that does not depend
// on what was there is said as such. A factory default (keys) rewrites the
// settings of every group as start-up does.
#pragma once

#include "core/AmpReadings.h"
#include "core/AmpRequests.h"
#include "core/Settings.h"
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
constexpr int kAlarmCodes = 23;
constexpr int kMaxActiveErrors = 24;
constexpr int kAlarmTextSize = 30;
// Work modes (ModeWorkIdx): where the bank takes the operating frequency from.
enum ModeWork { kModeGeneric = 0, kModeTav = 1, kModeFt817 = 2, kModeHamlib = 3 };
constexpr int kModeWorkCount = 4;

// A frequency source's state (tuner/Sources.h): the frequency it read last,
// written by its reader alone (the link's "FM;" replies, the FT-817 poll, the
// Hamlib poll); the byte that keeps its thread running where the setup record
// has none ('1' runs it; the work-mode switch sets it); the rig's name while
// its reader has one open (empty when not).
struct SourceState {
    Shared<int> freqHz;
    Shared<char> run;
    SharedText<48> name;
};

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

// The USB spectrum is made of every divide-th block. Two digits in the setup
// file; a peer's or a file's value outside them is refused. It starts at the
// value a peer's spectrum choice raises it to.
constexpr int kDivideMin = 1;
constexpr int kDivideMax = 99;
constexpr int kDivideStart = 2;

constexpr int kFilterRows = 8;
constexpr int kAntennaRows = 11;
constexpr uint32_t kNoAntennaRow = 0xFFFFFFFFu;
constexpr int kThresholdsDefault = -2; // thresholdRowIdx: the default thresholds went out

// One alarm code: its flag byte and the two lines of its key (texts set at start-up).
struct ErrorEntry {
    Shared<uint8_t> flags;
    SharedText<kAlarmTextSize> line1;
    SharedText<kAlarmTextSize> line2;
};

// The station's amplifier as the operator's unit knows it: the last status
// record and alarm message of the session (remote/StationRecord.h).
struct StationAlarm {
    uint8_t code = 0;
    uint8_t flags = 0; // bit 0: an error (red key), else a warning
    char line1[kAlarmTextSize] = {};
    char line2[kAlarmTextSize] = {};
};
struct StationState {
    int64_t recordMs = -1; // monotonic time of the last record; -1: none this session
    char band[5] = "----";
    int mode = 0;
    int attenuator = 0;
    int antenna = 0;
    bool ampBypass = false;
    char tuner = 'N'; // 'T' in line, 'B' bypassed, 'N' not installed
    float swr = 0, fwd = 0, in = 0, temp = 0, volts = 0, amps = 0;
    int bank = 0;
    int lastAlarm = 0;     // the record's newest alarm code + 1; 0: none
    int64_t alarmsMs = -1; // the last alarm message; -1: none this session
    bool tx = false;
    bool coaxRxTx = false;
    int alarmCount = 0;
    StationAlarm alarms[kMaxActiveErrors];
    // The station's transmit time limit ("TL", remote/TxLimit.h): seconds (0
    // off), seconds left, its phase; txLimitMs -1: an older station sent none.
    int64_t txLimitMs = -1;
    int txLimitS = 0, txLeftS = 0;
    char txPhase = 'R';
};
// Written by the session thread of the operator's unit, copied whole by the
// refresh and key threads: one lock, as the values belong together.
struct StationView {
    std::mutex mu;
    StationState s; // guarded by mu
    // A peer's malformed messages are logged once until a whole one comes.
    bool badRecordLogged = false, badAlarmsLogged = false; // guarded by mu
};

// The transmit time limit of remote operation (remote/TxLimit.h). Owner:
// refresh, whose tick times a transmission and moves the phase; the web thread
// stores whether a console is in control (a plain store), the session thread
// takes the refusal's log note with one exchange. `sent*`: the refresh tick's
// own record of what it last told the operator's unit.
struct TxLimitState {
    Shared<int> phase;          // TxPhase
    Shared<int64_t, false> startMs;  // program ms the timed transmission began
    Shared<int64_t, false> lastTxMs; // the last tick that saw it
    Shared<int64_t> endedMs;    // when the limit ended it
    Shared<int> lastedS;        // how long that transmission lasted
    Shared<uint8_t> alarmShown; // the limit's alarm went into the list
    Shared<uint8_t> console;    // a browser console is in control
    Shared<uint8_t> refusedLogged;
    char sent[16] = {};
    int sentFd = -1;
    int64_t sentMs = 0;
};

// The amplifier's identity as its micro reports it. Owner: link (the version
// text is main's, set at start-up).
struct AmpIdentity {
    Shared<uint8_t> eeModel[2];
    SharedText<20> swVersion;
    Shared<uint8_t> ee0[32];
    Shared<uint8_t> ee1[32];
    SharedText<8> microVersion; // 7 characters and the terminator
};

// The audio of the remote link. Owner: main (the codec and rates, at start-up);
// audioOutReady: plain stores by the playback thread and by a failing capture
// (which stops the session's audio); the counters count up atomically.
struct AudioState {
    Shared<int> audioFrameParam;
    Shared<int> audioRate;
    OpusEncoder* opusEncoder;
    OpusDecoder* opusDecoder;
    Shared<uint8_t> audioOutReady;  // the playback buffer exists
    Shared<int> wsDroppedAudio;     // audio frames not sent: the peer took too long
    Shared<int> wsDroppedFrames;    // other frames whose write ran out of time
};

// Key pages and screen pages. Owner: keys. The refresh tick stores
// kPageDeviceError while the device-error page is up and kPageMain when its
// retry ends it: plain stores, each a page the keys cannot be on meanwhile.
// menuEntry and menuItem are set by main once at start-up.
struct KeyPages {
    Shared<int> editRow; // the memory-table page's cell
    Shared<int> editColumn;
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
    Shared<int> menuEntry;      // settings menu: current entry 0..31
    Shared<int> menuItem;       // always 0
    Shared<int> menuCount;
    Shared<uint8_t> factoryArmed; // "FACTORY DEFAULT" chosen, waiting for ENTER
    // "REMOTE CODE" being edited: the symbols as the keys left them, the one
    // under the cursor (0..11), and whether an edit is under way (the saved code
    // is untouched until ENTER). "NEW REMOTE CODE" chosen, waiting for ENTER.
    SharedText<13> codeEdit;
    Shared<int> codeCursor;
    Shared<uint8_t> codeEditing;
    Shared<uint8_t> newCodeArmed;
};

// The meters' needles and peak hold, the screen saver and the tune-on-transmit
// window. Owner: refresh (Works says who else writes, and how).
struct MeterState {
    Shared<float> needleAngle[2]; // forward, right-hand meter
    Shared<float> peakAngle[2];   // 0 = no peak shown yet
    PeakHold peakHold[2];
    Shared<uint8_t> saverOn;
    Shared<uint8_t> skinReload;
    Shared<int> tuneTickFirst, tuneTickNow; // tune-on-transmit window
    // The meters' scales in steps; the forward one follows the amplifier's
    // model (the link sets it from the model's reply).
    Shared<int> number_ofStep_meter_FWD, number_ofStep_meter_REFL, number_ofStep_meter_SWR,
        number_ofStep_meter_PW;
};

// The tuner's requests ring and setting. Owner: link (Works says how the
// others ask).
struct TunerState {
    Shared<uint16_t> tunerReq[16];
    Shared<int> tunerReqRead, tunerReqWrite;
    Shared<uint32_t> tuneC;
    Shared<uint32_t> tuneL;
    Shared<uint16_t> tuneMode;
    Shared<int> tuneStep;  // state of the automatic search
    Shared<float> bestSwr; // best SWR of the last search
};

struct Works {
    // Process and device errors. `running` is only ever cleared (keyboard, main,
    // the client on a wrong accept value). The error page is a handoff: a device
    // thread raises text and code together under their lock (RaiseDeviceError),
    // the page's keys move the code from the value they saw to -1 before they
    // restart the device, the refresh tick from -1 to 0 (DeviceErrorStep), so a
    // failure raised in between is never cleared.
    Shared<int> running;
    Shared<int> deviceErrorCode;
    SharedText<104> deviceErrorText;

    // The display (main sets it at start-up) and the amplifier's identity.
    FrameBuffer* fb;
    AmpIdentity ident;

    // Remote connection. Owner: session (main and a factory default set the
    // setup's values); remoteConnected changes under connMut. remotePassword,
    // the unit's access code, is main's at start-up and then the keys' (the
    // menu's code entries): a plain store of a whole new code.
    SharedText<100> serverAddr;
    Shared<int> wsFD;
    Shared<int> remoteConnected;
    SharedText<13> remotePassword;
    // The browser console: its port (setup key WebPort, 0 = off) and its
    // certificate's fingerprint for the status page (set at start-up). webKeys:
    // the keys its controller holds (bit k-1 for key k), the console's alone;
    // the key thread reads them with its own lines.
    SharedText<96> webFingerprint;
    Shared<uint8_t> webKeys;

    // Screen, audio and locks. The skin's name is written with its picture, under
    // the picture lock (PictureMutex) by whoever loads one (keys, refresh); the
    // rest is main's.
    SharedText<16> skinName; // current skin, loaded from "<name>.png"
    Shared<int> imageX, imageY;
    std::mutex* connMut;
    std::mutex* wsSendMut;
    SetupRecord* setup;
    AudioState audio;

    // The settings as numbers, and the values of the keys kept in slots
    // (core/Settings.h says who writes them).
    Settings settings;

    // Amplifier link. Owner: link. The command ring is any thread's to fill and
    // the link's to empty; its lock also covers the drain request and the alarm
    // reset's phase, which move with what is queued (core/CmdRing.h).
    Shared<int> linFD;
    Shared<int> refreshUs;
    Shared<int> stillWaitMs; // the refresh tick's longest wait on a still page
    Shared<int> cmdQueue[kCmdQueueSize];
    Shared<int> cmdQueueRead;
    Shared<int> cmdQueueWrite;
    Shared<uint8_t> cmdQueueDrain;
    Shared<int> cmdQueueDrainMark; // the write index at the drain request
    TrxParameters* trxParams;
    std::mutex* serMut;

    // Alarms. The list changes under its own lock (core/AlarmList.h) from any
    // thread that raises or removes an alarm; the flag bits are set and cleared
    // in single atomic steps (each bit a request one side sets and the other
    // clears); errorResetPhase moves under the command ring's lock.
    SharedFlags<uint8_t> errorFlags; // any thread that raises an alarm; the reset key
    Shared<int> activeErrors[kMaxActiveErrors];
    Shared<int> activeErrorCount;
    ErrorEntry errorTable[kAlarmCodes];
    Shared<uint8_t> errorResetPhase;
    // The station's view (operator's unit), and the reset a connected operator
    // asked for (station: the session sets it, the keys' thread takes it).
    StationView station;
    Shared<uint8_t> alarmResetAsked;
    // Changes a logger or the operator's unit asked for: any thread queues,
    // the keys' thread takes them (core/AmpRequests.h).
    AmpRequestQueue ampRequests;
    TxLimitState txLimit;

    // Tables loaded from files: main's, before the threads start. The band's
    // thresholds (thresholdRowIdx with tsThresholds) change together under one
    // lock (tuner/Bands.h) from the refresh tick, the alarm reset and the search.
    ThresholdRow* bandTable;
    Shared<int> bandCount;
    FanRow* fanTable;
    Shared<int> fanCount;
    Shared<int> thresholdRowIdx; // -1: no thresholds sent yet; kThresholdsDefault: the defaults
    FilterRange filterTable[kFilterRows];

    // Antenna bank table of the current bank, with NumBanco, ModeWorkIdx and the
    // tuner memory: the keys, the remote link and start-up load, edit and save
    // it, the refresh tick applies its rows and the link stores a search's end:
    // all under the bank lock (tuner/Banks.h), since a change spans the table,
    // its files and the links the bank's mode runs.
    AntennaRow antennaTable[kAntennaRows];
    Shared<int> antennaRowCount;
    Shared<uint32_t> antennaRowIdx; // row applied last; kNoAntennaRow forces a new evaluation

    KeyPages pages;

    // Screen refresh: meters, peak hold, screen saver, plot. Owner: refresh,
    // which holds the picture lock for its whole tick; the keys wake the saver
    // and reset the peak needle under the same lock. lastKeyTime: a plain store
    // of the time of a key. The plot's trace is written by the session under serMut.
    MeterState meters;
    Shared<int64_t> lastKeyTime; // seconds of the wall clock
    Shared<uint8_t> trxTransmitting;
    SpectrumGrid grid;

    // Tuner memory, one table per antenna output: under the bank lock with the
    // bank it belongs to (each entry is also one atomic word).
    TuneMemTable tuneMem[3];

    // Tuner setting. Owner: link, which runs the search and sends every tuner
    // word: the word, L, C, mode, step, state and bypass are written there only.
    // The keys, the menus and the refresh tick ask through the tuner's requests
    // (tuner/TunerRequests.h) and read a snapshot (TunerSnapshot).
    TunerState tuner;
    // Transceiver link requests. Owner: trx (serFD). The carrier key's request
    // bits: the keys set them, the link takes a request with a compare-and-swap
    // on the whole byte before it sends, so a key pressed meanwhile makes a new
    // request. rxHoldTicks: the link sets it, the refresh tick counts it down
    // atomically.
    Shared<int> serFD;
    SharedFlags<uint8_t> txButtonFlags;
    Shared<int> rxHoldTicks;

    // Operating point and measurements. The measurements are the link's, one
    // value it publishes (core/AmpReadings.h); freqHz and lastFreqHz the refresh
    // tick's. The operating point (antennaIdx,
    // attenuator, attenuatorShown, anState) is chosen by the keys, the bank row
    // (refresh) and the link's echoes and search: every change of it takes the
    // operating-point lock (OperatingPointMutex, below), which holds a decision
    // and the command that sends it together. remoteEnabled: keys.
    Shared<uint8_t> remoteEnabled;
    Shared<int> freqHz;
    Shared<int> lastFreqHz;
    Shared<int> antennaIdx;
    Shared<int> anState;
    AmpReadingsBox ampReadings;
    Shared<int> fanWanted, fanLevel;

    // Tuner and modes. The menus' values are the keys' (main sets them at
    // start-up); the replies' the link's; catMode and the CAT
    // descriptors the cat threads'. tuneModeFlags are set and cleared in single
    // atomic steps: each bit a request one thread sets and another clears (the
    // refresh tick's supervision, the transceiver link, the search); the menu's
    // on/off keeps a pending return to receive. panelCmd: the keys' converter
    // loop takes a command from idle with a compare-and-swap, so one a menu or
    // start-up asks for is never overwritten. errHoldoffMs: the link and the
    // transceiver link start it from 0 with a compare-and-swap, the refresh tick
    // counts it down the same way. serviceFlags: single atomic bit steps.
    SharedFlags<uint8_t> tuneModeFlags;
    Shared<uint8_t> tuReported;
    Shared<uint8_t> tuneState;
    Shared<uint8_t> tunerBypass;
    Shared<uint8_t> ampBypass;
    Shared<uint8_t> bypassRequested;
    Shared<uint32_t> tunerWord;
    Shared<uint8_t> attenuator;
    Shared<uint8_t> attenuatorShown;
    Shared<float> cpuTemp[2]; // plain stores: the refresh tick's sensor, or storage's my_temp
    SharedText<80> dateText;
    Shared<int> tsThresholds[4];
    Shared<uint8_t> panelCmd;
    Shared<uint8_t> clockIdle; // 1: the converter clock idles high
    SharedText<11> generalSettings;
    SharedFlags<uint8_t> startupFlags;
    SharedFlags<uint8_t> anFlags;
    Shared<uint8_t> relayDrive;
    Shared<uint8_t> supplyAdc[4];
    QuietText<3> lastCmd; // two letters and the terminator (the link's own, not drawn)
    QuietShared<int> retryState;
    Shared<int> retryTotal, retryCount, retryStops;
    Shared<int> ModeWorkIdx;
    // What each frequency source read last (tuner/Sources.h), by work mode.
    SourceState source[kModeWorkCount];
    Shared<uint8_t> catMode; // mode byte of the last FT-817 answer
    Shared<int> catSerFD;    // FT-817 port
    Shared<int> catFD;       // transceiver CAT port of the relay
    // Program ms of the last transmit command a remote operator sent through
    // the relay (0: none); written by the session thread, read when it ends.
    Shared<int64_t> remoteTxCmdMs;
    Shared<uint8_t> catEnded;
    SharedFlags<uint8_t> serviceFlags; // menu, keyboard (F10), link ("MR1;")
    Shared<uint8_t> microResetSeen;

    // Banks and flags at the end of the record. NumBanco and MAXbank: the bank
    // lock, as the table above. remoteRestart: a failing remote service turns its
    // own flag off and then asks; the switch of the remote services
    // (core/Services.h) looks at the request and starts services under its lock.
    Shared<int> NumBanco;
    Shared<int> MAXbank;
    Shared<int> errHoldoffMs;
    Shared<uint8_t> remoteRestart;
    Shared<uint8_t> logTempStarted;

    // Progress of the threads the service watchdog watches. Written by: each
    // thread its own (link, keys, refresh); read by main.
    Heartbeat linkBeat{"link"};
    Heartbeat keysBeat{"keys"};
    Heartbeat refreshBeat{"refresh"};
};

// The 120 W model: its second model byte is '1'. It has its own pictures and a
// 120 W forward scale.
inline bool HighPowerModel(const Works* works) { return works->ident.eeModel[1] == '1'; }

// Zero-fills a record (what main does before InitGlobalVar).
void ZeroWorks(Works* works);
// Sets every start value into a zero-filled record, and the start values of the
// meter, peak and long-press globals. Neither clears the record nor touches the
// setup record. It is InitRunState followed by InitSettingMirrors.
void InitGlobalVar(Works* works);
// Start values of the run-time state: run flag, link identity, measurements,
// thresholds, meter scales, connection. The command queue keeps what is queued.
void InitRunState(Works* works);
// Start values of the numbers that mirror setup-file keys: each key's value in
// a new file (core/Settings.h). A setup-file read starts
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

// The page's text and its code as one pair (the refresh thread draws them).
int DeviceErrorShown(Works* works, char* text, size_t size);
// The page's keys and the refresh tick move the code on only from the value
// they saw (a retry to -1, its end to 0): a device that failed in between keeps
// its page. False when the code had changed.
bool DeviceErrorStep(Works* works, int from, int to);

// A port that hung up: logs "<link>: device <dev> went away" at error level and
// shows it on the device-error page with `code`, whose retry key opens it again.
void DeviceWentAway(Works* works, int code, const char* link, const char* dev);

// The amplifier's operating point (antennaIdx, attenuator, attenuatorShown,
// anState) is chosen by the keys, by the bank row of the frequency (refresh)
// and by the amplifier's own echoes and the tuning search (link): each change
// is a decision on the current values plus the command that sends it, made
// under this lock. Nothing waits for a device or a file while it is held.
std::mutex& OperatingPointMutex();
using OperatingPointLock = std::lock_guard<std::mutex>;

// Sleeps up to `ms` milliseconds, waking early once `running` is cleared.
void SleepWhileRunning(Works* works, int ms);

