// Antenna bank tables.
#include "tuner/Banks.h"

#include "core/Works.h"

bool BandNameOfFreq(Works* w, char* name, size_t size) {
    const int64_t f = w->freqHz;
    const int n = w->antennaRowCount;
    for (int i = 0; i < n && i < kAntennaRows; i++) {
        const AntennaRow& r = w->antennaTable[i];
        if (r.freqLow <= f && f <= r.freqHigh) {
            r.name.copyTo(name, size);
            return true;
        }
    }
    return false;
}
