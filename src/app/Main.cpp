// Start-up sequence, splash and shutdown.
//
// main owns the shared record, the setup record, the transceiver parameter
// record and the three mutexes for the life of the process; they live in static
// storage here, never on the heap.
#include "app/Main.h"

#include "core/AlarmList.h"
#include "amp/LinearPort.h"
#include "amp/Temperature.h"
#include "app/AggFw.h"
#include "app/Threads.h"
#include "core/Keyb.h"
#include "core/RemoteCode.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Signals.h"
#include "platform/Watchdog.h"
#include "trx/Serial.h"
#include "tuner/Bands.h"
#include "tuner/Banks.h"
#include "draw/Fb.h"
#include "ui/GPIO.h"
#include "ui/Keys.h"
#include "wire/Tls.h"
#include "ui/Network.h"
#include "ui/Nuova.h"
#include "draw/Png.h"
#include "draw/TTF.h"
#include "ui/Time.h"
#include "web/Certificate.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <opus/opus.h>

Shared<int> waitTAV;
Shared<int> startInitThread;

namespace {

Works g_works;

SetupRecord g_setup;
TrxParameters g_trxParams;
std::mutex g_connMut;
std::mutex g_wsSendMut;
std::mutex g_serMut;

} // namespace

void CreateAudioCodec(Works* w) {
    int err = 0;
    w->audio.opusEncoder = opus_encoder_create(w->audio.audioRate, 2, OPUS_APPLICATION_AUDIO, &err);
    if (err != OPUS_OK || !w->audio.opusEncoder) {
        LogErr("failed to create an encoder: %s", opus_strerror(err));
        w->audio.opusEncoder = nullptr;
        w->settings.audioBitrate = 0;
        return;
    }
    err = opus_encoder_ctl(w->audio.opusEncoder, OPUS_SET_BITRATE(w->settings.audioBitrate.load()));
    if (err != OPUS_OK) {
        LogErr("failed to set bitrate: %s", opus_strerror(err));
        opus_encoder_destroy(w->audio.opusEncoder);
        w->audio.opusEncoder = nullptr;
        w->settings.audioBitrate = 0;
        return;
    }
    w->audio.opusDecoder = opus_decoder_create(w->audio.audioRate, 2, &err);
    if (err != OPUS_OK || !w->audio.opusDecoder) {
        LogErr("failed to create decoder: %s", opus_strerror(err));
        w->audio.opusDecoder = nullptr;
        opus_encoder_destroy(w->audio.opusEncoder);
        w->audio.opusEncoder = nullptr;
        w->settings.audioBitrate = 0;
    }
}

void DestroyAudioCodec(Works* w) {
    if (w->audio.opusEncoder)
        opus_encoder_destroy(w->audio.opusEncoder);
    if (w->audio.opusDecoder)
        opus_decoder_destroy(w->audio.opusDecoder);
    w->audio.opusEncoder = nullptr;
    w->audio.opusDecoder = nullptr;
}

