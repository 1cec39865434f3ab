// The table of the frequency sources, in work-mode order.
#include "tuner/Sources.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "trx/Serial.h"
#include "tuner/Hamlib.h"

#include <cstdio>
#include <cstring>

namespace {

// The transceiver link's row: its data, or that it has none.
void extIoRow(Works* w, char* text, size_t size) {
    std::snprintf(text, size, "%s", ExistError(w, kAlarmTavExtio) ? "No EXT IO data" : "EXT IO connected");
}

// The transceiver's link is off in Hamlib's mode: its row shows the rig.
void rigRow(Works* w, char* text, size_t size) {
    char rig[120];
    HamlibStatusText(w, rig, sizeof rig);
    std::snprintf(text, size, "Rig: %s", rig);
}

// clang-format off
const FreqSource kSources[] = {
    {.mode = kModeGeneric, .name = "Generic", .marker = "!Gen", .hasThread = false,
     .service = Service::Linear, .run = nullptr, .amplifierCounts = true,
     .followsTransceiver = false, .stopAlarm = -1, .errorPage = kDevErrNone, .escOff = nullptr,
     .statusRow = extIoRow},
    {.mode = kModeTav, .name = "VRNTAV", .marker = "!Tav", .hasThread = true,
     .service = Service::TrxSerial, .run = [](Works* w) -> Flag* { return &w->setup->serialLinkEnabled; },
     .amplifierCounts = false, .followsTransceiver = true, .stopAlarm = kAlarmTavExtio,
     .errorPage = kDevErrSerial, .escOff = [](SetupRecord& r) -> Flag& { return r.serialLinkEnabled; },
     .statusRow = extIoRow},
    {.mode = kModeFt817, .name = " FT-817", .marker = "!817", .hasThread = true,
     .service = Service::Ft817, .run = [](Works* w) -> Flag* { return &w->setup->catSerialEnabled; },
     .amplifierCounts = false, .followsTransceiver = false, .stopAlarm = -1,
     .errorPage = kDevErrCat, .escOff = [](SetupRecord& r) -> Flag& { return r.EnableCAT; },
     .statusRow = extIoRow},
    {.mode = kModeHamlib, .name = "Hamlib", .marker = "!Ham", .hasThread = true,
     .service = Service::Hamlib, .run = [](Works* w) -> Flag* { return &w->source[kModeHamlib].run; },
     .amplifierCounts = false, .followsTransceiver = false, .stopAlarm = -1,
     .errorPage = kDevErrCat, .escOff = nullptr, .statusRow = rigRow},
};
// clang-format on
static_assert(sizeof kSources / sizeof kSources[0] == kModeWorkCount, "one source a work mode");

} // namespace

const FreqSource* SourceOfMode(int mode) {
    return mode >= 0 && mode < kModeWorkCount ? &kSources[mode] : nullptr;
}

const FreqSource* CurrentSource(Works* w) { return SourceOfMode(w->ModeWorkIdx); }

const FreqSource* SourceOfService(Service service) {
    for (const FreqSource& s : kSources)
        if (s.hasThread && s.service == service)
            return &s;
    return nullptr;
}

const FreqSource* SourceOfErrorPage(Works* w, int code) {
    const FreqSource* now = CurrentSource(w);
    if (now && now->errorPage == code)
        return now;
    for (const FreqSource& s : kSources)
        if (s.errorPage == code && code != kDevErrNone)
            return &s;
    return nullptr;
}

int SourceModeOfMarker(const char* line) {
    for (const FreqSource& s : kSources)
        if (std::strncmp(line, s.marker, std::strlen(s.marker)) == 0)
            return s.mode;
    return -1;
}

const char* SourceName(int mode) {
    const FreqSource* s = SourceOfMode(mode);
    return (s ? s : &kSources[0])->name;
}

int SourceFreqHz(Works* w, int mode) {
    const FreqSource* s = SourceOfMode(mode);
    if (s && s->followsTransceiver) {
        TrxParameters p{};
        getParameters(&p, w);
        return static_cast<int>(p.activeFreq);
    }
    return s ? w->source[mode].freqHz.load() : 0;
}
