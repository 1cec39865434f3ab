// Any bytes through the UTF-8 decoder: it reads every byte once, one to four at
// a time; a valid character is a Unicode scalar value whose encoding is exactly
// the bytes taken; an invalid one has code point 0 and takes the longest
// beginning of a well-formed sequence (at least one byte). Then the input read
// as a list of scalar values, encoded, decodes back to the same values.
#include "FuzzRoot.h"

#include "draw/UTF8.h"

#include <unordered_set>

namespace {

// The UTF-8 encoding of `cp` (below 0x110000) into `out`; its length.
size_t encode(uint32_t cp, uint8_t out[4]) {
    const size_t n = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    static const uint8_t lead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t i = n - 1; i > 0; i--, cp >>= 6)
        out[i] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    out[0] = static_cast<uint8_t>(lead[n] | cp);
    return n;
}

bool scalar(uint32_t cp) {
    return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// The beginnings (one to three bytes) of the encodings of all scalar values,
// found from the encodings themselves rather than from the decoder's byte ranges.
const std::unordered_set<std::string>& beginnings() {
    static const std::unordered_set<std::string> set = [] {
        std::unordered_set<std::string> s;
        // A beginning leaves out at least the last byte, which alone carries
        // the low six bits: one value in 64 gives them all (and surrogates
        // fill whole blocks of 64), so the set is ready fast enough not to
        // count as a slow input.
        for (uint32_t cp = 0x80; cp <= 0x10FFFF; cp += 64) {
            if (!scalar(cp)) continue;
            uint8_t e[4];
            const size_t len = encode(cp, e);
            for (size_t k = 1; k < len; k++)
                s.emplace(reinterpret_cast<const char*>(e), k);
        }
        return s;
    }();
    return set;
}

// What an ill-formed sequence at p takes: its longest well-formed beginning, at
// least one byte.
int32_t illFormedLength(const uint8_t* p, int32_t left) {
    int32_t k = 0;
    while (k < 3 && k < left &&
           beginnings().count(std::string(reinterpret_cast<const char*>(p), k + 1)))
        k++;
    return k > 0 ? k : 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) size = 65536;
    const int32_t len = static_cast<int32_t>(size);
    int32_t pos = 0;
    while (true) {
        int valid = -1;
        uint32_t cp = 0xFFFFFFFFu;
        const int32_t at = pos;
        const int r = utf8_get_next_char(data, len, &pos, &valid, &cp);
        if (at >= len) {
            FUZZ_CHECK(r == -1 && pos == at, "utf8: %d returned at the end", r);
            break;
        }
        FUZZ_CHECK(r == 1 && pos > at && pos <= at + 4 && pos <= len,
                   "utf8: %d returned, %d -> %d of %d", r, at, pos, len);
        const int32_t took = pos - at;
        if (valid == 1) {
            uint8_t e[4];
            FUZZ_CHECK(scalar(cp) && encode(cp, e) == static_cast<size_t>(took) &&
                           std::memcmp(e, data + at, static_cast<size_t>(took)) == 0,
                       "utf8: U+%04X read from %d bytes at %d", cp, took, at);
        } else {
            FUZZ_CHECK(valid == 0 && cp == 0, "utf8: invalid result %d with U+%04X at %d", valid,
                       cp, at);
            const int32_t want = illFormedLength(data + at, len - at);
            FUZZ_CHECK(took == want, "utf8: an ill-formed sequence at %d took %d bytes, not %d", at,
                       took, want);
        }
    }

    // Three bytes per scalar value, encoded and decoded again.
    std::vector<uint32_t> cps;
    std::vector<uint8_t> text;
    for (size_t i = 0; i + 3 <= size; i += 3) {
        uint32_t cp =
            (static_cast<uint32_t>(data[i]) << 16 | data[i + 1] << 8 | data[i + 2]) % 0x110000;
        if (!scalar(cp)) cp = 0xFFFD;
        cps.push_back(cp);
        uint8_t e[4];
        text.insert(text.end(), e, e + encode(cp, e));
    }
    pos = 0;
    for (size_t i = 0; i < cps.size(); i++) {
        int valid = 0;
        uint32_t cp = 0;
        FUZZ_CHECK(utf8_get_next_char(text.data(), static_cast<int32_t>(text.size()), &pos, &valid,
                                      &cp) == 1 &&
                       valid == 1 && cp == cps[i],
                   "utf8: U+%04X encoded, U+%04X (valid %d) decoded", cps[i], cp, valid);
    }
    FUZZ_CHECK(pos == static_cast<int32_t>(text.size()), "utf8: %d of %zu bytes read", pos,
               text.size());
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        "ASCII, \xC3\xA9t\xC3\xA9, \xE2\x82\xAC 20, \xF0\x9F\x98\x80, 40 \u00B0C",
        // E0 80, lone continuation, a cut 3-byte and 4-byte sequence, surrogate,
        // above U+10FFFF, overlong forms, bad leads.
        std::string(
            "\xE0\x80\x80\xF0\x9F\x98\xED\xA0\x80\xF4\x90\x80\x80\xC0\xAF\xC1\xBF\xF5\xFF\xE2\x82",
            21),
        std::string("\xEF\xBF\xBF\xF4\x8F\xBF\xBF\xDF\xBF\xE0\xA0\x80\xF0\x90\x80\x80\x00\x7F", 18),
    });
}
