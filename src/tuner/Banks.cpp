// Antenna bank tables: files, defaults, editing and bank switching.
#include "tuner/Banks.h"

#include "core/Setup.h"
#include "core/Storage.h"
#include "core/TableFields.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/TextFile.h"
#include "tuner/CATserial.h"
#include "tuner/Sources.h"
#include "tuner/TuneMem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What a line that begins with these characters is: a comment or the work-mode
// marker, never a row.
bool isLineMark(char c) { return c == ';' || c == '!'; }

struct DefaultBand {
    const char* name;
    uint32_t low, high;
};
const DefaultBand kDefaults[kAntennaRows] = {
    {"160m", 1800000, 2000000},   {"80m", 3500000, 4000000},   {"60m", 5330500, 5450000},
    {"40m", 7000000, 7300000},    {"30m", 10100000, 10150000}, {"20m", 14000000, 14350000},
    {"17m", 18068000, 18168000},  {"15m", 21000000, 21450000}, {"12m", 24890000, 24990000},
    {"10m", 28000000, 29700000},  {"6m", 50000000, 54000000}};

// One row line: the name before the first blank (7 characters at most; an
// eighth is skipped), then the numbers. A number its field cannot hold (the
// settings have the ranges their keys step through) is refused with a log line
// and the field reads 0, as a number that does not parse.
void parseRow(const char* line, AntennaRow& r, const char* table, int row) {
    char name[8] = {};
    const char* p = line;
    while (*p == ' ' || *p == '\t')
        p++;
    int n = 0;
    while (*p && *p != ' ' && *p != '\t' && n < 7)
        name[n++] = *p++;
    if (n == 7 && *p && *p != ' ' && *p != '\t')
        p++; // the eighth character of a long name is lost
    r.name.set(name);
    if (isLineMark(name[0]))
        LogInfo("%s row %d: name \"%s\" begins with '%c', kept after a blank when saved", table,
                row, name, name[0]);
    TableCursor in{p, table, row};
    uint32_t low = 0, high = 0;
    TableUnsigned(&in, "low frequency", &low);
    TableUnsigned(&in, "high frequency", &high);
    r.freqLow = low;
    r.freqHigh = high;
    struct Setting {
        const char* field;
        long max;
        Shared<uint8_t>* value;
    };
    const Setting settings[4] = {{"amplifier", 1, &r.ampEnable},
                                 {"antenna", 3, &r.antenna},
                                 {"tuner bypass", 1, &r.atuBypass},
                                 {"attenuator", 3, &r.attStep}};
    for (const Setting& s : settings) {
        long v = 0;
        TableInt(&in, s.field, 0, s.max, &v);
        *s.value = static_cast<uint8_t>(v);
    }
    float pwr = 0.0f;
    TableFloat(&in, "pwr", -kTableFloatMax, kTableFloatMax, &pwr);
    r.pwr = pwr;
}

// The marker line of `mode`; a mode that is none is written as the first source's.
std::string markerOf(int mode) {
    const FreqSource* s = SourceOfMode(mode);
    return std::string((s ? s : SourceOfMode(0))->marker) + "\n";
}

} // namespace

bool BandNameOfFreq(Works* w, char* name, size_t size) {
    BankLock held(BankMutex());
    const int64_t f = w->freqHz;
    const int n = w->antennaRowCount;
    for (int i = 0; i < n && i < kAntennaRows; i++) {
        const AntennaRow& r = w->antennaTable[i];
        if (r.freqLow <= f && f <= r.freqHigh) {
            r.name.copyTo(name, size);
            return true;
        }
    }
    return false;
}

std::string BankFileName(int bank) {
    if (bank >= 1 && bank <= 19)
        return "/opt/set/antenna_b" + std::to_string(bank) + ".txt";
    return "/opt/set/antenna.txt";
}

