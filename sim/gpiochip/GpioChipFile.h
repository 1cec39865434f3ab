// A modelled GPIO chip's state, kept in the regular file ROOT/dev/gpiochipN itself
// and mapped shared by the model library (in the panel's process) and the tests.
//
// Bytes 0..4095 are laid out as the register block of a root's dev/mem (level
// word 13, set and clear words, function select, the virtual wire), so the
// existing device models work on the chip unchanged: the library turns each
// line value set into the set/clear register writes of the wire, each direction
// change into a function-select write, and each read of an input into a wire
// read of the level word. The chip's own header and lines follow at 4096.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

constexpr off_t kChipStateAt = 4096;
constexpr uint32_t kChipMagic = 0x50484347; // "GCHP"
constexpr int kChipLinesMax = 64;           // lines a modelled chip may have
constexpr size_t kChipNameSize = 32;        // GPIO_MAX_NAME_SIZE

struct ChipLine {
    uint32_t owner;      // pid of the process whose request holds the line, 0 free
    uint32_t value;      // what an output drives (the physical level)
    uint64_t flags;      // GPIO_V2_LINE_FLAG_* it was last configured with
    uint32_t debounceUs;
    uint32_t reserved;
    char consumer[kChipNameSize];
};

struct ChipState {
    uint32_t magic;
    uint32_t lines;    // offsets 0..lines-1 exist
    char label[kChipNameSize];
    uint32_t requests; // line requests granted so far
    uint32_t reserved;
    ChipLine line[kChipLinesMax];
};

constexpr size_t kChipFileSize = 8192;
static_assert(kChipStateAt + sizeof(ChipState) <= kChipFileSize, "the chip's state fits its file");
