// Lines of Hamlib's amplifier protocol cut into commands.
#include "remote/AmpctlCommand.h"

#include <cstring>

namespace {

// How a command takes its arguments after the command word.
enum class Args : uint8_t {
    None,
    One,
    Two,          // the second only when the first does not start with '?' (ampctld's rule)
    OneAndOption, // set_ant: an antenna, then an optional numeric option, read and ignored
    RestOfLine,   // send_cmd: the rest of the line, blanks and all
};

struct CommandRow {
    char letter; // 0: only the long name calls it
    const char* name;
    AmpctlCmd cmd;
    Args args;
    const char* key; // the extended form's key of the value a get answers
};

// ampctld 4.5.4's commands, then those of current Hamlib this amplifier has.
constexpr CommandRow kCommands[] = {
    {'F', "set_freq", AmpctlCmd::SetFreq, Args::One, ""},
    {'f', "get_freq", AmpctlCmd::GetFreq, Args::None, "Frequency(Hz)"},
    {'l', "get_level", AmpctlCmd::GetLevel, Args::One, ""},
    {'L', "set_level", AmpctlCmd::SetLevel, Args::Two, ""},
    {'w', "send_cmd", AmpctlCmd::SendCmd, Args::RestOfLine, ""},
    {0, "dump_state", AmpctlCmd::DumpState, Args::None, ""},
    {'1', "dump_caps", AmpctlCmd::DumpCaps, Args::None, ""},
    {'_', "get_info", AmpctlCmd::GetInfo, Args::None, "Info"},
    {'R', "reset", AmpctlCmd::Reset, Args::One, ""},
    {0, "set_powerstat", AmpctlCmd::SetPowerstat, Args::One, ""},
    {0, "get_powerstat", AmpctlCmd::GetPowerstat, Args::None, "Power Status"},
    {'s', "get_status", AmpctlCmd::GetStatus, Args::None, "Status flags"},
    {'y', "get_ant", AmpctlCmd::GetAnt, Args::None, "Antenna"},
    {'Y', "set_ant", AmpctlCmd::SetAnt, Args::OneAndOption, ""},
    {'G', "amp_op", AmpctlCmd::AmpOp, Args::One, ""},
    {'q', "", AmpctlCmd::Quit, Args::None, ""},
    {'Q', "", AmpctlCmd::Quit, Args::None, ""},
};

const CommandRow* rowOf(AmpctlCmd cmd) {
    for (const CommandRow& r : kCommands)
        if (r.cmd == cmd)
            return &r;
    return nullptr;
}

// Blanks part words; control bytes count as blanks, so no word carries one.
bool blank(char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }

// ampctld takes any punctuation before a command as the extended form's
// separator, but the three that start a long name, a letter command or a comment.
bool separatorChar(char c) {
    const bool punct = (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
                       (c >= '{' && c <= '~');
    return punct && c != '\\' && c != '_' && c != '#';
}

// The line being cut: its text without the LF.
struct Cursor {
    const char* text;
    size_t at;
    size_t end;

    bool word(size_t* start, size_t* stop) {
        while (at < end && blank(text[at]))
            at++;
        if (at == end)
            return false;
        *start = at;
        while (at < end && !blank(text[at]))
            at++;
        *stop = at;
        return true;
    }
};

void copyArg(AmpctlCommand* out, const char* from, size_t n) {
    char* arg = out->args[out->argc++];
    std::memcpy(arg, from, n); // n < kAmpctlLineMax: it came from one line
    arg[n] = '\0';
}

bool takeArg(Cursor* c, AmpctlCommand* out) {
    size_t s, e;
    if (!c->word(&s, &e)) {
        out->missingArgument = true;
        return false;
    }
    copyArg(out, c->text + s, e - s);
    return true;
}

bool numeric(const char* s, size_t n) {
    size_t i = (n > 0 && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    return i < n && s[i] >= '0' && s[i] <= '9';
}

void takeArgs(Cursor* c, Args args, AmpctlCommand* out) {
    switch (args) {
    case Args::None:
        return;
    case Args::One:
        takeArg(c, out);
        return;
    case Args::Two:
        if (takeArg(c, out) && out->args[0][0] != '?')
            takeArg(c, out);
        return;
    case Args::OneAndOption: {
        if (!takeArg(c, out))
            return;
        const size_t before = c->at;
        size_t s, e;
        if (c->word(&s, &e) && numeric(c->text + s, e - s))
            copyArg(out, c->text + s, e - s);
        else
            c->at = before; // the next command's word
        return;
    }
    case Args::RestOfLine: {
        size_t s, e;
        if (!c->word(&s, &e)) {
            out->missingArgument = true;
            return;
        }
        size_t stop = c->end;
        while (stop > s && blank(c->text[stop - 1]))
            stop--;
        copyArg(out, c->text + s, stop - s);
        for (char* p = out->args[0]; *p; p++)
            if (blank(*p))
                *p = ' ';
        c->at = c->end;
        return;
    }
    }
}

// The next command of the line at c->at; false when the line has no more.
bool cutCommand(Cursor* c, AmpctlCommand* out) {
    size_t s, e;
    if (!c->word(&s, &e))
        return false;
    *out = AmpctlCommand{};
    size_t p = s;
    if (c->text[p] == '+') {
        out->extended = true;
        p++;
    }
    if (p < e && separatorChar(c->text[p])) {
        out->extended = true;
        out->separator = c->text[p];
        p++;
    }
    if (p < e && c->text[p] == '#') { // a comment: the rest of the line
        c->at = c->end;
        return false;
    }
    const CommandRow* row = nullptr;
    if (p < e && c->text[p] == '\\') {
        const size_t n = e - p - 1;
        for (const CommandRow& r : kCommands)
            if (r.name[0] && std::strlen(r.name) == n && std::memcmp(r.name, c->text + p + 1, n) == 0)
                row = &r;
    } else if (e - p == 1) {
        for (const CommandRow& r : kCommands)
            if (r.letter && r.letter == c->text[p])
                row = &r;
    }
    if (!row)
        return true; // Unknown
    out->cmd = row->cmd;
    takeArgs(c, row->args, out);
    return true;
}

} // namespace

const char* AmpctlCommandName(AmpctlCmd cmd) {
    const CommandRow* r = rowOf(cmd);
    return r ? r->name : "";
}

const char* AmpctlCommandKey(AmpctlCmd cmd) {
    const CommandRow* r = rowOf(cmd);
    return r ? r->key : "";
}

AmpctlRead AmpctlNextCommand(AmpctlReader* reader, const char* data, size_t size, size_t* used,
                             AmpctlCommand* out) {
    for (;;) {
        if (reader->inLine) {
            Cursor c{reader->line.text, reader->next, reader->line.len - 1};
            const bool got = cutCommand(&c, out);
            reader->next = c.at;
            if (got)
                return AmpctlRead::Command;
            reader->inLine = false;
        }
        if (*used >= size)
            return AmpctlRead::NeedBytes;
        const TextStep step = reader->line.push(data[(*used)++]);
        if (step == TextStep::Dropped)
            return AmpctlRead::LineTooLong;
        if (step == TextStep::Text) {
            reader->inLine = true;
            reader->next = 0;
        }
    }
}
