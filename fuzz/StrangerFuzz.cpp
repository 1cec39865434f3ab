// A stranger's bytes before and during the TLS handshake, through the server's
// whole path up to the code: the first byte's bit 0 lets the plain dialect in
// (RemotePlain), the rest is what the stranger sends. Without the code nothing
// opens: a connection authenticates only when its bytes carry the code frame.
// With bit 1 the bytes are instead a server's answer, read by the client after
// its own request.
#include "FuzzRoot.h"
#include "WsPeer.h"

#include "core/Setup.h"
#include "wire/Frames.h"
#include "remote/Receive.h"
#include "remote/Wsocket.h"
#include "wire/Handshake.h"

namespace {
constexpr const char kCode[] = "ABCDEFGHJKLM";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    w->remotePassword.set(kCode);
    if (size < 1) return 0;
    SetSettingText(w, "RemotePlain", (data[0] & 1) ? "1" : "0");
    int sv[2];
    FuzzSocketWith(data + 1, size - 1, sv);
    if (data[0] & 2) {
        WsClientHandshake(w, sv[1], kWsSampleKey, [] { return true; });
        close(sv[0]);
        close(sv[1]);
        return 0;
    }
    auto session = std::make_unique<RemoteSession>();
    auto frame = std::make_unique<WsFrame>();
    TlsLinkPtr link;
    const bool in = RemoteAuthenticate(w, sv[1], "192.0.2.9", session.get(), frame.get(), &link);
    const uint8_t* end = data + size;
    if (in &&
        (SettingChar(w, "RemotePlain") != '1' || std::search(data, end, kCode, kCode + 12) == end))
        FuzzFail("stranger fuzz: authenticated without the code");
    if (w->remoteConnected) FuzzFail("stranger fuzz: a session opened before it was claimed");
    link.reset();
    close(sv[0]);
    close(sv[1]);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    const std::string request = WsStandardRequest();
    const std::string code = std::string("\x81\x0C\0\0\0\0", 6) + kCode;
    // The start of a TLS 1.3 ClientHello: record header, handshake header, version, random.
    std::string hello = std::string("\x16\x03\x01\x00\xF0\x01\x00\x00\xEC\x03\x03", 11) +
                        std::string(32, '\x5A') + std::string("\x20", 1) + std::string(32, '\x11') +
                        std::string("\x00\x02\x13\x01\x01\x00", 6);
    return {FuzzBytes(1, request + code),
            FuzzBytes(0, request + code),
            FuzzBytes(0, hello),
            FuzzBytes(1, hello + request),
            FuzzBytes(0, std::string("\x16\x03\x03\x00\x02\x02\x28", 7)),
            FuzzBytes(1, "GET " + std::string(3000, 'x') + "\n\n\n\n\n\n\n\n"),
            FuzzBytes(2, WsAnswer(kWsSampleAccept))};
}
