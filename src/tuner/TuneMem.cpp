// The tuner memory: indices by frequency, the per-antenna tables, their files,
// and the recall on a frequency change.
#include "tuner/TuneMem.h"

#include "core/CmdRing.h"
#include "core/Setup.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/TextFile.h"
#include "tuner/Banks.h"
#include "tuner/TuneWord.h"
#include "core/KeyLabels.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Segment {
    int64_t start;
    int64_t step;
};
// Segments of the frequency index: each runs to the next start. Their edges are
// the amateur band edges, so a neighbour search never leaves the band.
const Segment tabAtuStep[] = {
    {0, 2000},         {1800000, 2000},   {2000000, 4000},   {3500000, 4000},
    {4000000, 5000},   {5330000, 5000},   {5400000, 5000},   {7000000, 5000},
    {7300000, 5000},   {10100000, 10000}, {10150000, 10000}, {14000000, 10000},
    {14350000, 10000}, {18000000, 10000}, {18170000, 10000}, {21000000, 20000},
    {21500000, 25000}, {24850000, 25000}, {25000000, 25000}, {28000000, 25000},
    {29700000, 50000}, {50000000, 50000}, {54000000, -1}};
constexpr int kSegments = sizeof tabAtuStep / sizeof tabAtuStep[0] - 1; // real segments

int64_t segCount(int i) { return (tabAtuStep[i + 1].start - tabAtuStep[i].start) / tabAtuStep[i].step; }

uint64_t pack(const TuneMemEntry& e) {
    return static_cast<uint64_t>(e.valid) | static_cast<uint64_t>(e.mode) << 8 |
           static_cast<uint64_t>(e.l) << 16 | static_cast<uint64_t>(e.c) << 32;
}

TuneMemEntry unpack(uint64_t v) {
    TuneMemEntry e;
    e.valid = static_cast<uint8_t>(v);
    e.mode = static_cast<uint8_t>(v >> 8);
    e.l = static_cast<uint16_t>(v >> 16);
    e.c = static_cast<uint16_t>(v >> 32);
    return e;
}

TuneMemTable& table(Works* w, int antenna) {
    return w->tuneMem[antenna == 0 ? 0 : antenna == 1 ? 1 : 2];
}

bool stored(Works* w, int index, int antenna) {
    return index >= 0 && index < kTuneMemEntries &&
           unpack(table(w, antenna).packed[index]).valid != 0;
}

} // namespace

int AtuIdxSearch(int64_t freq, int64_t* segStart, int64_t* segEnd, int* firstIdx, int* endIdx) {
    int64_t first = 0;
    int i = 0;
    for (; i < kSegments - 1; i++) {
        if (tabAtuStep[i].start <= freq && freq < tabAtuStep[i + 1].start)
            break;
        first += segCount(i);
    }
    const int64_t start = tabAtuStep[i].start, end = tabAtuStep[i + 1].start;
    const int64_t step = tabAtuStep[i].step;
    *segStart = start;
    *segEnd = end;
    *firstIdx = static_cast<int>(first);
    *endIdx = static_cast<int>(first + segCount(i));
    int64_t index = first + (freq - start + step / 2) / step;
    if (freq > end)
        index++;
    return static_cast<int>(index);
}

int64_t AtuFreqfromIdx(int index) {
    int64_t first = 0;
    int i = 0;
    for (; i < kSegments - 1; i++) {
        if (index <= first + segCount(i))
            break;
        first += segCount(i);
    }
    return tabAtuStep[i].start + (index - first) * tabAtuStep[i].step;
}

void SaveTuneValsuTabRam(Works* w, const TuneMemEntry& e, int index, int antenna) {
    if (index < 0 || index >= kTuneMemEntries)
        return;
    table(w, antenna).packed[index] = pack(e);
}

TuneMemEntry LoadTuneValFromTabRam(Works* w, int index, int antenna) {
    if (index < 0 || index >= kTuneMemEntries)
        return TuneMemEntry{};
    TuneMemEntry e = unpack(table(w, antenna).packed[index]);
    if (e.mode == kTuneBypass)
        e.mode = kTuneCL;
    return e;
}

