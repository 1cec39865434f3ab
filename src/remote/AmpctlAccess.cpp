// The networks whose clients may change the amplifier through its protocol.
#include "remote/AmpctlAccess.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// "a.b.c.d", "a.b.c.d/n", "x::y", "x::y/n" into `net`; false when it is none.
bool parseNetwork(const char* word, AmpctlNetwork* net) {
    char address[kAmpctlNetworkTextMax];
    std::strcpy(address, word); // the caller bounds the word
    char* slash = std::strchr(address, '/');
    int prefix = -1;
    if (slash) {
        *slash = '\0';
        const char* p = slash + 1;
        if (*p == '\0' || std::strlen(p) > 3)
            return false;
        prefix = 0;
        for (; *p; p++) {
            if (*p < '0' || *p > '9')
                return false;
            prefix = prefix * 10 + (*p - '0');
        }
    }
    if (inet_pton(AF_INET, address, net->bytes) == 1)
        net->family = AF_INET;
    else if (inet_pton(AF_INET6, address, net->bytes) == 1)
        net->family = AF_INET6;
    else
        return false;
    const int bits = net->family == AF_INET ? 32 : 128;
    if (prefix > bits)
        return false;
    net->prefix = prefix < 0 ? bits : prefix;
    return true;
}

bool inside(const AmpctlNetwork& n, const uint8_t* address) {
    const int whole = n.prefix / 8, rest = n.prefix % 8;
    if (std::memcmp(n.bytes, address, static_cast<size_t>(whole)) != 0)
        return false;
    if (rest == 0)
        return true;
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
    return (n.bytes[whole] & mask) == (address[whole] & mask);
}

} // namespace

AmpctlAccess AmpctlAccessParse(const char* text) {
    AmpctlAccess a;
    const char* p = text;
    while (*p) {
        while (*p && blank(*p))
            p++;
        if (!*p)
            break;
        const char* start = p;
        while (*p && !blank(*p))
            p++;
        const size_t n = static_cast<size_t>(p - start);
        char word[kAmpctlNetworkTextMax];
        const size_t kept = n < sizeof word ? n : sizeof word - 1;
        std::memcpy(word, start, kept);
        word[kept] = '\0';
        AmpctlNetwork net;
        if (n == kept && a.count < kAmpctlNetworksMax && parseNetwork(word, &net)) {
            a.networks[a.count++] = net;
            continue;
        }
        if (a.refused++ == 0)
            std::memcpy(a.firstRefused, word, kept + 1);
    }
    return a;
}

bool AmpctlAccessAllows(const AmpctlAccess& access, const sockaddr_storage& peer) {
    const uint8_t* address;
    if (peer.ss_family == AF_INET)
        address = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr);
    else if (peer.ss_family == AF_INET6)
        address = reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr.s6_addr;
    else
        return false;
    for (int i = 0; i < access.count; i++)
        if (access.networks[i].family == peer.ss_family && inside(access.networks[i], address))
            return true;
    return false;
}
