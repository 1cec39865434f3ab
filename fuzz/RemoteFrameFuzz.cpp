// A peer's bytes after the handshake, through the remote link's frame reader and
// the receivers of either end. The first byte chooses the end (even: the server,
// odd: the client) and, for the server, whether the access code has been
// given already (bit 1), so that a stranger's frames are reached as well as an
// open session's. An open session's frames reach the receivers with the CAT
// relay's and the serial link's ports open. Whatever came, `divide` stays within
// its range and the USB spectrum's counter still gives a spectrum within it.
// With bit 2 the bytes are instead a screen as a peer sends it, straight into
// the JPEG decoder, which must refuse what it cannot decode without touching
// memory outside the picture.
#include "FuzzRoot.h"
#include "Jpeg.h"
#include "WsPeer.h"

#include "core/Setup.h"
#include "wire/Frames.h"
#include "remote/Compress.h"
#include "remote/Receive.h"
#include "trx/TavRead.h"
#include "tuner/CAT.h"
#include "draw/Fb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    [[maybe_unused]] static const bool once = [&] {
        w->remotePassword.set("ABCDEFGHJKLM");
        w->fb = fbInitMemory(800, 480, 32);
        // Relayed payloads (SC, PA) go nowhere.
        w->serFD = open("/dev/null", O_WRONLY | O_CLOEXEC);
        w->catFD = open("/dev/null", O_WRONLY | O_CLOEXEC);
        status_cat = 1;
        return true;
    }();
    if (size < 1) return 0;
    if (data[0] & 4) {
        Uncompress(w, data + 1, size - 1);
        return 0;
    }
    // The counter as a running stream leaves it: loaded from the value before.
    static DivideCounter counter;
    for (int i = 0; i < 3; i++)
        SpectrumBlockDue(&counter, w->settings.divide);
    int sv[2];
    FuzzSocketWith(data + 1, size - 1, sv);

    static RemoteSession session;
    session.role = (data[0] & 1) ? WsRole::Client : WsRole::Server;
    session.isFirst = (data[0] & 2) ? 2 : 1;
    w->remoteConnected = 0;
    static auto frame = std::make_unique<WsFrame>();
    const PortWanted wanted = [] { return true; };
    for (;;) {
        const size_t max =
            session.role == WsRole::Server && session.isFirst == 1 ? 2 + 125 + 4 : kWsFrameMax;
        if (WsReadFrame(sv[1], frame.get(), session.role, max, wanted) != WsRead::Ok) break;
        if (RemoteReceive(w, &session, *frame) != Dispatch::Continue) break;
    }
    close(sv[0]);
    close(sv[1]);
    const int divide = w->settings.divide;
    FUZZ_CHECK(divide >= kDivideMin && divide <= kDivideMax, "remote frames: divide %d", divide);
    int blocks = 1;
    while (!SpectrumBlockDue(&counter, divide))
        FUZZ_CHECK(++blocks <= divide, "remote frames: no spectrum in %d blocks", divide);
    return 0;
}

namespace {

// The tests' frames (tests/support), joined as text.
std::string text(const std::vector<uint8_t>& frame) {
    return {frame.begin(), frame.end()};
}

std::string fragment(const char* tag, uint32_t total, uint32_t offset) {
    return text(WsFragment(tag, std::vector<uint8_t>(total, 0x60), total, offset));
}

} // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    const std::string code = text(WsTextFrame("ABCDEFGHJKLM"));
    const std::string xy = text(WsTextFrame("XY0012300456"));
    const auto gradient = [](int x, int y) {
        const auto v = static_cast<uint8_t>(x * 15 + y * 30);
        return std::array<uint8_t, 3>{v, static_cast<uint8_t>(v + 5), static_cast<uint8_t>(v + 10)};
    };
    return {
        FuzzBytes(0, code + text(WsShort("ST", "KAVOFD3")) + text(WsShort("CA", "FA00014074000;")) +
                         text(WsShort("SC", "RX;")) + text(WsShort("PA", std::string(31, '\x41'))) +
                         xy),
        FuzzBytes(3, text(WsShort("ST", "KAVOFT01;")) + fragment("SP", 854, 0) +
                         fragment("SP", 854, 512) + fragment("FB", 1200, 0) +
                         fragment("FB", 1200, 512) + fragment("FB", 1200, 1024)),
        FuzzBytes(1, text(WsShort("PA", std::string(31, '\x55'))) + fragment("SP", 1706, 1536) +
                         std::string("\x82\x7E\x00\x0ASO\0\0\0\x04\1\2\3\4", 14) +
                         std::string("\x88\x02\x03\xE8", 4) +
                         std::string("\x81\x7E\x00\x0CXY0000100002", 16)),
        FuzzBytes(2, std::string("\x82\x7F\0\0\0\x08SO\0\0", 10)),
        FuzzBytes(2, text(WsShort("ST", "KAVOFD99")) + text(WsShort("ST", "KAVOFD-2147483648")) +
                         text(WsShort("ST", "KAVOFD0")) + text(WsShort("ST", "KAVOFT01;")) +
                         text(WsShort("ST", "KAVOFD4294967296"))),
        // Screens of 16 x 8 pixels of a gradient, baseline and progressive.
        FuzzBytes(4, text(JpegOf(16, 8, gradient))),
        FuzzBytes(4, text(JpegOf(16, 8, gradient, true))),
    };
}
