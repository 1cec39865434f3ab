// UTF-8 decoding: well-formed characters and the skipping of ill-formed ones.
#include "draw/UTF8.h"

namespace {

struct Decoded {
    int valid;
    uint32_t cp;
    int32_t consumed;
};

std::vector<Decoded> decodeAll(const std::vector<uint8_t>& bytes) {
    std::vector<Decoded> out;
    int32_t pos = 0;
    int valid = -1;
    uint32_t cp = 99;
    for (;;) {
        int32_t before = pos;
        if (utf8_get_next_char(bytes.data(), static_cast<int32_t>(bytes.size()), &pos, &valid,
                               &cp) == -1)
            break;
        out.push_back({valid, cp, pos - before});
        if (out.size() > bytes.size())
            break; // no progress would be a fault
    }
    return out;
}

TEST(Utf8, WellFormedCharactersOfEveryLength) {
    auto d = decodeAll({'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0xF4, 0x8F,
                        0xBF, 0xBF});
    ASSERT_EQ(d.size(), 5u);
    EXPECT_EQ(d[0].cp, 0x41u);
    EXPECT_EQ(d[1].cp, 0xE9u);
    EXPECT_EQ(d[2].cp, 0x20ACu);
    EXPECT_EQ(d[3].cp, 0x1F600u);
    EXPECT_EQ(d[4].cp, 0x10FFFFu);
    for (auto& c : d)
        EXPECT_EQ(c.valid, 1);
    EXPECT_EQ(d[3].consumed, 4);
}

TEST(Utf8, IllFormedSequencesSkipTheirWellFormedBeginning) {
    // E0 80: bad first continuation after E0 -> one byte; then 80 alone -> one byte.
    auto d = decodeAll({0xE0, 0x80});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].valid, 0);
    EXPECT_EQ(d[0].cp, 0u);
    EXPECT_EQ(d[0].consumed, 1);
    EXPECT_EQ(d[1].valid, 0);
    EXPECT_EQ(d[1].consumed, 1);

    // A four-byte lead with two good continuations and no third: three bytes.
    d = decodeAll({0xF0, 0x9F, 0x98});
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].valid, 0);
    EXPECT_EQ(d[0].consumed, 3);

    // A three-byte lead with a good first and a bad second continuation: two bytes.
    d = decodeAll({0xE2, 0x82, 'x'});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].consumed, 2);
    EXPECT_EQ(d[1].cp, static_cast<uint32_t>('x'));

    // Bad lead bytes, overlong forms, surrogates and values above U+10FFFF.
    for (std::vector<uint8_t> bad : {std::vector<uint8_t>{0xC0, 0xAF}, {0xC1, 0xBF}, {0xF5, 0x80},
                                     {0xFF}, {0xED, 0xA0, 0x80}, {0xF4, 0x90, 0x80, 0x80},
                                     {0xF0, 0x80, 0x80, 0x80}}) {
        d = decodeAll(bad);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].valid, 0);
        EXPECT_EQ(d[0].consumed, 1) << std::hex << int(bad[0]);
    }
    // A lead at the very end: one byte.
    d = decodeAll({'a', 0xC3});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[1].valid, 0);
    EXPECT_EQ(d[1].consumed, 1);
}

TEST(Utf8, EndOfInput) {
    int32_t pos = 3;
    int valid;
    uint32_t cp;
    const uint8_t text[] = "abc";
    EXPECT_EQ(utf8_get_next_char(text, 3, &pos, &valid, &cp), -1);
    pos = 0;
    EXPECT_EQ(utf8_get_next_char(text, 0, &pos, &valid, &cp), -1);
}

} // namespace
