// The operator's settings: one row per key of the setup file.
//
// A row says everything about its key once: the name, how the value is written,
// what a new file holds, the values the hardware takes, where the characters and
// the number live, how start-up logs it and the menu entry that edits it, if any.
// The setup reader and writer, the factory default, the start-up log and the
// settings menu walk the table. Adding a key is one row (its value then lives in a
// slot of `Settings`, read with SettingNumber/SettingText) plus the code that uses
// it.
#pragma once

#include "core/Shared.h"

#include <climits>
#include <cstddef>
#include <cstdint>

struct Works;
struct SetupRecord;
using Flag = Shared<char>;

// The longest value a key holds (HamlibPort), with its terminator.
constexpr size_t kSettingTextMax = 128;
// Slots for the keys that keep their value in the settings group rather than in
// a field of the record and a typed mirror (the keys added after the first 62).
constexpr int kSettingSlots = 24;

struct SettingSlot {
    Shared<long> number;                     // a number key's value
    SharedText<kSettingTextMax> text;        // the file's characters
};

// The numbers the program computes with, mirrored from the setup file. Owner:
// keys (the menus, a factory default), after start-up has read the file; a
// session raises `divide` (one compare-and-swap) and a failed Opus set-up clears
// `audioBitrate`. Every thread reads them.
struct Settings {
    Shared<int16_t> tcpPort;
    Shared<int> audioMultiplier; // frames a block: Multiplier x 240
    Shared<int> audioBitrate;    // 0: raw samples
    Shared<uint8_t> pwrPeakEnabled;
    Shared<uint8_t> tempMode; // 1: Fahrenheit
    Shared<uint8_t> freqSensIn;
    Shared<int> freqPeriod;
    Shared<uint8_t> attenuatorTune;
    Shared<float> swrEscAutoTune;
    Shared<uint8_t> viewTimeStr, viewTemp;
    Shared<float> maxTemperature;
    Shared<uint8_t> autoTuneMaxCycles;
    Shared<uint8_t> powerUnits, saveScreenIdx;
    Shared<int> divide; // kDivideMin..kDivideMax
    Shared<int> maxTempAllowed;
    Shared<int> psPar[4];
    Shared<int> gmPar[2];
    Shared<int> hysteresis1, hysteresis2;
    Shared<double> plotOffset;
    Shared<int8_t> tuneEnabled; // bit 7: no tuner fitted
    Shared<uint8_t> debugEnabled;
    Shared<uint8_t> logTempEnabled;
    // The meters' peak hold and the keys' long press.
    Shared<int> fattoremedia;
    Shared<double> PeakDecrement;
    Shared<int> PeakDecrementTime;
    Shared<int> TimerPeakSec;
    Shared<double> TIME_LONG_PRESS; // seconds
    SettingSlot slot[kSettingSlots];
};

// The settings menu's edit actions.
enum MenuAction { kMenuEnter = 0, kMenuMinus = 1, kMenuPlus = 2, kMenuLeft = 3, kMenuRight = 4 };

// How the settings menu edits an entry, what its bounds do and what ENTER does.
enum class MenuEdit {
    Toggle,  // every action flips it between 0 and 1
    Step,    // PLUS adds `step`, MINUS takes it off, within the entry's bounds
    Choice,  // PLUS the next of the choices, MINUS the previous, wrapping
    Next,    // any action: the next of the choices, wrapping
    Address, // PLUS/MINUS change the octet under the cursor, LEFT/RIGHT move it
    Own,     // the entry's own function
};
enum class MenuBound {
    None,  // no bounds
    Wrap,  // past one end to the other
    Clamp, // the result is held at the end
    Keep,  // a step that would leave the range is not taken
};
enum class MenuEnter { Save, FreqSens, Lan, Nothing, Own };

