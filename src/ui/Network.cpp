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

SharedText<32> IP, NetMask, Gateway, DNS, MAC;
Shared<uint8_t> IP_v[4], NetMask_v[4], Gateway_v[4], DNS_v[4];
Shared<uint8_t> Gateway_none, DNS_none;

namespace {
constexpr const char* kInterfaces = "/etc/network/interfaces";
constexpr int kLineSize = 128;

void trimLineEnd(char* line) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        line[--n] = '\0';
}
} // namespace

void SplitAddr(const char* text, Shared<uint8_t>* octets) {
    int part = 0;
    const char* p = text;
    while (*p && part < 4) {
        octets[part++] = static_cast<uint8_t>(std::atoi(p));
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
    DNS.set("");
    Gateway.set("");
    FILE* f = std::fopen(plat_path(kInterfaces).c_str(), "r");
    if (!f) {
        std::fprintf(stderr, "Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    for (SharedText<32>* t : {&IP, &NetMask, &Gateway, &DNS, &MAC})
        t->set("");
    char line[kLineSize];
    while (std::fgets(line, sizeof line, f)) {
        trimLineEnd(line);
        const char* p = line;
        while (*p == ' ')
            p++;
        const char* end = p;
        while (*end && *end != ' ')
            end++;
        const std::string word(p, end);
        const char* value = *end == ' ' ? end + 1 : end;
        if (word == "address") {
            IP.set(value);
            std::fprintf(stderr, "ip: %s\n", value);
        } else if (word == "netmask") {
            NetMask.set(value);
            std::fprintf(stderr, "NetMask: %s\n", value);
        } else if (word == "gateway") {
            Gateway.set(value);
        } else if (word == "nameserver") {
            DNS.set(value);
        }
    }
    std::fclose(f);
    SplitAddr(IP.get().s, IP_v);
    SplitAddr(NetMask.get().s, NetMask_v);
    if (Gateway.length() > 0) {
        SplitAddr(Gateway.get().s, Gateway_v);
        Gateway_none = 0;
        std::fprintf(stderr, "gateway: %s\n", Gateway.get().s);
    } else {
        Gateway_none = 1;
    }
    if (DNS.length() > 0) {
        SplitAddr(DNS.get().s, DNS_v);
        DNS_none = 0;
        std::fprintf(stderr, "DNS: %s\n", DNS.get().s);
    } else {
        DNS_none = 1;
    }
    std::fprintf(stderr, "ReadLanParam DNS_none=%d Gateway_none=%d\n", DNS_none.load(),
                 Gateway_none.load());
    return 0;
}

int SaveLanParam() {
    if (plat_system("mount -o remount defaults,rw /") != 0) {
        LogErr("can't mount rw / %d", errno);
        std::fprintf(stderr, "can't mount rw / %d\n", errno);
        return -1;
    }
    const std::string path = plat_path(kInterfaces);
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        std::fprintf(stderr, "Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    std::vector<std::string> lines;
    char line[kLineSize];
    // Every line is kept, however many: the file is rewritten whole.
    while (std::fgets(line, sizeof line, f))
        lines.emplace_back(line);
    std::fclose(f);

    auto addr = [](const char* key, const Shared<uint8_t>* o) {
        char out[64];
        std::snprintf(out, sizeof out, "%s %d.%d.%d.%d\n", key, o[0].load(), o[1].load(),
                      o[2].load(), o[3].load());
        return std::string(out);
    };
    std::string text;
    for (std::string& l : lines) {
        if (l.rfind("address", 0) == 0) {
            l = addr("address", IP_v);
            std::fprintf(stderr, "--->new ip: %s \n", l.c_str());
        } else if (l.rfind("netmask", 0) == 0) {
            l = addr("netmask", NetMask_v);
        } else if (l.rfind("gateway", 0) == 0) {
            l = Gateway_none ? "gateway \n" : addr("gateway", Gateway_v);
        } else if (l.rfind("nameserver", 0) == 0) {
            l = DNS_none ? "nameserver \n" : addr("nameserver", DNS_v);
        }
        text += l;
    }
    // Replaced whole, so a power cut never leaves the unit without a network file.
    if (WriteFileAtomic(kInterfaces, text.data(), text.size()) != 0) {
        std::fprintf(stderr, "Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    return plat_system("sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a");
}
