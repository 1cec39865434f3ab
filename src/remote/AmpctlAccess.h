// Which clients of the amplifier protocol may change anything: the networks of
// the setup key AmpctlControl ("127.0.0.1/8 ::1/128"), IPv4 and IPv6 in CIDR
// form. Every other client only reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>

constexpr int kAmpctlNetworksMax = 8;
constexpr size_t kAmpctlNetworkTextMax = 64; // "ffff:...:ffff/128" with room; a longer word is no network

struct AmpctlNetwork {
    sa_family_t family = AF_UNSPEC;
    uint8_t bytes[16] = {}; // 4 of them for IPv4
    int prefix = 0;         // the leading bits that count
};

struct AmpctlAccess {
    AmpctlNetwork networks[kAmpctlNetworksMax];
    int count = 0;
    int refused = 0;                         // words that were no network, or past the eighth
    char firstRefused[kAmpctlNetworkTextMax] = {}; // the first of them, cut to fit, for the log
};

// The networks of `text`: blank-separated words, each an IPv4 or IPv6 address
// with an optional "/prefix" (none: that address alone). A word that is not
// one, a prefix longer than the address, and every network past the eighth
// grant nothing and are counted in `refused`.
AmpctlAccess AmpctlAccessParse(const char* text);
// Whether a client at `peer` (an IPv4 client of an IPv6 socket given as IPv4,
// as plat_tcp_accept_now gives it) is inside one of the networks.
bool AmpctlAccessAllows(const AmpctlAccess& access, const sockaddr_storage& peer);
