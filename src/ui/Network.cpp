// /etc/network/interfaces: the four address lines the panel shows and edits.
#include "ui/Network.h"

#include "core/Setup.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/TextFile.h"
#include "ui/Menu.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

LanSettings lan;

namespace {
constexpr const char* kInterfaces = "/etc/network/interfaces";
// A line the panel parses: longer ones are left alone whole, never read in
// pieces that could pass for an "address" line.
constexpr size_t kLineChars = 127;
// Far above any real interfaces file; a larger one is not rewritten.
constexpr size_t kFileBytes = 64 * 1024;

// The file's lines, each with its "\n" (the last may lack one), NUL bytes and
// all: a save writes back exactly what it did not change. 0, or an errno value.
int readLines(std::vector<std::string>* lines) {
    FILE* f = std::fopen(plat_path(kInterfaces).c_str(), "rb");
    if (!f)
        return errno;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() <= kFileBytes)
        text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return EIO;
    if (text.size() > kFileBytes)
        return EFBIG;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        size_t next = nl == std::string::npos ? text.size() : nl + 1;
        lines->push_back(text.substr(at, next - at));
        at = next;
    }
    return 0;
}

// The line without its end, when it is one the panel reads: short enough and
// plain text.
bool parsable(const std::string& line, std::string* body) {
    size_t n = line.size();
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        n--;
    if (n > kLineChars || line.find('\0') < n)
        return false;
    body->assign(line, 0, n);
    return true;
}

std::string addrText(const Shared<uint8_t>* o) {
    char out[16];
    SplitAddrInv(out, sizeof out, o);
    return out;
}

bool zero(const Shared<uint8_t>* o) { return !o[0] && !o[1] && !o[2] && !o[3]; }
} // namespace

void SplitAddr(const char* text, Shared<uint8_t>* octets) {
    int part = 0;
    const char* p = text;
    while (*p && part < 4) {
        // strtol, not atoi: an octet text beyond int range stays defined.
        octets[part++] = static_cast<uint8_t>(std::strtol(p, nullptr, 10));
        const char* dot = std::strchr(p, '.');
        if (!dot)
            break;
        p = dot + 1;
    }
}

void SplitAddrInv(char* text, int size, const Shared<uint8_t>* o) {
    std::snprintf(text, static_cast<size_t>(size), "%i.%i.%i.%i", o[0].load(), o[1].load(),
                  o[2].load(), o[3].load());
}

int ModifyIP(int action, int cursor, Shared<uint8_t>* octets) {
    if (cursor < 0 || cursor > 3)
        cursor = 3;
    switch (action) {
    case kMenuMinus:
        octets[cursor] = static_cast<uint8_t>(octets[cursor] - 1);
        break;
    case kMenuPlus:
        octets[cursor] = static_cast<uint8_t>(octets[cursor] + 1);
        break;
    case kMenuLeft:
        cursor = cursor == 0 ? 3 : cursor - 1;
        break;
    case kMenuRight:
        cursor = cursor == 3 ? 0 : cursor + 1;
        break;
    default:
        break;
    }
    return cursor;
}