void InitTabAntenna(Works* w, int namesOnly) {
    BankLock held(BankMutex());
    for (int i = 0; i < kAntennaRows; i++) {
        AntennaRow& r = w->antennaTable[i];
        r.name.set(kDefaults[i].name);
        r.freqLow = kDefaults[i].low;
        r.freqHigh = kDefaults[i].high;
        if (!namesOnly) {
            r.ampEnable = 0;
            r.antenna = 1;
            r.atuBypass = 1;
            r.attStep = 0;
            r.pwr = 0.0f;
        }
    }
    w->antennaRowCount = kAntennaRows;
}

int LoadTabConfig(Works* w, int bank) {
    BankLock held(BankMutex());
    for (AntennaRow& r : w->antennaTable)
        r.ampEnable = 0;
    int mode = 0;
    const std::string name = BankFileName(bank);
    std::string queued; // a save not yet written is what the file will hold
    FILE* f = StorageOpenRead(name.c_str(), &queued);
    if (!f) {
        InitTabAntenna(w, 0);
        return 0;
    }
    char line[512];
    int rows = 0;
    while (NextDataLine(f, line, sizeof line)) {
        if (line[0] == '!') {
            const int marked = SourceModeOfMarker(line);
            if (marked >= 0)
                mode = marked;
            continue;
        }
        if (rows >= kAntennaRows)
            break; // at most 11 rows
        parseRow(line, w->antennaTable[rows], name.c_str() + name.rfind('/') + 1, rows + 1);
        rows++;
    }
    std::fclose(f);
    w->antennaRowCount = rows;
    for (int i = 0; i < rows; i++) {
        if (w->antennaTable[i].freqLow == 0 || w->antennaTable[i].freqHigh == 0) {
            InitTabAntenna(w, 1);
            LogOut("Error Reinit antenna\n");
            break;
        }
    }
    w->antennaRowIdx = kNoAntennaRow;
    return mode;
}

std::recursive_mutex& BankMutex() {
    static std::recursive_mutex m;
    return m;
}

namespace {
// Writes the rows in memory as `bank`'s file, marked with work mode `mode`.
void saveTabConfigAs(Works* w, int bank, int mode) {
    std::string text = markerOf(mode);
    const int rows = w->antennaRowCount;
    for (int i = 0; i < rows && i < kAntennaRows; i++) {
        const AntennaRow& r = w->antennaTable[i];
        char line[96];
        const auto name = r.name.get();
        // A name read after leading blanks may begin with ';' or '!': at the start
        // of the line it would come back as a comment or a marker, so such a name
        // keeps one blank before it, which the reader skips.
        std::snprintf(line, sizeof line, "%s%s %ld %ld %i %i %i %i %2.1f\n",
                      isLineMark(name.s[0]) ? " " : "", name.s,
                      static_cast<long>(r.freqLow.load()), static_cast<long>(r.freqHigh.load()),
                      r.ampEnable.load(), r.antenna.load(), r.atuBypass.load(), r.attStep.load(),
                      r.pwr.load());
        text += line;
    }
    StorageWrite(BankFileName(bank).c_str(), std::move(text), 0, [](int err) {
        if (err > 0)
            LogErr("can't open /opt/set/autotune.txt for writing");
    });
}
} // namespace

void SaveTabConfig(Works* w, int bank) {
    BankLock lock(BankMutex());
    saveTabConfigAs(w, bank, w->ModeWorkIdx);
}

void SaveToBank(Works* w, int bank, int antenna) {
    SaveToBankWithBypass(w, bank, antenna, w->tunerBypass);
}

void SaveToBankWithBypass(Works* w, int bank, int antenna, uint8_t bypass) {
    BankLock held(BankMutex());
    const int64_t f = w->freqHz;
    const int rows = w->antennaRowCount;
    for (int i = 0; i < rows && i < kAntennaRows; i++) {
        AntennaRow& r = w->antennaTable[i];
        if (r.freqLow <= f && f <= r.freqHigh) {
            r.antenna = static_cast<uint8_t>(antenna + 1);
            r.atuBypass = bypass;
            r.attStep = w->attenuator.load();
            r.ampEnable = w->attenuatorShown < 4 ? 1 : 0;
            break;
        }
    }
    SaveTabConfig(w, bank);
}

