// Needle angles and ends, and the SWR scale conversion.
#include "draw/Meter.h"

#include <cmath>

const SwrPoint CONV_SWR[12] = {{1.0f, 0},  {1.5f, 11}, {2.0f, 20}, {3.0f, 30},
                               {4.0f, 36}, {5.0f, 40}, {6.0f, 43}, {7.0f, 45},
                               {8.0f, 47}, {9.0f, 48}, {10.0f, 50}, {100.0f, 60}};

float NeedleAngle(float v, float fullScale) {
    // The constant is the meter's own, slightly above pi.
    return static_cast<float>((0.24 - v * 0.48 / fullScale) * 3.141692653);
}

void NeedleEndExact(int px, int py, int l1, int l2, float a, double* x, double* y) {
    *x = px - l1 * std::sin(a) + 15 * std::cos(a + 1.5708463265);
    *y = py - l2 * std::cos(a) + 15 * std::sin(a + 1.5708463265);
}

void NeedleEnd(int px, int py, int l1, int l2, float a, int* x, int* y) {
    double ex, ey;
    NeedleEndExact(px, py, l1, l2, a, &ex, &ey);
    *x = static_cast<int>(ex);
    *y = static_cast<int>(ey);
}

float CalcolaSWR(float swr) {
    if (swr < CONV_SWR[0].swr)
        return 0.0f;
    for (int i = 1; i < 12; i++) {
        if (CONV_SWR[i].swr > swr) {
            const SwrPoint& p0 = CONV_SWR[i - 1];
            const SwrPoint& p1 = CONV_SWR[i];
            return p0.units + (p1.units - p0.units) * (swr - p0.swr) / (p1.swr - p0.swr);
        }
    }
    return CONV_SWR[11].units;
}
