// The amplifier's values as JSON, for the console's page and for scripts
// (GET /status.json): the same record and alarm list the remote link sends an
// operator's unit, plus the values that record leaves out.
#pragma once

#include <cstddef>

struct Works;

constexpr size_t kStatusJsonMax = 4096;

// The JSON text into `out` (cap at least kStatusJsonMax); its length, or 0
// when cap is smaller.
size_t BuildStatusJson(Works* works, char* out, size_t cap);
