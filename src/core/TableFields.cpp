// Number fields of the text tables, refused with a log line when they do not fit.
#include "core/TableFields.h"

#include "platform/Log.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The text of a refused number, for its log line; a hand edit may be any length.
constexpr int kShownChars = 24;

void refuse(const TableCursor* c, const char* field, const char* from, const char* to,
            const char* why, const char* kept) {
    const long n = to - from;
    LogErr("%s row %d: %s \"%.*s%s\" %s, refused; %s kept", c->table, c->row, field,
           static_cast<int>(n < kShownChars ? n : kShownChars), from, n > kShownChars ? "..." : "",
           why, kept);
}

const char* skipBlanks(const char* p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    return p;
}

} // namespace

bool TableUnsigned(TableCursor* c, const char* field, uint32_t* out) {
    const char* start = skipBlanks(c->p);
    char* end;
    errno = 0;
    const unsigned long v = std::strtoul(start, &end, 0);
    if (end == start) {
        *out = 0;
        return true;
    }
    c->p = end;
    // strtoul takes "-5" as a huge number; a frequency is never negative.
    const bool negative = *start == '-' && v != 0;
    if (negative || errno == ERANGE || v > UINT32_MAX) {
        char kept[24];
        std::snprintf(kept, sizeof kept, "%u", static_cast<unsigned>(*out));
        refuse(c, field, start, end, negative ? "is negative" : "does not fit 32 bits", kept);
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

bool TableInt(TableCursor* c, const char* field, long lo, long hi, long* out) {
    const char* start = skipBlanks(c->p);
    char* end;
    errno = 0;
    const long v = std::strtol(start, &end, 10);
    if (end == start) {
        *out = 0;
        return true;
    }
    c->p = end;
    if (errno == ERANGE || v < lo || v > hi) {
        char why[64], kept[24];
        std::snprintf(why, sizeof why, "is outside %ld..%ld", lo, hi);
        std::snprintf(kept, sizeof kept, "%ld", *out);
        refuse(c, field, start, end, why, kept);
        return false;
    }
    *out = v;
    return true;
}

namespace {

enum class Number { None, Taken, Refused };

// A float field, judged whole or (truncate) by its integer part against lo..hi;
// `range` and `kept` are the texts of the refusal's log line.
Number floatField(TableCursor* c, const char* field, double lo, double hi, bool truncate,
                  const char* range, const char* kept, float* v) {
    const char* start = skipBlanks(c->p);
    char* end;
    *v = std::strtof(start, &end);
    if (end == start)
        return Number::None;
    c->p = end;
    // Compared before any conversion, which is undefined for a value out of range.
    const double judged = truncate ? std::trunc(*v) : *v;
    if (std::isfinite(*v) && judged >= lo && judged <= hi)
        return Number::Taken;
    char why[64];
    if (std::isfinite(*v))
        std::snprintf(why, sizeof why, "is outside %s", range);
    else
        std::snprintf(why, sizeof why, "is not a finite number");
    refuse(c, field, start, end, why, kept);
    return Number::Refused;
}

} // namespace

bool TableFloat(TableCursor* c, const char* field, float lo, float hi, float* out) {
    char range[48], kept[24];
    std::snprintf(range, sizeof range, "%g..%g", static_cast<double>(lo), static_cast<double>(hi));
    std::snprintf(kept, sizeof kept, "%g", static_cast<double>(*out));
    float v;
    switch (floatField(c, field, lo, hi, false, range, kept, &v)) {
    case Number::None:
        *out = 0.0f;
        return true;
    case Number::Refused:
        return false;
    case Number::Taken:
        break;
    }
    *out = v;
    return true;
}

bool TableTruncated(TableCursor* c, const char* field, int lo, int hi, int* out) {
    char range[48], kept[24];
    std::snprintf(range, sizeof range, "%d..%d", lo, hi);
    std::snprintf(kept, sizeof kept, "%d", *out);
    float v;
    switch (floatField(c, field, lo, hi, true, range, kept, &v)) {
    case Number::None:
        *out = 0;
        return true;
    case Number::Refused:
        return false;
    case Number::Taken:
        break;
    }
    *out = static_cast<int>(v);
    return true;
}