int SearchBestTune(Works* w, int index, int firstIdx, int endIdx, int antenna) {
    int best = -1;
    int bestDist = endIdx - firstIdx;
    for (int i = firstIdx; i < endIdx; i++) {
        const int dist = i > index ? i - index : index - i;
        if (stored(w, i, antenna) && dist < bestDist) {
            best = i;
            bestDist = dist;
        }
    }
    return best;
}

int EsisteTuneValInTabRam(Works* w, int index, int firstIdx, int endIdx, int antenna) {
    if (stored(w, index, antenna))
        return 0;
    return SearchBestTune(w, index, firstIdx, endIdx, antenna) >= 0 ? 0 : 1;
}

void LoadTuneFromMEM(Works* w, int antenna) {
    BankLock held(BankMutex());
    int64_t s, e;
    int first, end;
    int index = AtuIdxSearch(w->freqHz, &s, &e, &first, &end);
    TuneMemEntry entry = LoadTuneValFromTabRam(w, index, antenna);
    if (!entry.valid) {
        const int best = SearchBestTune(w, index, first, end, antenna);
        if (best >= 0) {
            index = best;
            entry = LoadTuneValFromTabRam(w, best, antenna);
        }
    }
    const uint32_t word = w->tunerWord;
    w->tuner.tuneC = DecodeCapacitaFromTuneval(word);
    w->tuner.tuneL = DecodeInduttanzaFromTuneval(word);
    w->tuner.tuneMode = static_cast<uint16_t>(DecodeModoFromTuneval(word));
    if (!entry.valid)
        return;
    if (entry.c == w->tuner.tuneC && entry.l == w->tuner.tuneL && entry.mode == w->tuner.tuneMode)
        return;
    SetC(w, entry.c);
    SetI(w, entry.l);
    SetMode(w, entry.mode);
    ReadTnePar(w);
    LogOut(">>>>>>>>>>>>>>> MEMTUNE: load a Tune for %ld idx:%d -> C %d I %d!!\n",
                 static_cast<long>(w->freqHz.load()), index, static_cast<int>(w->tuner.tuneC.load()),
                 static_cast<int>(w->tuner.tuneL.load()));
}

std::string TuneMemFileName(int bank, int antenna) {
    const int a = antenna == 0 ? 1 : antenna == 1 ? 2 : 3;
    if (bank >= 1 && bank <= 19)
        return "/opt/set/atu_ant" + std::to_string(a) + "_b" + std::to_string(bank) + ".txt";
    return "/opt/set/atu_ant" + std::to_string(a) + ".txt";
}

void InsertTuneToMem(Works* w, int bank, int antenna) {
    BankLock held(BankMutex());
    int64_t s, e;
    int first, end;
    const int index = AtuIdxSearch(w->freqHz, &s, &e, &first, &end);
    LogOut("--------------> Save Tune To File idx %d (idx:%d)\n", w->freqHz.load(),
                 index);
    const uint32_t word = w->tunerWord;
    TuneMemEntry entry;
    entry.valid = 1;
    entry.c = static_cast<uint16_t>(DecodeCapacitaFromTuneval(word));
    entry.l = static_cast<uint16_t>(DecodeInduttanzaFromTuneval(word));
    entry.mode = static_cast<uint8_t>(DecodeModoFromTuneval(word));
    LogOut("-------------- Save TuneVal C:%i, L:%i, M:%c\n", entry.c, entry.l,
                 '0' + entry.mode);
    SaveTuneValsuTabRam(w, entry, index, antenna);
    SaveTabAtu(w, bank, antenna);
}

