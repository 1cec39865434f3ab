// The commands of Hamlib's amplifier protocol (what ampctld reads), taken
// from the bytes of one client.
//
// A client sends lines of at most 256 bytes, their LF included (CR LF works
// too); a longer line ends that client. A line holds commands separated by
// blanks, as ampctld reads them: a letter ("f") or a backslash and the long
// name ("\get_powerstat"), each followed by the arguments it takes. A prefix
// asks for the extended answer: '+' with LF between its records, or any other
// punctuation but '\', '_' and '#' (';', '|', ',' ...) with that character
// between them. '#' starts a comment to the end of the line.
//
// Where this differs from ampctld, which reads characters, not lines: a word
// that names no command ("X", "zzz", "ff", "\bogus") is one unknown command,
// answered with nothing as ampctld answers it, and its prefix is forgotten
// (ampctld keeps it for the next command it knows); a command whose argument
// is not on its line is answered RPRT -1 (ampctld reads the next line); a
// command is answered once its line has ended (ampctld starts on the first
// byte).
#pragma once

#include "platform/SerialPort.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kAmpctlLineMax = 256; // a line's bytes, its LF included

enum class AmpctlCmd : uint8_t {
    Unknown, // answered with nothing
    Quit,    // 'q', 'Q': the connection ends, nothing is answered
    GetFreq,
    SetFreq,
    GetLevel,
    SetLevel,
    SendCmd,
    DumpState,
    DumpCaps,
    GetInfo,
    Reset,
    SetPowerstat,
    GetPowerstat,
    GetStatus,
    GetAnt,
    SetAnt,
    AmpOp,
};

struct AmpctlCommand {
    AmpctlCmd cmd = AmpctlCmd::Unknown;
    bool extended = false;         // answer in the extended form
    char separator = '\n';         // between the extended form's records
    int argc = 0;                  // arguments read, 0..2
    bool missingArgument = false;  // the line ended before an argument the command needs
    char args[2][kAmpctlLineMax]{}; // each NUL-ended
};

// A command's long name ("get_freq"), as the extended form's first record
// echoes it; "" for Unknown and Quit.
const char* AmpctlCommandName(AmpctlCmd cmd);
// The key of the value a get command answers in the extended form
// ("Frequency(Hz)"); "" where the value has none.
const char* AmpctlCommandKey(AmpctlCmd cmd);

// One client's reading state.
struct AmpctlReader {
    TextFramer<kAmpctlLineMax, '\n'> line;
    size_t next = 0;     // where the line's next command starts
    bool inLine = false; // commands of `line` remain to be taken
};

enum class AmpctlRead {
    NeedBytes,   // every byte of `data` is taken: read more from the client
    Command,     // `*out` is the next command
    LineTooLong, // a line passed kAmpctlLineMax bytes: end the client
};

// The client's next command. Takes the bytes data[*used..size) it needs,
// advancing *used, and keeps a partial line for the next call; the commands of
// one line come out one per call before any byte of the next line is taken.
AmpctlRead AmpctlNextCommand(AmpctlReader* reader, const char* data, size_t size, size_t* used,
                             AmpctlCommand* out);
