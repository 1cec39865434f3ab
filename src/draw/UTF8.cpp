// UTF-8 decoding.
#include "draw/UTF8.h"

int utf8_get_next_char(const uint8_t* text, int32_t length, int32_t* position, int* valid,
                       uint32_t* codepoint) {
    int32_t pos = *position;
    if (pos < 0 || pos >= length)
        return -1;
    const uint8_t lead = text[pos];
    *valid = 0;
    *codepoint = 0;

    int follow;
    uint32_t cp;
    uint8_t lo = 0x80, hi = 0xBF; // range of the first continuation byte
    if (lead < 0x80) {
        *valid = 1;
        *codepoint = lead;
        *position = pos + 1;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0)
            lo = 0xA0;
        if (lead == 0xED)
            hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        cp = lead & 0x07;
        if (lead == 0xF0)
            lo = 0x90;
        if (lead == 0xF4)
            hi = 0x8F;
    } else {
        *position = pos + 1; // 0x80..0xC1, 0xF5..0xFF
        return 1;
    }

    // Take continuation bytes while they are well formed; stop at the first bad
    // or missing one and consume what was good.
    int32_t p = pos + 1;
    for (int i = 0; i < follow; i++, p++) {
        if (p >= length) {
            *position = p;
            return 1;
        }
        uint8_t b = text[p];
        uint8_t min = i == 0 ? lo : 0x80;
        uint8_t max = i == 0 ? hi : 0xBF;
        if (b < min || b > max) {
            *position = p;
            return 1;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    *valid = 1;
    *codepoint = cp;
    *position = p;
    return 1;
}