void LoadTabAtu(Works* w, int bank, int antenna) {
    BankLock held(BankMutex());
    TuneMemTable& t = table(w, antenna);
    for (auto& entry : t.packed)
        entry = 0;
    std::string queued; // a save not yet written is what the file will hold
    FILE* f = StorageOpenRead(TuneMemFileName(bank, antenna).c_str(), &queued);
    if (!f)
        return;
    char line[512];
    while (NextDataLine(f, line, sizeof line)) {
        char* p;
        const long index = std::strtol(line, &p, 10);
        if (index < 0 || index >= kTuneMemEntries) {
            LogOut("LoadTabAtu Errore idx\n");
            LogStdout("LoadTabAtu Errore idx");
            continue;
        }
        std::strtol(p, &p, 10); // the frequency: informative only
        TuneMemEntry e;
        e.valid = static_cast<uint8_t>(std::strtol(p, &p, 10) & 0xFF);
        e.mode = static_cast<uint8_t>(std::strtol(p, &p, 10) & 0xFF);
        e.l = static_cast<uint16_t>(std::strtol(p, &p, 10) & 0xFFFF);
        e.c = static_cast<uint16_t>(std::strtol(p, &p, 10) & 0xFFFF);
        t.packed[index] = pack(e);
    }
    std::fclose(f);
}

void SaveTabAtu(Works* w, int bank, int antenna) {
    BankLock held(BankMutex());
    LogOut("SaveTabAtu Bank%i , antenna %i\n", bank, antenna);
    std::string text;
    const TuneMemTable& t = table(w, antenna);
    for (int i = 0; i < kTuneMemEntries; i++) {
        const TuneMemEntry e = unpack(t.packed[i]);
        if (!e.valid)
            continue;
        char line[80];
        std::snprintf(line, sizeof line, "%i %ld %i %i %i %i\n", i,
                      static_cast<long>(AtuFreqfromIdx(i)), e.valid, e.mode, e.l, e.c);
        text += line;
    }
    StorageWrite(TuneMemFileName(bank, antenna).c_str(), std::move(text), 0, [](int err) {
        if (err > 0)
            LogErr("can't open /opt/set/autotune.txt for writing");
    });
}

void GestioneLoadTuneVal(Works* w, int absentAction) {
    BankLock held(BankMutex());
    if (w->tuneState != 0)
        return;
    int64_t s, e;
    int first, end;
    const int index = AtuIdxSearch(w->freqHz, &s, &e, &first, &end);
    if (EsisteTuneValInTabRam(w, index, first, end, w->antennaIdx) == 0)
        IncPNTIn_CMDLinear(kCmdTuneFromMem, w);
    else
        IncPNTIn_CMDLinear(absentAction ? kCmdTunerReset : kCmdTunerBypass, w);
}

void GestioneAntennaAutomatica(Works* w) {
    BankLock held(BankMutex());
    w->antennaRowIdx = 100;
    const int64_t f = w->freqHz;
    const int rows = w->antennaRowCount;
    int row = -1;
    for (int i = 0; i < rows && i < kAntennaRows; i++) {
        if (w->antennaTable[i].freqLow <= f && f <= w->antennaTable[i].freqHigh) {
            row = i;
            break;
        }
    }
    if (row < 0)
        return;
    w->antennaRowIdx = static_cast<uint32_t>(row);
    const AntennaRow& r = w->antennaTable[row];
    OperatingPointLock op(OperatingPointMutex());
    if (r.antenna != 0 && r.antenna != w->antennaIdx + 1) {
        w->antennaIdx = r.antenna - 1;
        if (w->pages.keyPage == kPageMain) {
            char text[24];
            std::snprintf(text, sizeof text, "Auto %d", w->antennaIdx + 1);
            KeyLabels[0].line2[2].set(text);
        }
        IncPNTIn_CMDLinear(kCmdAntenna, w);
    }
    if (r.atuBypass == 1) {
        IncPNTIn_CMDLinear(kCmdTunerBypass, w);
        LogOut("TABLE CONFIG : BYPASS %i (%i)\n", r.atuBypass.load(), row);
    } else {
        GestioneLoadTuneVal(w, 1);
    }
    if (r.ampEnable != 0) {
        if (w->ampBypass == 1)
            IncPNTIn_CMDLinear(kCmdBypassOff, w);
        w->attenuatorShown = r.attStep.load();
        if (w->attenuator != r.attStep) {
            w->attenuator = r.attStep.load();
            IncPNTIn_CMDLinear(kCmdAtt, w);
        }
    } else if (w->ampBypass == 0) {
        IncPNTIn_CMDLinear(kCmdBypassOn, w);
    }
    // The attenuator label of the main page follows in this tick's key strip.
}
