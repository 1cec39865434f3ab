// A Yaesu FT-817 on its CAT port (38400 baud, 8N2), on the master side of a pty.
//
// Commands are five bytes, the opcode last. Only "read frequency and mode"
// (opcode 0x03) is answered: four bytes of packed BCD, most significant first,
// eight digits in units of 10 Hz (14.234560 MHz -> 01 42 34 56), then the mode
// byte. Anything else is taken in and left unanswered, as the radio does with
// opcodes it does not know.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Mode bytes as the radio reports them.
constexpr uint8_t kFt817Lsb = 0x00, kFt817Usb = 0x01, kFt817Cw = 0x02, kFt817Cwr = 0x03,
                  kFt817Am = 0x04, kFt817Fm = 0x08, kFt817Dig = 0x0A, kFt817Pkt = 0x0C;

struct Ft817ModelConfig {
    long long hz = 14074000; // rounded to 10 Hz
    uint8_t mode = kFt817Usb;
    int turnaroundMs = 2; // before an answer starts; the bytes then take 286 us each
    // A partial command older than this is dropped, so a lost byte does not shift
    // every later command; 0 counts bytes strictly in fives.
    int frameGapMs = 0;
};

struct Ft817Model;

// Opens the pty, links it at `linkPath` (e.g. DIR/dev/ttyUSB1) and starts the
// thread; nullptr on failure.
Ft817Model* Ft817ModelStart(const std::string& linkPath, const Ft817ModelConfig& cfg = {});
// Ends the thread, closes the pty and removes the link; nullptr is ignored.
void Ft817ModelStop(Ft817Model* m);

// Dial frequency (clamped to 0 .. 999999990 Hz, rounded to 10 Hz) and mode byte.
void Ft817ModelSetFrequency(Ft817Model* m, long long hz);
long long Ft817ModelFrequency(Ft817Model* m);
void Ft817ModelSetMode(Ft817Model* m, uint8_t mode);

// How the next `count` frequency polls (-1: until changed) are answered.
// Late: after `param` ms. Silent: no answer. BadDigit: nibble `param` (0..7, most
// significant first) of the frequency bytes reads 0xA. Short: only the first
// `param` (0..4) bytes.
enum class Ft817Answer { Normal, Late, Silent, BadDigit, Short };
void Ft817ModelSetAnswer(Ft817Model* m, Ft817Answer mode, int param = 0, int count = -1);

// Complete commands as received, newest 10000 kept.
struct Ft817Received {
    int64_t ms; // plat_mono_ms when the fifth byte arrived
    std::array<uint8_t, 5> bytes;
};
std::vector<Ft817Received> Ft817ModelReceived(Ft817Model* m);
void Ft817ModelClearReceived(Ft817Model* m);
int Ft817ModelAnswered(Ft817Model* m); // answers written so far (short ones too, if not empty)

// Line settings the other side applied to the port (a pty keeps them).
struct Ft817Line {
    int baud = 0;
    int dataBits = 0;
    int stopBits = 0;
    bool parity = false;
};
Ft817Line Ft817ModelLine(Ft817Model* m);
