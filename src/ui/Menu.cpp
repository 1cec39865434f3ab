// The settings menu: the settings' rows (core/Settings.h) and the menu's own
// entries describe each entry (number, title, item, value and its text, edit
// rule, what ENTER does, the setup key it saves and its scaling), shown by
// number; ModifyParameter and LoadParameterMenu only read them.
#include "ui/Menu.h"

#include "core/AlarmList.h"
#include "core/CmdRing.h"
#include "amp/Temperature.h"
#include "core/Services.h"
#include "core/Keyb.h"
#include "core/RemoteCode.h"
#include "core/Setup.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "tuner/Banks.h"
#include "ui/Network.h"
#include "ui/Nuova.h"
#include "ui/RemoteChecks.h"
#include "ui/Time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const char* const kLocalRemote[2] = {"Local", "Remote"};
const char* const kDefaults[2] = {"No Default", "Set Default"};
const char* const kOffHw[1] = {"OFF"};
const char* const kOFFON[2] = {"OFF", "ON"};

void save(Works* w) { writeSetup(w); }

// Switching between local and remote operation (leaving local checks that the
// transceiver, its CAT port, its audio and the serial link are there).
void remoteChoice(Works* w) {
    // The "Remote not started" notice of a failed check lasts until the choice
    // changes again.
    w->pages.keyNotice.clear(4);
    if (w->remoteEnabled) {
        w->remoteEnabled = 0;
        return;
    }
    if (w->setup->EnableFFT != '0') {
        w->remoteEnabled = 1;
        return;
    }
    // The storage thread's last probe (its entry, while up, keeps it fresh);
    // another is asked for, which a unit without the thread runs at once.
    RemoteChecksRequest(w);
    const RemoteCheckResults checks = RemoteChecksLast();
    const int i = checks.transceiver;
    const int j = checks.audio;
    const char ser = w->setup->serialLinkEnabled;
    LogOut("j=%d i=%d enaser=%c\n", j, i, ser);
    if (i == 0 && j > 0 && ser == '1') {
        w->remoteEnabled = 1;
        w->remoteRestart = 0;
        LogOut("Remote GO!\n");
        return;
    }
    w->remoteRestart = 1;
    if (i == 1)
        AddErrore(w, kAlarmRemoteUsb);
    else if (i == 2)
        AddErrore(w, kAlarmRemoteCat);
    else if (i == 3)
        AddErrore(w, kAlarmAudioRead);
    if (j == 0)
        AddErrore(w, kAlarmAudioMissing);
    if (ser != '1')
        AddErrore(w, kAlarmTavMode);
    w->pages.keyNotice.set(4); // "Set to Local Mode: Remote not started. Verify connections"
    LogOut("Remote ERROR!\n");
}

int remoteMode(Works* w, int action) {
    if (action != kMenuEnter) {
        remoteChoice(w);
        return 0;
    }
    if (w->remoteEnabled) {
        if (w->setup->WebSocket == '0') {
            w->setup->WebSocket = '1';
            StartService(w, Service::Socket);
        }
        SwitchRemoteServices(w, RemoteSwitch::On);
    } else {
        SwitchRemoteServices(w, RemoteSwitch::Off);
    }
    return 0;
}

// Point Div: 1, 2, 5, 10, 20.
int pointDiv(Works*, int action) {
    int v = plot.PointDiv;
    if (action == kMenuPlus && v < 20) {
        v *= 2;
        if (v == 4)
            v = 5;
    }
    if (action == kMenuMinus && v >= 2)
        v /= 2;
    plot.PointDiv = v;
    return 0;
}

int factoryDefault(Works* w, int) {
    if (!w->pages.factoryArmed)
        return 0;
    DeleteAllBanks(w);
    initSetup(w);
    writeSetup(w);
    readSetup(w);
    // The access code is the unit's, not a setting: its file stays, and the
    // code in use is the file's again, as after a start.
    LoadRemoteCode(w);
    // The tables in memory are those of the deleted files: without a reload the
    // next save to a bank would write the old rows back.
    LoadAllBankTable(w, w->NumBanco);
    w->antennaRowIdx = kNoAntennaRow;
    w->pages.factoryArmed = 0;
    return 0;
}

int offHw(Works* w, int) {
    w->panelCmd = 0x85; // the converter switches the unit off
    return 0;
}

