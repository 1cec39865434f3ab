// A peer's handshake lines, read by the server (even first byte) or by the
// client after its own request (odd first byte).
#include "FuzzRoot.h"

#include "wire/Handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    if (size < 1) return 0;
    int sv[2];
    FuzzSocketWith(data + 1, size - 1, sv);
    const PortWanted wanted = [] { return true; };
    if (data[0] & 1)
        WsClientHandshake(w, sv[1], "dGhlIHNhbXBsZSBub25jZQ==", wanted);
    else
        WsServerHandshake(w, sv[1], wanted);
    close(sv[0]);
    close(sv[1]);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    const std::string request =
        "GET /chat HTTP/1.1\r\nHost: 127.0.0.1:6666\r\nUpgrade: websocket\r\n"
        "Connection: keep-alive, Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\n\r\n\r\n";
    const std::string response = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                 "Connection: Upgrade\r\n"
                                 "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
                                 "Sec-WebSocket-Protocol: chat\r\n\r\n";
    return {FuzzBytes(0, request), FuzzBytes(1, response),
            FuzzBytes(0, "GET " + std::string(3000, 'x') + "\n\n\n\n\n\n\n\n")};
}