// One entry of the settings menu. `number` 0: the row has no entry.
struct MenuSpec {
    int number = 0;
    const char* title = nullptr;
    const char* item = nullptr;
    // The value as a number; a setting's entry without them shows and sets its
    // row's number (the file's number divided by the row's scale).
    double (*get)(Works*) = nullptr;
    void (*set)(Works*, double) = nullptr;
    // Its text: `format` with the value (an int, or a double when `real`), or with
    // the text choices[value] when there are choices.
    const char* format = nullptr;
    bool real = false;
    const char* const* choices = nullptr;
    int choiceCount = 0;
    MenuEdit edit = MenuEdit::Toggle;
    double step = 0;
    double lo = 0, hi = 0;
    MenuBound bound = MenuBound::None;
    double (*hiOf)(Works*) = nullptr; // an upper end that is itself a setting
    double unit = 0;                  // results rounded to 1/unit (10 tenths); 0: whole numbers
    bool repeats = false;             // PLUS and MINUS repeat while held
    bool lrRepeats = false;           // LEFT and RIGHT too
    bool lrSaves = false;             // LEFT and RIGHT also save
    MenuEnter enter = MenuEnter::Save;
    bool itemZeroOnly = false;  // shows and acts only while menuItem is 0
    bool actsOnAnyItem = false; // with itemZeroOnly: shows only on item 0, acts on any
    // MenuEdit::Own and MenuEnter::Own: the action, its repeat flag as result.
    int (*own)(Works*, int action) = nullptr;
    bool positions = false; // LEFT and RIGHT move between positions of the value
    // A value text of the entry's own, instead of `format`.
    void (*show)(Works*, char* text, size_t size) = nullptr;
};

enum class SettingKind {
    Char,   // one character, stored as is
    Digit,  // one character, and character - '0' as the number
    Text,   // text copied whole
    Number, // text, and a decimal integer as the number
    Port,   // the number only (TcpPort)
};
// How start-up logs a key: "-%c-" or "-%s-" of its characters, "-%d-" of its
// number, or "-%s- -%d-" of both.
enum class SettingLog { Value, Number, Both };

struct SettingRow {
    const char* key;
    SettingKind kind;
    const char* def; // what a new file holds
    // Where the characters live: a field of the record; neither: the row's slot,
    // which keeps `size` characters with the terminator (0: as many as a slot).
    Flag& (*flag)(SetupRecord&) = nullptr;
    TextRef (*text)(SetupRecord&) = nullptr;
    size_t size = 0;
    // Where the number lives: a mirror, set with the file's number (Char rows: the
    // character) and regenerated for writing; neither: the slot (number rows).
    void (*apply)(Works*, long) = nullptr;
    long (*regen)(Works*) = nullptr;
    // A text row's value goes here too.
    void (*applyText)(Works*, const char*) = nullptr;
    SettingLog log = SettingLog::Value;
    long (*logged)(Works*) = nullptr; // the number logged, when not regen's
    bool lineFromNumber = false;      // written "%d" from the number, not from the text
    int scale = 1;                    // the file holds the number times this (10: tenths)
    long lo = LONG_MIN, hi = LONG_MAX; // the file's numbers the hardware takes
    MenuSpec menu{};
};

// The table, in file order.
const SettingRow* SettingRows(int* count);
// The row of `key`, or nullptr.
const SettingRow* FindSetting(const char* key);
// The slot of a row that keeps its value in one (0..), else -1.
int SettingSlotOf(const SettingRow* row);

// Values of the keys that keep them in a slot. A key the table lacks is logged
// and reads as 0 or empty.
long SettingNumber(const Works* works, const char* key);
void SettingText(const Works* works, const char* key, char* out, size_t size);
char SettingChar(const Works* works, const char* key);
// A number key's new value (the file's units): the number and its text.
void SetSettingNumber(Works* works, const char* key, long value);
void SetSettingText(Works* works, const char* key, const char* text);

// A row's number in the menu's units (the file's number over the scale), and back.
double SettingMenuValue(Works* works, const SettingRow& row);
void SetSettingMenuValue(Works* works, const SettingRow& row, double value);

// Option texts of the settings' menu entries, also drawn on the pages.
extern const char* const AttVectStr[4];  // attenuator steps: "0", "2", "3", "5" dB
extern const char* const SaveScreenVal[5];
extern const char* const SWRTimeout[5];