namespace {

// Joins in the fixed order, logging the joins whose service was enabled. A
// thread whose service was switched off at run time has ended; it is joined
// quietly so no handle outlives the program.
void joinAll(Works* w) {
    SetupRecord* s = w->setup;
    struct Join {
        ThreadSlot* handle;
        bool enabled;
        const char* message;
    } joins[] = {
        {&SlotOf(Thread::Keyboard), s->EnableKeyb == '1', "Communicator joined Key end"},
        {&SlotOf(Thread::UsbRx), s->EnableFFT == '1', "Communicator joined FFT end"},
        {&SlotOf(Thread::AudioIn), s->EnableRead == '1', nullptr},
        {&SlotOf(Thread::AudioOut), s->EnableWrite == '1', nullptr},
        {&SlotOf(Thread::Socket), s->WebSocket != '0', "Communicator joined Wsocket end"},
        {&SlotOf(Thread::CatRelay), s->EnableCAT == '1', "Communicator joined Cat end"},
        {&SlotOf(Thread::Ft817), s->catSerialEnabled == '1', "Communicator joined CatSerial end"},
        {&SlotOf(Thread::Hamlib), w->source[kModeHamlib].run == '1', "Communicator joined Hamlib end"},
        {&SlotOf(Thread::Web), SettingNumber(w, "WebPort") > 0, nullptr},
        {&SlotOf(Thread::Ampctl), SettingNumber(w, "AmpctlPort") > 0, nullptr},
        {&SlotOf(Thread::TrxSerial), s->serialLinkEnabled == '1', "Communicator joined Serial end"},
        {&SlotOf(Thread::Link), s->EnableLinear == '1', "Communicator joined Linear end"},
        {&SlotOf(Thread::Refresh), s->EnableTime == '1', "Communicator joined Time end"},
        {&SlotOf(Thread::Gpio), s->EnableGPIO == '1', "Communicator joined GPIO end"},
    };
    for (Join& j : joins) {
        JoinThread(*j.handle);
        if (j.enabled && j.message)
            LogInfo("%s", j.message);
    }
    // The refresh tick, which starts the time limit's guard, has ended.
    StopJob(Job::TxLimit, 0);
    JoinThread(SlotOf(Thread::Splash));
    JoinThread(SlotOf(Thread::FwUpdate));
}

// The service watchdog's view of the three threads whose hang leaves the
// amplifier unattended or the panel dead. The keys' time-out is the longest:
// key actions run on that thread and may save tables or redraw pages; while a
// thread waits for a shell command (an update, a network restart) it has minutes.
struct ServiceWatch {
    ProgressWatch link, keys, refresh;
};

constexpr int64_t kLinkTimeoutMs = 15000;
constexpr int64_t kKeysTimeoutMs = 30000;
constexpr int64_t kRefreshTimeoutMs = 15000;
constexpr int64_t kCommandTimeoutMs = 15 * 60 * 1000;

void startWatch(Works* w, ServiceWatch* sw) {
    const int64_t now = plat_mono_ms();
    auto init = [&](ProgressWatch& p, Heartbeat& beat, int64_t timeoutMs) {
        p = ProgressWatch{};
        p.beat = &beat;
        p.timeoutMs = timeoutMs;
        p.commandTimeoutMs = kCommandTimeoutMs;
        p.seenPasses = beat.passes.load(std::memory_order_relaxed);
        p.seenAtMs = now;
    };
    init(sw->link, w->linkBeat, kLinkTimeoutMs);
    init(sw->keys, w->keysBeat, kKeysTimeoutMs);
    init(sw->refresh, w->refreshBeat, kRefreshTimeoutMs);
}

// Every thread looked at (each logs its own stall), alive only if all move.
bool threadsAlive(ServiceWatch* sw) {
    const int64_t now = plat_mono_ms();
    bool alive = plat_watch_progress(&sw->link, ThreadRunning(SlotOf(Thread::Link)), now);
    alive &= plat_watch_progress(&sw->keys, ThreadRunning(SlotOf(Thread::Gpio)), now);
    alive &= plat_watch_progress(&sw->refresh, ThreadRunning(SlotOf(Thread::Refresh)), now);
    return alive;
}

} // namespace

void LoadThread(Works* w) {
    int count = waitTAV;
    while (startInitThread) {
        fbSetBack(w->fb);
        plat_sleep_ms(1000);
        // main may have moved on to the next picture while we slept.
        if (!startInitThread)
            break;
        char text[32];
        std::snprintf(text, sizeof text, "Loading ...%2d", count--);
        {
            PictureLock lock(PictureMutex());
            putString(9, 300, 400, text, 255, 255, 255, w->fb);
            fbRealize(w->fb);
        }
        LogOut("Time %s..\n", text);
    }
}

namespace {

// The record set up and the settings read, as the threads will find them.
void loadSettings(Works* w, FrameBuffer* fb) {
    ZeroWorks(w);
    w->fb = fb;
    w->ident.swVersion.set(kSwVersion);
    w->setup = &g_setup;
    w->connMut = &g_connMut;
    w->wsSendMut = &g_wsSendMut;
    w->serMut = &g_serMut;
    w->trxParams = &g_trxParams;

    InitGlobalVar(w);
    // The alarm texts and flags are needed as soon as the link runs, well
    // before the menus are built.
    InitErrorTable(w);
    lan.CntIP = 3;
    lan.CntDNS = 3;
    lan.CntNetMask = 3;
    lan.CntGateway = 3;

    ReadConfigFile(w);
    InitMicroCmd(w);
    ReadVentolaFile(w);
    LoadTabFiltri(w);
    readSetup(w);
    LoadRemoteCode(w);
    // Made before the console starts, so that its first browser meets it.
    if (SettingNumber(w, "WebPort") > 0)
        LoadWebCertificate(w);
    // The link's key is derived once, here, not while a peer waits for it.
    char code[16];
    w->remotePassword.copyTo(code, sizeof code);
    TlsPsk psk;
    if (code[0])
        TlsPskFor(code, &psk);
    LoadAllBankTable(w, w->NumBanco);
    w->antennaRowIdx = kNoAntennaRow;
    LogOut("ModeWorkIdx %i \n", w->ModeWorkIdx.load());

    ReadLanParam();
    LoadFonts();
}

// The start-up picture and its count-down while the link finds the amplifier.
void splash(Works* w) {
    waitTAV = 5;
    w->lastKeyTime = static_cast<int64_t>(plat_mono_s());
    {
        PictureLock lock(PictureMutex());
        LoadSkin(w, HighPowerModel(w) ? "start120" : "start", 1);
        fbSetBack(w->fb);
        fbRealize(w->fb);
    }
    startInitThread = 1;
    StartWorker(SlotOf(Thread::Splash), "splash", LoadThread, w);
    plat_sleep_ms((waitTAV + 1) * 1000);
    startInitThread = 0;
    // The splash ends before the next picture is drawn.
    // The refresh tick, which starts the time limit's guard, has ended.
    StopJob(Job::TxLimit, 0);
    JoinThread(SlotOf(Thread::Splash));
}

// The threads of the running panel, after the splash.
void startServices(Works* w) {
    TrxParameters params;
    getParameters(&params, w);
    w->freqHz = params.activeFreq;

    if (w->settings.audioBitrate > 0)
        CreateAudioCodec(w);

    if (g_setup.EnableKeyb == '1')
        StartWorker(SlotOf(Thread::Keyboard), "keyboard", keyb, w);
    StartThreadSoket(w);
    StartThreadTAV(w);

    // A unit that was in remote operation comes back in it: the services whose
    // flags are on start here, StartThreadCommRemote turns on the rest.
    if (g_setup.EnableWrite == '1' || g_setup.EnableRead == '1' || g_setup.EnableCAT == '1' ||
        g_setup.EnableFFT == '1') {
        SwitchRemoteServices(w, RemoteSwitch::Resume);
        w->remoteEnabled = 1;
    }

    StartThreadCATserial(w);
    StartThreadHamlib(w);
    StartThreadWeb(w);
    StartThreadAmpctl(w);
    // The refresh thread starts on the operating page: its first tick loads the
    // page's picture over the start-up one.
    w->meters.skinReload = 1;
    if (g_setup.EnableTime == '1')
        StartWorker(SlotOf(Thread::Refresh), "refresh", timer, w);
}

} // namespace