int fwUpdate(Works* w, int) {
    if (w->serviceFlags.test(1)) {
        IncPNTIn_CMDLinear(kCmdFwUpdate, w);
        LogOut("Start AGGFW\n");
    }
    return 0;
}

int uiUpdate(Works* w, int) {
    if (w->serviceFlags.test(8)) {
        LogOut("Start AGG UI...\n");
        StorageCommand("/opt/TavZim/getpack.sh");
    }
    return 0;
}

int remoteService(Works* w, int) {
    if (w->serviceFlags.test(2)) {
        RemoteConnection();
        LogOut("Start REMOTE SRV\n");
    }
    return 0;
}

// REMOTE CODE: PLUS and MINUS step the symbol under the cursor through the
// set, LEFT and RIGHT move the cursor, wrapping as an address's octets do. The
// code in use changes only on ENTER, so that a caller meanwhile meets the old
// code, not half of a new one.
int remoteCodeKeys(Works* w, int action) {
    if (action == kMenuEnter) {
        if (w->pages.codeEditing) {
            char code[kRemoteCodeLength + 1];
            w->pages.codeEdit.copyTo(code, sizeof code);
            SaveRemoteCode(w, code);
            w->pages.codeEditing = 0;
        }
        return 0;
    }
    if (!w->pages.codeEditing) {
        // From the code in use; where there is none yet, or it has symbols
        // outside the set, those positions start at the first symbol.
        char code[kRemoteCodeLength + 1];
        w->remotePassword.copyTo(code, sizeof code);
        bool ended = false;
        for (int i = 0; i < kRemoteCodeLength; i++) {
            ended = ended || code[i] == '\0';
            code[i] = RemoteCodeSymbolAfter(ended ? '\0' : code[i], 0);
        }
        code[kRemoteCodeLength] = '\0';
        w->pages.codeEdit.set(code);
        w->pages.codeCursor = 0;
        w->pages.codeEditing = 1;
    }
    int c = w->pages.codeCursor;
    c = c < 0 || c >= kRemoteCodeLength ? 0 : c;
    switch (action) {
    case kMenuPlus:
    case kMenuMinus:
        w->pages.codeEdit.put(static_cast<size_t>(c),
                        RemoteCodeSymbolAfter(w->pages.codeEdit.at(static_cast<size_t>(c)),
                                              action == kMenuPlus ? 1 : -1));
        break;
    case kMenuLeft:
        c = c == 0 ? kRemoteCodeLength - 1 : c - 1;
        break;
    case kMenuRight:
        c = c == kRemoteCodeLength - 1 ? 0 : c + 1;
        break;
    default:
        break;
    }
    w->pages.codeCursor = c;
    return 0;
}

void remoteCodeText(Works* w, char* text, size_t size) {
    if (w->pages.codeEditing)
        w->pages.codeEdit.copyTo(text, size);
    else
        w->remotePassword.copyTo(text, size);
}

// NEW REMOTE CODE: armed by any action, drawn on ENTER; it shows the code in use.
int newRemoteCode(Works* w, int) {
    if (!w->pages.newCodeArmed)
        return 0;
    NewRemoteCode(w);
    w->pages.newCodeArmed = 0;
    return 0;
}

void newRemoteCodeText(Works* w, char* text, size_t size) {
    if (w->pages.newCodeArmed)
        std::snprintf(text, size, "New code?");
    else
        w->remotePassword.copyTo(text, size);
}

void setBit(SharedFlags<uint8_t>& flags, uint8_t bit, double on) {
    if (on)
        flags.set(bit);
    else
        flags.clear(bit);
}

