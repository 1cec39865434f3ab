// The trace reader: two passes, the first for who started whom, the second for
// what each did.
#include "StraceLog.h"

#include <cstdlib>
#include <sstream>

namespace {

struct Line {
    int number = 0;
    int pid = 0;
    std::string comm;
    std::string call; // the syscall's name, "" for signals and exits
    std::string text; // the whole call: an unfinished start and its resumption joined
};

// "PID<comm> rest" (or "PID rest" when the name was not known) into `l` and
// `rest`, with the name of the call that begins the rest ("" for signals, exits
// and resumptions); false for other lines.
bool split(const std::string& raw, Line* l, std::string* rest) {
    size_t i = raw.find_first_not_of("0123456789");
    if (i == 0 || i == std::string::npos) return false;
    l->pid = std::atoi(raw.c_str());
    if (raw[i] == '<') {
        const size_t close = raw.find("> ", i);
        if (close == std::string::npos) return false;
        l->comm = raw.substr(i + 1, close - i - 1);
        i = close + 1;
    }
    if (raw[i] != ' ') return false;
    *rest = raw.substr(i + 1);
    const size_t n =
        rest->find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_");
    l->call = n > 0 && n != std::string::npos && (*rest)[n] == '(' ? rest->substr(0, n) : "";
    return true;
}

// The trace's calls, each whole: "<unfinished ...>" parts are joined to their
// "<... name resumed>" ends, at the place of the start (the start has the arguments).
std::vector<Line> calls(const std::string& text) {
    std::vector<Line> out;
    std::map<int, size_t> open; // pid -> its unfinished call in `out`
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    const std::string unfinished = " <unfinished ...>";
    while (std::getline(in, raw)) {
        Line l;
        l.number = ++number;
        std::string rest;
        if (!split(raw, &l, &rest)) continue;
        if (rest.starts_with("<... ")) {
            const size_t end = rest.find(" resumed>");
            auto it = open.find(l.pid);
            if (end != std::string::npos && it != open.end()) {
                out[it->second].text += rest.substr(end + 9);
                open.erase(it);
            }
            continue;
        }
        if (rest.ends_with(unfinished)) {
            rest.resize(rest.size() - unfinished.size());
            open[l.pid] = out.size();
        }
        l.text = rest;
        out.push_back(std::move(l));
    }
    return out;
}

// The value a call returned: the number after its last " = ".
long result(const std::string& text) {
    const size_t at = text.rfind(" = ");
    return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + 3, nullptr, 10);
}

std::vector<std::string> quoted(const std::string& text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '"') continue;
        std::string s;
        for (i++; i < text.size() && text[i] != '"'; i++) {
            if (text[i] == '\\' && i + 1 < text.size()) i++;
            s += text[i];
        }
        out.push_back(s);
    }
    return out;
}

bool isSpawn(const std::string& call) {
    return call == "clone" || call == "clone3" || call == "fork" || call == "vfork";
}

// What a call does to paths under `folder`, or "": an open only when its flags
// may change the file.
std::string deedOf(const Line& l, const std::string& folder) {
    static const std::map<std::string, std::string> kDeeds = {
        {"open", "write"},      {"openat", "write"},     {"openat2", "write"},
        {"creat", "write"},     {"truncate", "write"},   {"mkdir", "write"},
        {"mkdirat", "write"},   {"link", "write"},       {"linkat", "write"},
        {"symlink", "write"},   {"symlinkat", "write"},  {"rename", "rename"},
        {"renameat", "rename"}, {"renameat2", "rename"}, {"unlink", "unlink"},
        {"unlinkat", "unlink"}, {"rmdir", "unlink"},     {"mount", "mount"},
        {"umount2", "mount"}};
    const auto deed = kDeeds.find(l.call);
    if (deed == kDeeds.end()) return "";
    const auto has = [&](const char* flag) { return l.text.find(flag) != std::string::npos; };
    if (l.call.starts_with("open") && !has("O_WRONLY") && !has("O_RDWR") && !has("O_CREAT") &&
        !has("O_TRUNC") && !has("O_APPEND"))
        return "";
    for (const std::string& p : quoted(l.text))
        if (p.rfind(folder, 0) == 0) return deed->second;
    return "";
}

} // namespace

TraceSummary ReadTrace(const std::string& text, const std::string& folder,
                       const std::string& firstNamed) {
    TraceSummary s;
    const std::vector<Line> lines = calls(text);
    if (lines.empty()) return s;
    s.programPid = lines.front().pid;

    // Who started whom: a thread of the program (CLONE_THREAD), or a child
    // process charged to the thread that started it, by that thread's name then.
    std::set<int> programThreads{s.programPid};
    std::map<int, std::string> chargedTo; // child process -> the program's thread
    for (const Line& l : lines) {
        if (!isSpawn(l.call)) continue;
        const long child = result(l.text);
        if (child <= 0) continue;
        const bool thread = l.text.find("CLONE_THREAD") != std::string::npos;
        if (programThreads.count(l.pid)) {
            if (thread)
                programThreads.insert(static_cast<int>(child));
            else
                chargedTo[static_cast<int>(child)] = l.comm;
        } else if (chargedTo.count(l.pid)) {
            chargedTo[static_cast<int>(child)] = chargedTo[l.pid];
        }
    }

    for (const Line& l : lines) {
        const bool ours = programThreads.count(l.pid) != 0;
        if (!ours && !chargedTo.count(l.pid)) continue;
        if (ours && l.call == "prctl" && l.text.find("PR_SET_NAME") != std::string::npos) {
            for (const std::string& name : quoted(l.text)) {
                s.threads.insert(name);
                if (name == firstNamed && s.namedAt == 0) s.namedAt = l.number;
            }
        }
        const bool started = ours && isSpawn(l.call) &&
                             l.text.find("CLONE_THREAD") == std::string::npos && result(l.text) > 0;
        const std::string what = started ? "process" : deedOf(l, folder);
        if (what.empty()) continue;
        s.deeds.push_back({l.number, l.pid, ours ? l.comm : chargedTo[l.pid], what, l.text});
    }
    return s;
}
