// The amplifier's replies as the link hands them to the decoder: the input is
// cut at each ';' and each piece, bounded like the link's reply buffer, decoded
// in turn, so sequences (a "CP" reply, then status replies) are reached too.
#include "FuzzRoot.h"
#include "FuzzTarget.h"

#include "amp/CmdQueue.h"
#include "amp/Decoder.h"
#include "core/Works.h"

#include <cstring>
#include <string>

namespace {

constexpr size_t kReply = 500;

void decodeAll(Works* w, const uint8_t* data, size_t size) {
    char reply[kReply];
    size_t fill = 0;
    for (size_t i = 0; i < size; i++) {
        const char c = static_cast<char>(data[i]);
        if (fill >= kReply - 1)
            fill = 0; // as the link does with an overlong reply
        if (c != ';') {
            reply[fill++] = c;
            continue;
        }
        reply[fill++] = '\0';
        DecodeCatCmd(w, reply, static_cast<int>(fill));
        fill = 0;
        // The link would send what was queued; keep the ring from filling up.
        while (CmdQueueTake(w) >= 0) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    decodeAll(w, data, size);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    const char* replies[] = {
        "CPFFFF;ST00000000000000002048204800000000;",
        "CPFFFF;ST1100500120004000500180018003000120;ST2A10000000000000002048204801000000;",
        "VSM0123456789;",
        "EE00" "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20;",
        "EE01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF;",
        "EE02" "00112233;",
        "FM00014074000;FA00014074000;",
        "MT100003117;MT;SA1;SA3;",
        "GS0123456789;GM00010002;",
        "MR0;MR1;MP0;MP1;AB0;AB1;AN1;AT11;TS0100020003000400;PS0001000200030004;",
        "FN1050;FS10500;SF3000012;?;;S;",
    };
    std::vector<std::vector<uint8_t>> out;
    for (const char* r : replies)
        out.emplace_back(r, r + std::strlen(r));
    return out;
}
