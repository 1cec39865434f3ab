// Number fields of the hand-edited text tables (config.txt, filter.txt,
// ventola.txt, the antenna banks).
//
// A row is a line of white-space-separated numbers. Each reader takes the next
// field the way strtoul/strtol/strtof would: a field without a number reads as
// 0 and the cursor stays where it is, so the fields after it read as 0 too (the
// tables' own rule). A number that the field cannot hold (outside its range,
// too large for its type, or not finite, as "1e10", "-3e7", "nan" or "inf" can
// be) is refused: a log line names the table, the row and the field, the cursor
// moves past the number and the field keeps the value it had. Each reader
// returns false when it refused a number.
#pragma once

#include <cstdint>
#include <limits>

// Bounds for a float field that takes any finite value.
constexpr float kTableFloatMax = std::numeric_limits<float>::max();

struct TableCursor {
    const char* p;     // the next character of the line
    const char* table; // the file's name, for the log line
    int row;           // the row's number, counted from 1 over the data lines
};

// An unsigned 32-bit number with the base given by its prefix ("0x" hex,
// leading "0" octal, else decimal); a minus sign is refused.
bool TableUnsigned(TableCursor* c, const char* field, uint32_t* out);
// A decimal integer within [lo, hi].
bool TableInt(TableCursor* c, const char* field, long lo, long hi, long* out);
// A finite decimal (or hexadecimal) float within [lo, hi].
bool TableFloat(TableCursor* c, const char* field, float lo, float hi, float* out);
// A float truncated toward zero to an integer within [lo, hi].
bool TableTruncated(TableCursor* c, const char* field, int lo, int hi, int* out);
