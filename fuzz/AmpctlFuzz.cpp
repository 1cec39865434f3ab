// Any bytes from a client of the amplifier protocol, cut into commands and
// answered from a view the first byte picks (data or none, rights or none, a
// source setting the frequency, what the panel's rules answer a change). The
// reader takes the bytes in pieces of a size the second byte picks and must
// give the same commands as when it takes them whole. A line longer than 256
// bytes ends the client exactly at the byte that makes it too long, unless a
// 'q' ended it before; nothing else does. Each answer fits its buffer with
// room to spare; an unknown command answers nothing; every other answer is
// whole lines, its extended form starts with the command's long name and ends
// with "RPRT n", a Hamlib code, which appears nowhere else; a change is asked
// only by a client with rights while there is data, within its bounds. The
// same bytes, as the setup's list of networks that may change things, give at
// most eight networks, each with a prefix its address has, each holding its
// own address.
#include "AmpctlTalk.h"
#include "FuzzRoot.h"

#include "remote/AmpctlAccess.h"

#include <climits>
#include <netinet/in.h>

namespace {

// Hamlib's codes: the first four are what a change may come to.
constexpr int kCodes[] = {kAmpctlOk, kAmpctlRejected, kAmpctlNotAvailable, kAmpctlNotAllowed,
                          kAmpctlInvalid};

void checkAnswer(const AmpctlView& v, const AmpctlCommand& c, const AmpctlAnswer& a) {
    FUZZ_CHECK(a.len + 64 < kAmpctlAnswerMax, "ampctl: an answer of %zu bytes reached its buffer",
               a.len);
    const std::string text(a.text, a.len);
    if (c.cmd == AmpctlCmd::Unknown || c.cmd == AmpctlCmd::Quit) {
        FUZZ_CHECK(text.empty() && a.request.action == AmpctlAction::None &&
                       a.close == (c.cmd == AmpctlCmd::Quit),
                   "ampctl: an unknown command or 'q' answered %zu bytes", a.len);
        return;
    }
    FUZZ_CHECK(!text.empty() && text.back() == '\n',
               "ampctl: an answer that is not whole lines: '%s'", text.c_str());
    // The extended form's first record: the long name and the arguments.
    std::string head;
    if (c.extended) {
        head = std::string(AmpctlCommandName(c.cmd)) + ":";
        for (int i = 0; i < c.argc; i++)
            head += std::string(" ") + c.args[i];
        head += c.separator;
        FUZZ_CHECK(text.compare(0, head.size(), head) == 0,
                   "ampctl: extended answer without its head '%s': '%s'", head.c_str(),
                   text.c_str());
    }
    for (int i = 0; i < c.argc && c.cmd != AmpctlCmd::SendCmd; i++)
        for (const char* p = c.args[i]; *p; p++)
            FUZZ_CHECK(static_cast<unsigned char>(*p) > ' ' && *p != 0x7f,
                       "ampctl: a blank in an argument");
    // "RPRT n" only as the last record, with a Hamlib code and nothing after
    // it; the extended form always ends with it.
    const size_t rprt = text.find("RPRT ", head.size());
    FUZZ_CHECK(rprt != std::string::npos || !c.extended,
               "ampctl: extended answer without RPRT: '%s'", text.c_str());
    if (rprt != std::string::npos) {
        FUZZ_CHECK(rprt == head.size() || text[rprt - 1] == '\n' || text[rprt - 1] == c.separator,
                   "ampctl: RPRT inside a record: '%s'", text.c_str());
        const std::string code = text.substr(rprt + 5, text.size() - rprt - 6);
        const int n = std::atoi(code.c_str());
        FUZZ_CHECK(std::count(std::begin(kCodes), std::end(kCodes), n) && std::to_string(n) == code,
                   "ampctl: RPRT '%s' is not the last record", code.c_str());
    }
    if (a.request.action != AmpctlAction::None) {
        FUZZ_CHECK(v.mayChange && v.valid, "ampctl: a change asked without rights or data");
        if (a.request.action == AmpctlAction::SetAntenna)
            FUZZ_CHECK(a.request.value >= 1 && a.request.value <= 3, "ampctl: antenna %lld",
                       static_cast<long long>(a.request.value));
        if (a.request.action == AmpctlAction::SetFreq)
            FUZZ_CHECK(a.request.value >= 1 && a.request.value <= INT_MAX && !v.freqFromSource,
                       "ampctl: frequency %lld", static_cast<long long>(a.request.value));
    }
}

// The bytes as the setup's AmpctlControl (a line of at most 127 characters).
void checkAccess(const char* bytes, size_t n) {
    const AmpctlAccess a = AmpctlAccessParse(std::string(bytes, std::min<size_t>(n, 127)).c_str());
    FUZZ_CHECK(a.count >= 0 && a.count <= kAmpctlNetworksMax, "ampctl: %d networks", a.count);
    FUZZ_CHECK(std::memchr(a.firstRefused, '\0', sizeof a.firstRefused),
               "ampctl: a refused word without its end");
    for (int i = 0; i < a.count; i++) {
        const AmpctlNetwork& net = a.networks[i];
        const bool four = net.family == AF_INET;
        FUZZ_CHECK(four || net.family == AF_INET6, "ampctl: network %d of family %d", i,
                   net.family);
        FUZZ_CHECK(net.prefix >= 0 && net.prefix <= (four ? 32 : 128), "ampctl: prefix %d",
                   net.prefix);
        sockaddr_storage own{};
        own.ss_family = net.family;
        auto* in4 = reinterpret_cast<sockaddr_in*>(&own);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&own);
        std::memcpy(four ? static_cast<void*>(&in4->sin_addr) : &in6->sin6_addr, net.bytes,
                    four ? 4 : 16);
        FUZZ_CHECK(AmpctlAccessAllows(a, own), "ampctl: network %d does not hold its own address",
                   i);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    if (size > 16384) size = 16384;
    AmpctlView v;
    v.valid = data[0] & 1;
    v.mayChange = data[0] & 2;
    v.freqFromSource = data[0] & 4;
    v.transmitting = data[0] & 8;
    v.status = 0xffffu * ((data[0] >> 4) & 1);
    v.freqHz = 14074000;
    std::memset(v.fault, 'F', sizeof v.fault); // no NUL: the field's end bounds it
    const int result = kCodes[(data[0] >> 5) & 3];
    const size_t piece = 1 + data[1] % 64;
    const char* bytes = reinterpret_cast<const char*>(data + 2);
    const size_t n = size - 2;

    const auto same = [result](const AmpctlRequest&) { return result; };
    const auto check = std::bind_front(checkAnswer, std::cref(v));
    const AmpctlTalk whole = TalkTo(v, std::string(bytes, n), same, n ? n : 1, check);
    const AmpctlTalk pieces = TalkTo(v, std::string(bytes, n), same, piece, check);
    FUZZ_CHECK(whole.answers == pieces.answers && whole.taken == pieces.taken &&
                   whole.tooLong == pieces.tooLong,
               "ampctl: pieces of %zu bytes read otherwise than the whole", piece);

    // Where a line first passes 256 bytes, its LF included.
    size_t over = SIZE_MAX, lineLen = 0;
    for (size_t i = 0; i < n && over == SIZE_MAX; i++) {
        lineLen = bytes[i] == '\n' ? 0 : lineLen + 1;
        if (lineLen == kAmpctlLineMax) over = i;
    }
    if (whole.tooLong)
        FUZZ_CHECK(over != SIZE_MAX && whole.taken == over + 1,
                   "ampctl: ended the client at byte %zu, not %zu", whole.taken, over + 1);
    else if (!whole.closed)
        FUZZ_CHECK(over == SIZE_MAX && whole.taken == n,
                   "ampctl: a line too long went on (byte %zu)", over);
    else
        FUZZ_CHECK(whole.taken <= over || over == SIZE_MAX, "ampctl: read past a line too long");
    checkAccess(bytes, n);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        std::string("\x03\x01", 2) +
            "f\n+f\n;f\n|l SWR\nl ?\n+l FAULT\nl WARNING\n\\get_powerstat\n"
            "+\\set_powerstat 2\n\\set_powerstat 4\nR 1\n+R 0\n\\dump_state\n;\\dump_state\n"
            "1\n+_\ns\n,y\nY 2 0\nG TUNE\nG ?\nL ?\nL SWR 1\nw a b c\nF 7.1e6\n",
        std::string("\x2b\x07", 2) +
            "f l PWRFORWARD +y\r\nX zzz \\bogus\n#f\n\n+#y\nF abc\nF\n+l\nY 4\nq\nf\n",
        std::string("\x11\x20", 2) + "f\n" + std::string(254, ' ') + "\n" + std::string(300, 'l') +
            "\nf\n",
        std::string("\x06\x02", 2) +
            "+F 14074000\n\\set_powerstat 9\nR 2\nG BAND_UP\n;\\get_ant\n" + std::string(255, 'x') +
            "\n",
        std::string("\x01\x01", 2) +
            "127.0.0.1/8 ::1/128 192.168.1.0/24 fd00::/8 10.1.2.3 bogus 1.2.3.4/33",
    });
}
