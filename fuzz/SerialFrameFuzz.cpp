// The transceiver's byte stream through the link's frame reader (headers,
// length digits, payloads, the spectrum trace and the parameter record), then
// the same bytes straight into the parameter decoder as a remote unit would
// hand them over.
#include "FuzzRoot.h"

#include "core/Setup.h"
#include "devsim/TrxModel.h"
#include "trx/Serial.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    [[maybe_unused]] static const bool once = [&] {
        w->setup->serialLinkEnabled = '1';
        w->setup->usbSpectrum = '0';
        // Frames for a remote unit are built and written to nowhere.
        w->wsFD = open("/dev/null", O_WRONLY | O_CLOEXEC);
        w->remoteConnected = 1;
        return true;
    }();
    if (size > 65536) size = 65536;
    int sv[2];
    FuzzSocketWith(data, size, sv);
    w->serFD = sv[1];
    // The requests the loop sends after each frame go to the other end.
    w->tuneModeFlags.replace(size > 0 ? data[0] : 0);
    w->txButtonFlags.replace(size > 1 ? data[1] : 0);
    SerialLoop(w, sv[1]);
    w->serFD = -1;
    close(sv[0]);
    close(sv[1]);

    storeParameters(w, static_cast<int>(size), data);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    std::vector<std::vector<uint8_t>> out;
    auto both = [&](long long hz, int mode, bool tx, int pitch, int offset, int traceLen) {
        std::vector<uint8_t> s =
            TrxFrame(1, '1', TrxParameterPayload(hz, mode, tx, true, pitch, offset));
        std::vector<uint8_t> trace(static_cast<size_t>(traceLen));
        for (size_t i = 0; i < trace.size(); i++)
            trace[i] = static_cast<uint8_t>(80 + (i * 13) % 90);
        const std::vector<uint8_t> f = TrxFrame(0, '0', trace);
        s.insert(s.end(), f.begin(), f.end());
        out.push_back(s);
    };
    both(14074000, 2, false, 600, 0, 1194);
    both(7074000, 4, true, 600, -2000, 1194);
    both(21074000, 6, false, 999, 524287, 300);
    both(3573000, 4, false, 0, -524288, 1024);
    out.push_back(TrxFrame(1, '1', std::vector<uint8_t>(9, '5')));
    out.push_back({0xFF, 0x20, 0x00, '0', 0x3F, 0x3F, 0x3F, 0x3F, 0x01, '1', '0', '4', '0', '0'});
    out.push_back({0x05, 'x', '0', '0', '0', '0', 0x00, '1', 0x3A, 0x3A});
    return out;
}