// The menu's entries that are no setting of their own; the settings' entries
// come from their rows (core/Settings.h), and the menu shows both by number.
// clang-format off
const MenuSpec kOwnEntries[] = {
    {.number = kMenuRemoteModeNumber, .title = "TAV ZIM USE MODE", .item = " ",
     .get = [](Works* w) -> double { return w->remoteEnabled ? 1 : 0; },
     .set = nullptr, .format = "%s", .choices = kLocalRemote, .choiceCount = 2,
     .edit = MenuEdit::Own, .enter = MenuEnter::Own, .itemZeroOnly = true, .own = remoteMode},
    {.number = 10, .title = "NETWORK LAN", .item = "IP", .edit = MenuEdit::Address, .enter = MenuEnter::Lan},
    {.number = 11, .title = "NETWORK LAN", .item = "SUBNET", .edit = MenuEdit::Address, .enter = MenuEnter::Lan},
    {.number = 12, .title = "NETWORK LAN", .item = "GATEWAY", .edit = MenuEdit::Address, .enter = MenuEnter::Lan},
    {.number = 13, .title = "NETWORK LAN", .item = "DNS", .edit = MenuEdit::Address, .enter = MenuEnter::Lan},
    // The plot's values live for the process only.
    {.number = 14, .title = "PLOT", .item = "Ref Lev",
     .get = [](Works*) -> double { return plot.RefLevel; },
     .set = [](Works*, double v) { plot.RefLevel = static_cast<int>(v); },
     .format = "%d", .edit = MenuEdit::Step, .step = 10, .enter = MenuEnter::Nothing},
    {.number = 15, .title = "PLOT", .item = "Ref Pos",
     .get = [](Works*) -> double { return plot.RefPos; },
     .set = [](Works*, double v) { plot.RefPos = static_cast<int>(v); },
     .format = "%d", .edit = MenuEdit::Step, .step = 1, .lo = 0, .hi = 10, .bound = MenuBound::Keep,
     .enter = MenuEnter::Nothing},
    {.number = 16, .title = "PLOT", .item = "Point Div",
     .get = [](Works*) -> double { return plot.PointDiv; },
     .set = nullptr, .format = "%d", .edit = MenuEdit::Own, .enter = MenuEnter::Nothing, .own = pointDiv},
    {.number = 57, .title = "FACTORY DEFAULT", .item = " ",
     .get = [](Works* w) -> double { return w->pages.factoryArmed ? 1 : 0; },
     .set = [](Works* w, double v) { w->pages.factoryArmed = static_cast<uint8_t>(v); },
     .format = "%s", .choices = kDefaults, .choiceCount = 2, .enter = MenuEnter::Own,
     .itemZeroOnly = true, .own = factoryDefault},
    // The code a caller must give: read on the status page of the unit called,
    // typed here on the unit that calls.
    {.number = 94, .title = "REMOTE CODE", .item = " ", .edit = MenuEdit::Own,
     .enter = MenuEnter::Own, .own = remoteCodeKeys, .positions = true, .show = remoteCodeText},
    {.number = 95, .title = "NEW REMOTE CODE", .item = " ",
     .get = [](Works* w) -> double { return w->pages.newCodeArmed ? 1 : 0; },
     .set = [](Works* w, double v) { w->pages.newCodeArmed = static_cast<uint8_t>(v); },
     .enter = MenuEnter::Own, .own = newRemoteCode, .show = newRemoteCodeText},
    // Any action, ENTER too, switches the unit off.
    {.number = 96, .title = "OFF HW", .item = " ", .get = [](Works*) -> double { return 0; },
     .set = nullptr, .format = "%s", .choices = kOffHw, .choiceCount = 1, .edit = MenuEdit::Own,
     .enter = MenuEnter::Own, .itemZeroOnly = true, .own = offHw},
    {.number = 97, .title = "FW UPDATE", .item = " ",
     .get = [](Works* w) -> double { return w->serviceFlags.test(1) ? 1 : 0; },
     .set = [](Works* w, double v) { setBit(w->serviceFlags, 1, v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .enter = MenuEnter::Own,
     .itemZeroOnly = true, .own = fwUpdate},
    {.number = 98, .title = "UI UPDATE", .item = " ",
     .get = [](Works* w) -> double { return w->serviceFlags.test(8) ? 1 : 0; },
     .set = [](Works* w, double v) { setBit(w->serviceFlags, 8, v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .enter = MenuEnter::Own,
     .itemZeroOnly = true, .own = uiUpdate},
    {.number = 99, .title = "REMOTE SERVICE", .item = " ",
     .get = [](Works* w) -> double { return w->serviceFlags.test(2) ? 1 : 0; },
     .set = [](Works* w, double v) { setBit(w->serviceFlags, 2, v); },
     .format = "%s", .choices = kOFFON, .choiceCount = 2, .enter = MenuEnter::Own,
     .itemZeroOnly = true, .own = remoteService},
};
// clang-format on

// One entry as the menu shows it: its description and, for a setting, its row.
struct Entry {
    const MenuSpec* m;
    const SettingRow* row;
    MenuEntryDef def;
};

MenuEntryDef entryDef(const MenuSpec& m) {
    MenuEntryDef e{};
    e.number = m.number;
    for (int i = 0; m.title[i] && i < 20; i++)
        e.title[i] = m.title[i];
    for (int i = 0; m.item[i] && i < 19; i++)
        e.items[0].name[i] = m.item[i];
    e.items[0].leftRight = m.edit == MenuEdit::Address || m.positions ? 1 : 0;
    e.itemCount = 1;
    return e;
}

// The settings' entries and the menu's own, by number; made once, on first use.
const std::vector<Entry>& entries() {
    static const std::vector<Entry> all = [] {
        std::vector<Entry> v;
        int n = 0;
        const SettingRow* rows = SettingRows(&n);
        for (int i = 0; i < n; i++)
            if (rows[i].menu.number > 0)
                v.push_back({&rows[i].menu, &rows[i], entryDef(rows[i].menu)});
        for (const MenuSpec& m : kOwnEntries)
            v.push_back({&m, nullptr, entryDef(m)});
        std::stable_sort(v.begin(), v.end(),
                         [](const Entry& a, const Entry& b) { return a.m->number < b.m->number; });
        return v;
    }();
    return all;
}

const Entry* entryAt(int e) {
    const std::vector<Entry>& all = entries();
    return e >= 0 && e < static_cast<int>(all.size()) ? &all[static_cast<size_t>(e)] : nullptr;
}

double valueOf(Works* w, const Entry& e) {
    if (e.m->get)
        return e.m->get(w);
    return e.row ? SettingMenuValue(w, *e.row) : 0;
}

void setValue(Works* w, const Entry& e, double v) {
    if (e.m->set)
        e.m->set(w, v);
    else if (e.row)
        SetSettingMenuValue(w, *e.row, v);
}

double rounded(double v, double unit) {
    return unit > 0 ? static_cast<double>(std::lround(v * unit)) / unit : std::round(v);
}

// One PLUS or MINUS on a Step entry.
void step(Works* w, const Entry& e, bool plus) {
    const MenuSpec& m = *e.m;
    const double v = valueOf(w, e);
    double next = rounded(v + (plus ? m.step : -m.step), m.unit);
    const double hi = m.hiOf ? m.hiOf(w) : m.hi;
    switch (m.bound) {
    case MenuBound::None:
        break;
    case MenuBound::Wrap:
        if (next > hi)
            next = m.lo;
        if (next < m.lo)
            next = hi;
        break;
    case MenuBound::Clamp:
        next = next < m.lo ? m.lo : next > hi ? hi : next;
        break;
    case MenuBound::Keep:
        if (next < m.lo || next > hi)
            next = v;
        break;
    }
    setValue(w, e, next);
}

// A value with clamped bounds is kept within them whatever the action, ENTER too,
// so that a value from the file outside them is never saved again.
void settle(Works* w, const Entry& e) {
    const MenuSpec& m = *e.m;
    if (m.bound != MenuBound::Clamp)
        return;
    const double v = valueOf(w, e), hi = m.hiOf ? m.hiOf(w) : m.hi;
    if (v < m.lo || v > hi)
        setValue(w, e, v < m.lo ? m.lo : hi);
}

int choiceIndex(Works* w, const Entry& e) {
    const int v = static_cast<int>(valueOf(w, e));
    return v < 0 ? 0 : v >= e.m->choiceCount ? e.m->choiceCount - 1 : v;
}

void enter(Works* w, const MenuSpec& m) {
    switch (m.enter) {
    case MenuEnter::Save:
        save(w);
        break;
    case MenuEnter::FreqSens:
        IncPNTIn_CMDLinear(kCmdFreqSens, w);
        save(w);
        break;
    case MenuEnter::Lan:
        // Remounts /, rewrites the file and restarts the interfaces: slow work.
        StorageJob("network", [] { SaveLanParam(); });
        break;
    case MenuEnter::Nothing:
        break;
    case MenuEnter::Own:
        m.own(w, kMenuEnter);
        break;
    }
}

} // namespace

const MenuEntryDef& MenuTable::operator[](int e) const {
    static const MenuEntryDef none{};
    const Entry* x = entryAt(e);
    return x ? x->def : none;
}
const MenuTable menuPar;

int MenuEntryCount() { return static_cast<int>(entries().size()); }

const char* MenuSetupKey(int entry, int* scale) {
    const Entry* e = entryAt(entry);
    if (!e || !e->row)
        return nullptr;
    if (scale)
        *scale = e->row->scale;
    return e->row->key;
}

bool MenuAddress(int e, MenuAddressRef* ref) {
    switch (e) {
    case 9:
        *ref = {lan.IP_v, &lan.CntIP};
        return true;
    case 10:
        *ref = {lan.NetMask_v, &lan.CntNetMask};
        return true;
    case 11:
        *ref = {lan.Gateway_v, &lan.CntGateway};
        return true;
    case 12:
        *ref = {lan.DNS_v, &lan.CntDNS};
        return true;
    default:
        return false;
    }
}

void MenuPrevious(Works* w) {
    const int n = MenuEntryCount();
    w->pages.menuEntry = w->pages.menuEntry <= 0 ? n - 1 : w->pages.menuEntry - 1;
    w->pages.menuItem = 0;
}

void MenuNext(Works* w) {
    const int n = MenuEntryCount();
    w->pages.menuEntry = w->pages.menuEntry >= n - 1 ? 0 : w->pages.menuEntry + 1;
    w->pages.menuItem = 0;
}

void MenuEditStarts(Works* w) { w->pages.codeEditing = 0; }

bool MenuCodeEdit(Works* w, int e, char* code, size_t size, int* cursor) {
    const Entry* x = entryAt(e);
    if (!x || x->m->show != remoteCodeText)
        return false;
    remoteCodeText(w, code, size);
    const int c = w->pages.codeCursor;
    *cursor = w->pages.codeEditing && c >= 0 && c < kRemoteCodeLength ? c : 0;
    return true;
}

bool MenuItemReadOnly(Works* w) {
    const Entry* x = entryAt(w->pages.menuEntry);
    return x && x->def.items[w->pages.menuItem].readOnly;
}

bool MenuItemLeftRight(Works* w) {
    const Entry* x = entryAt(w->pages.menuEntry);
    return x && x->def.items[w->pages.menuItem].leftRight;
}

int ModifyParameter(Works* w, int action) {
    const int e = w->pages.menuEntry;
    const Entry* x = entryAt(e);
    if (!x)
        return 0;
    const MenuSpec& m = *x->m;
    if (m.itemZeroOnly && !m.actsOnAnyItem && w->pages.menuItem != 0)
        return 0;
    if (action == kMenuEnter) {
        settle(w, *x);
        enter(w, m);
        return 0;
    }
    const bool plus = action == kMenuPlus, minus = action == kMenuMinus;
    const bool leftRight = action == kMenuLeft || action == kMenuRight;
    switch (m.edit) {
    case MenuEdit::Toggle:
        setValue(w, *x, valueOf(w, *x) ? 0 : 1);
        break;
    case MenuEdit::Step:
        if (plus || minus)
            step(w, *x, plus);
        break;
    case MenuEdit::Choice:
        if (plus || minus) {
            const int v = static_cast<int>(valueOf(w, *x)) + (plus ? 1 : -1);
            setValue(w, *x, v >= m.choiceCount ? 0 : v < 0 ? m.choiceCount - 1 : v);
        }
        break;
    case MenuEdit::Next:
        setValue(w, *x, (static_cast<int>(valueOf(w, *x)) + 1) % m.choiceCount);
        break;
    case MenuEdit::Address: {
        MenuAddressRef a{};
        if (MenuAddress(e, &a))
            *a.cursor = ModifyIP(action, *a.cursor, a.octets);
        break;
    }
    case MenuEdit::Own: {
        const int repeat = m.own(w, action);
        settle(w, *x);
        return repeat;
    }
    }
    settle(w, *x);
    if (leftRight && m.lrSaves)
        save(w);
    return ((plus || minus) && m.repeats) || (leftRight && m.lrRepeats);
}

void LoadParameterMenu(Works* w, char* text, size_t size, int e, int item) {
    text[0] = '\0';
    const Entry* x = entryAt(e);
    if (!x)
        return;
    const MenuSpec& m = *x->m;
    if (item != 0 && m.itemZeroOnly)
        return;
    MenuAddressRef a{};
    if (m.show) {
        m.show(w, text, size);
    } else if (m.edit == MenuEdit::Address && MenuAddress(e, &a)) {
        SplitAddrInv(text, static_cast<int>(size), a.octets);
    } else if (m.choices) {
        std::snprintf(text, size, m.format, m.choices[choiceIndex(w, *x)]);
    } else if (m.real) {
        std::snprintf(text, size, m.format, valueOf(w, *x));
    } else {
        std::snprintf(text, size, m.format, static_cast<int>(valueOf(w, *x)));
    }
}
