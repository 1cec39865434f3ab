// The amplifier's replies as the link hands them to the decoder: the input is
// cut into ';'-ended texts by the link's framer and each decoded in turn, so
// sequences (a "CP" reply, then status replies) are reached too.
#include "FuzzRoot.h"

#include "amp/Decoder.h"
#include "amp/Linear.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    LinearReply reply;
    for (size_t i = 0; i < size; i++) {
        if (!LinearReplyByte(&reply, static_cast<char>(data[i]))) continue;
        LinearAfterReply(w, DecodeCatCmd(w, reply.text, static_cast<int>(reply.len)));
        // The link would send what was queued; keep the ring from filling up.
        FuzzDrainCommands(w);
    }
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        "CPFFFF;ST00000000000000002048204800000000;",
        "CPFFFF;ST1100500120004000500180018003000120;ST2A10000000000000002048204801000000;",
        "VSM0123456789;",
        "EE00"
        "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20;",
        "EE01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF;",
        "EE02"
        "00112233;",
        "FM00014074000;FA00014074000;",
        "MT100003117;MT;SA1;SA3;",
        "GS0123456789;GM00010002;",
        "MR0;MR1;MP0;MP1;AB0;AB1;AN1;AT11;TS0100020003000400;PS0001000200030004;",
        "FN1050;FS10500;SF3000012;?;;S;",
    });
}
