// Thread starters and the remote-service start and stop.
#include "app/Threads.h"

#include "amp/Alarms.h"
#include "amp/Linear.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "remote/Wsocket.h"
#include "remote/th_leggi.h"
#include "remote/th_scrivi.h"
#include "trx/Serial.h"
#include "trx/TavRead.h"
#include "tuner/CAT.h"
#include "tuner/CATserial.h"

#include <cstdio>

ThreadSlot thrGPIO, thrLin, thrTime, thrKey, thrWsock, thrSer, thrCat, thrCatSer, thrFFT, thrLeggi,
    thrScrivi, thInit, thAggFw;

bool StartWorker(ThreadSlot& slot, const char* name, void (*body)(Works*), Works* w) {
    return StartThread(slot, name, [body, w] { body(w); });
}

// A link that could not get its thread shows its device-error page, whose retry
// key tries again.
void StartThreadLinear(Works* w) {
    if (w->setup->EnableLinear == '1' && !StartWorker(thrLin, "Linear", Linear, w))
        RaiseDeviceError(w, kDevErrLinear, "Linear: cannot start thread");
}

void StartThreadSoket(Works* w) {
    if (w->setup->WebSocket == '1') {
        std::fprintf(stderr, ">>>>>>>>>> SOCKET SERVER start\n");
        StartWorker(thrWsock, "Wsocket", Wsocket, w);
    } else if (w->setup->WebSocket == '2') {
        std::fprintf(stderr, ">>>>>>>>>> SOCKET CLIENT start\n");
        StartWorker(thrWsock, "Wclient", Wclient, w);
    }
}

void StartThreadTAV(Works* w) {
    if (w->setup->serialLinkEnabled == '1') {
        std::fprintf(stderr, "TAVread start\n");
        if (!StartWorker(thrSer, "Serial", Serial, w))
            RaiseDeviceError(w, kDevErrSerial, "Serial: cannot start thread");
    }
}

void StartThreadAudioWrite(Works* w) {
    if (w->setup->EnableWrite == '1') {
        std::fprintf(stderr, "Th_scrivi start\n");
        if (!StartWorker(thrScrivi, "th_scrivi", th_scrivi, w))
            AddErrore(w, kAlarmAudioWrite);
    }
}

void StartThreadAudioRead(Works* w) {
    if (w->setup->EnableRead == '1') {
        std::fprintf(stderr, "Th_leggi start\n");
        if (!StartWorker(thrLeggi, "th_leggi", th_leggi, w))
            AddErrore(w, kAlarmAudioRead);
    }
}

void StartThreadCAT(Works* w) {
    if (w->setup->EnableCAT == '1') {
        std::fprintf(stderr, "Cat.c start\n");
        if (!StartWorker(thrCat, "Cat", Cat, w))
            AddErrore(w, kAlarmRemoteCat);
    }
}

void StartTavReadFFT(Works* w) {
    if (w->setup->EnableFFT == '1' && !StartWorker(thrFFT, "TAVRead", TAVRead, w))
        RaiseDeviceError(w, kDevErrUsb, "TAVRead: cannot start thread");
}

void StartThreadCATserial(Works* w) {
    if (w->setup->catSerialEnabled == '1' && !StartWorker(thrCatSer, "CatSerial", CatSerial, w))
        RaiseDeviceError(w, kDevErrCat, "CAT: cannot start thread");
}

void StartThreadCommRemote(Works* w) {
    SetupRecord* s = w->setup;
    w->remoteRestart = 0;
    struct Service {
        Flag* flag;
        void (*start)(Works*);
    } services[] = {{&s->EnableWrite, StartThreadAudioWrite},
                    {&s->EnableRead, StartThreadAudioRead},
                    {&s->EnableCAT, StartThreadCAT},
                    {&s->EnableFFT, StartTavReadFFT}};
    for (Service& sv : services) {
        if (*sv.flag == '0') {
            *sv.flag = '1';
            sv.start(w);
        }
    }
    writeSetup(w);
    w->panelCmd = 0x95;
}

void ExitThreadRemote(Works* w) {
    SetupRecord* s = w->setup;
    s->EnableWrite = '0';
    s->EnableRead = '0';
    s->EnableCAT = '0';
    s->EnableFFT = '0';
    // The four threads watch their flag and end.
    plat_sleep_ms(500);
    for (int code : {kAlarmAudioRead, kAlarmAudioWrite, kAlarmRemoteUsb, kAlarmRemoteCat})
        DeleteErrore(w, code);
    writeSetup(w);
    w->panelCmd = 0xA5;
    std::fprintf(stderr, ">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
}
