// A peer's handshake lines, read by the server (even first byte) or by the
// client after its own request (odd first byte).
#include "FuzzRoot.h"
#include "WsPeer.h"

#include "wire/Handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    if (size < 1) return 0;
    int sv[2];
    FuzzSocketWith(data + 1, size - 1, sv);
    const PortWanted wanted = [] { return true; };
    if (data[0] & 1)
        WsClientHandshake(w, sv[1], kWsSampleKey, wanted);
    else
        WsServerHandshake(w, sv[1], wanted);
    close(sv[0]);
    close(sv[1]);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return {FuzzBytes(0, WsStandardRequest()), FuzzBytes(1, WsAnswer(kWsSampleAccept)),
            FuzzBytes(0, "GET " + std::string(3000, 'x') + "\n\n\n\n\n\n\n\n")};
}