int ReadLanParam() {
    lan.DNS.set("");
    lan.Gateway.set("");
    std::vector<std::string> lines;
    if (int err = readLines(&lines)) {
        LogOut("Error opening network connection configuration file. CODE: %d\n", err);
        return -1;
    }
    for (SharedText<32>* t : {&lan.IP, &lan.NetMask, &lan.Gateway, &lan.DNS, &lan.MAC})
        t->set("");
    // An address the file does not give reads 0.0.0.0 (a save tells an edited
    // empty gateway by its octets).
    for (Shared<uint8_t>* o : {lan.IP_v, lan.NetMask_v, lan.Gateway_v, lan.DNS_v})
        for (int i = 0; i < 4; i++)
            o[i] = 0;
    std::string line;
    for (const std::string& raw : lines) {
        if (!parsable(raw, &line))
            continue;
        const char* p = line.c_str();
        while (*p == ' ')
            p++;
        const char* end = p;
        while (*end && *end != ' ')
            end++;
        const std::string word(p, end);
        const char* value = *end == ' ' ? end + 1 : end;
        if (word == "address") {
            lan.IP.set(value);
            LogOut("ip: %s\n", value);
        } else if (word == "netmask") {
            lan.NetMask.set(value);
            LogOut("NetMask: %s\n", value);
        } else if (word == "gateway") {
            lan.Gateway.set(value);
        } else if (word == "nameserver") {
            lan.DNS.set(value);
        }
    }
    SplitAddr(lan.IP.get().s, lan.IP_v);
    SplitAddr(lan.NetMask.get().s, lan.NetMask_v);
    if (lan.Gateway.length() > 0) {
        SplitAddr(lan.Gateway.get().s, lan.Gateway_v);
        lan.Gateway_none = 0;
        LogOut("gateway: %s\n", lan.Gateway.get().s);
    } else {
        lan.Gateway_none = 1;
    }
    if (lan.DNS.length() > 0) {
        SplitAddr(lan.DNS.get().s, lan.DNS_v);
        lan.DNS_none = 0;
        LogOut("DNS: %s\n", lan.DNS.get().s);
    } else {
        lan.DNS_none = 1;
    }
    LogOut("ReadLanParam DNS_none=%d Gateway_none=%d\n", lan.DNS_none.load(),
                 lan.Gateway_none.load());
    return 0;
}

int SaveLanParam() {
    errno = 0;
    if (plat_system("mount -o remount defaults,rw /") != 0) {
        const int err = errno;
        LogErrOut("can't mount rw / %d", err);
        return -1;
    }
    std::vector<std::string> lines;
    if (int err = readLines(&lines)) {
        LogOut("Error opening network connection configuration file. CODE: %d\n", err);
        return -1;
    }

    auto addr = [](const char* key, const Shared<uint8_t>* o) {
        return std::string(key) + " " + addrText(o) + "\n";
    };
    // A gateway or name server that was empty at start-up and has been given an
    // address since is written: an edit is never dropped.
    const bool noGateway = lan.Gateway_none && zero(lan.Gateway_v);
    const bool noDns = lan.DNS_none && zero(lan.DNS_v);
    std::string text;
    std::string body;
    bool wrote[4] = {}; // address, netmask, gateway, nameserver
    for (std::string& l : lines) {
        if (parsable(l, &body)) {
            if (body.rfind("address", 0) == 0) {
                l = addr("address", lan.IP_v);
                LogOut("--->new ip: %s \n", l.c_str());
                wrote[0] = true;
            } else if (body.rfind("netmask", 0) == 0) {
                l = addr("netmask", lan.NetMask_v);
                wrote[1] = true;
            } else if (body.rfind("gateway", 0) == 0) {
                l = noGateway ? "gateway \n" : addr("gateway", lan.Gateway_v);
                wrote[2] = true;
            } else if (body.rfind("nameserver", 0) == 0) {
                l = noDns ? "nameserver \n" : addr("nameserver", lan.DNS_v);
                wrote[3] = true;
            }
        }
        text += l;
    }
    // Replaced whole, so a power cut never leaves the unit without a network
    // file; a link is written through and the file keeps its mode and owner.
    if (int err = WriteFileAtomic(kInterfaces, text.data(), text.size())) {
        LogOut("Error opening network connection configuration file. CODE: %d\n", err);
        return -1;
    }
    // The status page shows what the file now holds.
    if (wrote[0])
        lan.IP.set(addrText(lan.IP_v).c_str());
    if (wrote[1])
        lan.NetMask.set(addrText(lan.NetMask_v).c_str());
    if (wrote[2]) {
        lan.Gateway.set(noGateway ? "" : addrText(lan.Gateway_v).c_str());
        lan.Gateway_none = noGateway ? 1 : 0;
    }
    if (wrote[3]) {
        lan.DNS.set(noDns ? "" : addrText(lan.DNS_v).c_str());
        lan.DNS_none = noDns ? 1 : 0;
    }
    return plat_system("sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a");
}