int PanelMain() {
    Works* w = &g_works;
    plat_signals_init(); // before any thread: they inherit the signal mask
    InstallServiceHooks();

    LogOut("START Main ----------------------------------------------------------------\n");
    LogInfoOut("TAV ZIM version %s", kSwVersion);

    FrameBuffer* fb = fbInit();
    if (!fb) {
        // Keep running without a panel: the amplifier still needs its link,
        // protection and remote operation.
        LogErr("No framebuffer: drawing in memory only");
        fb = fbInitMemory(800, 480, 32);
        if (!fb) {
            LogErr("Unable to allocate framebuffer structure");
            return 1;
        }
    }

    loadSettings(w, fb);

    // From here on the files under /opt/set and the commands are its work.
    StartThreadStorage(w);
    if (g_setup.EnableGPIO == '1')
        StartWorker(SlotOf(Thread::Gpio), "keys", GPIO, w);
    StartThreadLinear(w);
    plat_sleep_ms(1000);

    splash(w);

    StartWorker(SlotOf(Thread::FwUpdate), "fw-update", AggFWThread, w);

    InitMenu(w);
    {
        PictureLock lock(PictureMutex());
        LoadSkin(w, "statusB", 1);
        fbSetBack(w->fb);
        fbRealize(w->fb);
        LoadButtons(w);
    }

    startServices(w);

    // Under systemd: started, and from now on watched. The alive report goes
    // out at least four times per watchdog interval.
    ServiceWatch watch;
    startWatch(w, &watch);
    const uint64_t watchdogUs = plat_sd_watchdog_usec();
    int waitMs = 1000;
    if (watchdogUs > 0) {
        const int64_t quarterMs = static_cast<int64_t>(watchdogUs / 4000) * plat_time_scale();
        waitMs = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(waitMs, quarterMs)));
        LogInfo("watchdog: alive every %d ms while the link, keys and refresh threads move",
                waitMs);
    }
    plat_sd_notify("READY=1");

    // SIGTERM and SIGINT end the program as F12 does.
    while (w->running) {
        if (const int sig = plat_wait_stop_signal(waitMs)) {
            LogInfo("Exited by %s", plat_signal_name(sig));
            w->running = 0;
        }
        if (watchdogUs > 0 && threadsAlive(&watch))
            plat_sd_notify("WATCHDOG=1");
    }
    plat_sd_notify("STOPPING=1");

    LogOut("Close..\n");
    {
        PictureLock lock(PictureMutex());
        LoadSkin(w, "start", 1);
        fbSetBack(w->fb);
        fbRealize(w->fb);
        fbSetBack(w->fb);
        putString(9, 330, 400, "Error! Close Program! Restart hw.", 255, 255, 255, w->fb);
        fbRealize(w->fb);
    }
    plat_sleep_ms(2000);

    LogInfo("Communicator operations end");
    plat_threads_closing();
    joinAll(w);
    // What the others queued is written now, the read-only remount last.
    StopThreadStorage();
    if (w->settings.audioBitrate > 0)
        DestroyAudioCodec(w);
    LogOut("Closed!\n");
    return 0;
}