void LoadAllBankTable(Works* w, int bank) {
    BankLock held(BankMutex());
    w->ModeWorkIdx = LoadTabConfig(w, bank);
    for (int a = 0; a < 3; a++)
        LoadTabAtu(w, bank, a);
    SetModeWorkIDX(w);
}

void ChangeBanco(Works* w) {
    BankLock held(BankMutex());
    int next = w->NumBanco + 1;
    if (next >= w->MAXbank)
        next = 0;
    w->NumBanco = next;
    writeSetup(w);
    LoadAllBankTable(w, next);
    w->antennaRowIdx = kNoAntennaRow;
}

void ChangeInterfaceBanco(Works* w) {
    BankLock held(BankMutex());
    // The next source of the table, after the last the first.
    const int next = w->ModeWorkIdx + 1;
    w->ModeWorkIdx = SourceOfMode(next) ? next : kModeGeneric;
    SetModeWorkIDX(w);
    SaveToBank(w, w->NumBanco, w->antennaIdx);
}

void ModifytabAntenna(Works* w, int down) {
    BankLock held(BankMutex());
    const int row = w->pages.editRow;
    if (row < 0 || row >= kAntennaRows)
        return;
    AntennaRow& r = w->antennaTable[row];
    switch (w->pages.editColumn) {
    case 0:
        r.pwr = r.pwr + (down ? -0.1f : 0.1f);
        break;
    case 1: {
        uint8_t v = static_cast<uint8_t>(r.attStep + (down ? -1 : 1));
        r.attStep = v > 3 ? 0 : v;
        break;
    }
    case 2:
        r.ampEnable = r.ampEnable == 0 ? 1 : 0;
        break;
    case 3: {
        uint8_t v = static_cast<uint8_t>(r.antenna + (down ? -1 : 1));
        r.antenna = v == 0 ? 3 : v > 3 ? 1 : v;
        break;
    }
    case 4:
        r.atuBypass = r.atuBypass == 0 ? 1 : 0;
        break;
    default:
        break;
    }
}

void DeleteFileConf(Works*, int bank, int kind) {
    const std::string path = kind >= 0 && kind <= 2 ? TuneMemFileName(bank, kind) : BankFileName(bank);
    char cmd[96];
    std::snprintf(cmd, sizeof cmd, "rm -f %s", path.c_str());
    StorageRemove(path.c_str(), cmd, [bank](int status) {
        if (status != 0)
            LogErr("can't delete file bank %d", bank);
    });
}

void CopyBank(Works* w, int origin, int dest) {
    BankLock held(BankMutex());
    for (int a = 0; a < 3; a++)
        LoadTabAtu(w, origin, a);
    // The copy keeps the origin's interface, not the current bank's.
    const int mode = LoadTabConfig(w, origin);
    for (int a = 0; a < 3; a++)
        SaveTabAtu(w, dest, a);
    saveTabConfigAs(w, dest, mode);
    // The tables in memory are the origin's now: the current bank comes back,
    // so that a later save cannot write the origin's rows into it.
    LoadAllBankTable(w, w->NumBanco);
}

void ResetBank(Works* w, int bank) {
    BankLock held(BankMutex());
    const int banks = w->MAXbank;
    if (bank >= banks) {
        for (int b = 0; b < banks; b++)
            for (int kind = 0; kind < 4; kind++)
                DeleteFileConf(w, b, kind);
    } else {
        for (int kind = 0; kind < 4; kind++)
            DeleteFileConf(w, bank, kind);
    }
    LoadAllBankTable(w, w->NumBanco);
    w->antennaRowIdx = kNoAntennaRow;
}

void DeleteAllBanks(Works* w) {
    for (int b = 0; b < kBankCount; b++)
        for (int kind = 0; kind < 4; kind++)
            DeleteFileConf(w, b, kind);
}
