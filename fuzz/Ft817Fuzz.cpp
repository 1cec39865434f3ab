// Any bytes as the FT-817's answers, five bytes each as the poll takes them: an
// answer of four BCD digit pairs sets the frequency, which encodes back to the
// same four bytes; any other answer keeps the frequency; the mode byte is
// always kept; an answer nobody asked for, or one cut short, changes nothing.
#include "FuzzRoot.h"

#include "tuner/CATserial.h"

namespace {

bool isBcd(uint8_t b) {
    return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    w->source[kModeFt817].freqHz = 14070000;
    w->catMode = 0;
    // Every fourth answer arrives when no query waits for it.
    size_t k = 0;
    for (size_t at = 0; at < size; at += 5, k++) {
        const uint8_t* a = data + at;
        const int len = static_cast<int>(size - at < 5 ? size - at : 5);
        const bool asked = k % 4 != 3;
        const int oldHz = w->source[kModeFt817].freqHz;
        const uint8_t oldMode = w->catMode;
        lastCommandSent = asked ? 3 : 0;
        FuzzQuietly([&] { DecodeCatSerialCmd(w, a, len); });
        if (!asked || len < 5) {
            FUZZ_CHECK(w->source[kModeFt817].freqHz == oldHz && w->catMode == oldMode,
                       "FT-817: %s answer of %d bytes changed the frequency to %d",
                       asked ? "a short" : "an unasked", len, w->source[kModeFt817].freqHz.load());
            continue;
        }
        FUZZ_CHECK(lastCommandSent == 0, "FT-817: the query stays open after its answer");
        FUZZ_CHECK(w->catMode == a[4], "FT-817: mode %02x kept from %02x", w->catMode.load(), a[4]);
        if (isBcd(a[0]) && isBcd(a[1]) && isBcd(a[2]) && isBcd(a[3])) {
            const uint32_t hz = static_cast<uint32_t>(w->source[kModeFt817].freqHz.load());
            // The radio packs the tens of Hz as eight decimal digits, two a byte.
            char tens[16], pairs[16];
            std::snprintf(tens, sizeof tens, "%08u", hz / 10);
            std::snprintf(pairs, sizeof pairs, "%02x%02x%02x%02x", a[0], a[1], a[2], a[3]);
            FUZZ_CHECK(hz % 10 == 0 && std::strcmp(tens, pairs) == 0,
                       "FT-817: %02x %02x %02x %02x decoded as %u Hz", a[0], a[1], a[2], a[3], hz);
        } else {
            FUZZ_CHECK(w->source[kModeFt817].freqHz == oldHz,
                       "FT-817: the frequency of a bad answer was taken (%d)",
                       w->source[kModeFt817].freqHz.load());
        }
    }
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return {
        // 14.234560 MHz, 140.700000 MHz, 7.074 MHz USB, 0 Hz, and answers with
        // a nibble above 9.
        {0x01, 0x42, 0x34, 0x56, 0x01, 0x14, 0x07, 0x00, 0x00, 0x04, 0x00, 0x70, 0x74, 0x00, 0x01},
        {0x00, 0x00, 0x00, 0x00, 0x0C, 0x99, 0x99, 0x99, 0x99, 0xFF, 0x0A, 0x00, 0x00,
         0x00, 0x00, 0x01, 0xA0, 0x00, 0x00, 0x00, 0x01, 0x42, 0x34, 0x5F, 0x08},
        {0x02, 0x80, 0x74, 0x00, 0x01, 0x02, 0x80},
    };
}
