// UTF-8 decoding: well-formed characters and the skipping of ill-formed ones.
#include "draw/UTF8.h"

#include <cstdio>

namespace {

// Each character the decoder takes from `bytes`: "code point/bytes taken", or
// "bad/bytes taken" for an ill-formed one, blank-separated.
std::string decoded(const std::vector<uint8_t>& bytes) {
    std::string out;
    int32_t pos = 0;
    int valid = -1;
    uint32_t cp = 99;
    for (size_t n = 0; n <= bytes.size(); n++) { // no progress would be a fault
        const int32_t before = pos;
        if (utf8_get_next_char(bytes.data(), static_cast<int32_t>(bytes.size()), &pos, &valid,
                               &cp) == -1)
            break;
        char c[32];
        if (valid == 1)
            std::snprintf(c, sizeof c, "%s%X/%d", out.empty() ? "" : " ", cp, pos - before);
        else
            std::snprintf(c, sizeof c, "%sbad/%d", out.empty() ? "" : " ", pos - before);
        out += c;
        if (valid != 1 && cp != 0) out += "(cp not 0)";
    }
    return out;
}

TEST(Utf8, WellFormedAndIllFormedSequences) {
    const struct {
        std::vector<uint8_t> bytes;
        const char* taken;
    } cases[] = {
        // Every length of well-formed character.
        {{'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0xF4, 0x8F, 0xBF, 0xBF},
         "41/1 E9/2 20AC/3 1F600/4 10FFFF/4"},
        // A bad first continuation after E0: one byte; then 80 alone: one byte.
        {{0xE0, 0x80}, "bad/1 bad/1"},
        // A four-byte lead with two good continuations and no third: three bytes.
        {{0xF0, 0x9F, 0x98}, "bad/3"},
        // A three-byte lead with a good first and a bad second continuation: two bytes.
        {{0xE2, 0x82, 'x'}, "bad/2 78/1"},
        // Bad lead bytes (each end of the valid ones), overlong forms, surrogates
        // and values above U+10FFFF: one byte.
        {{0xC1, 0xBF}, "bad/1 bad/1"},
        {{0xF5, 0x80}, "bad/1 bad/1"},
        {{0xED, 0xA0, 0x80}, "bad/1 bad/1 bad/1"},
        {{0xF4, 0x90, 0x80, 0x80}, "bad/1 bad/1 bad/1 bad/1"},
        {{0xF0, 0x80, 0x80, 0x80}, "bad/1 bad/1 bad/1 bad/1"},
        // A lead at the very end: one byte.
        {{'a', 0xC3}, "61/1 bad/1"},
        {{}, ""},
    };
    // decoded() asks once more at the end of each input, which must give nothing more.
    for (const auto& c : cases)
        EXPECT_EQ(decoded(c.bytes), c.taken) << ::testing::PrintToString(c.bytes);
}

} // namespace
