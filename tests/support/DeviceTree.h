// Device-tree properties as a board's kernel offers them under /proc/device-tree.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// Cells are big-endian 32-bit words.
inline std::string DtCells(std::initializer_list<uint32_t> words) {
    std::string b;
    for (uint32_t v : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            b += static_cast<char>((v >> shift) & 0xFF);
    return b;
}
