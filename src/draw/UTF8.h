// UTF-8 decoding by the byte ranges of RFC 3629.
#pragma once

#include <cstdint>

// Decodes the character at byte `*position` of `text` (`length` bytes) and
// advances `*position` past it. Returns 1 when a character was read (valid or
// not) and -1 when `*position` >= `length`. `*valid` is 1 for a well-formed
// character, else 0 with `*codepoint` 0; an ill-formed sequence consumes its
// longest well-formed beginning (at least one byte).
int utf8_get_next_char(const uint8_t* text, int32_t length, int32_t* position, int* valid,
                       uint32_t* codepoint);
