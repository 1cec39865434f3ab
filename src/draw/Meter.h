// Geometry of the two analogue meters and the SWR scale.
//
// The meter faces of the skins are drawn from the same functions, so every scale
// mark stands exactly where the needle points for that value.
#pragma once

// Pivots and needle length of the two meters.
constexpr int kFwdPivotX = 210;
constexpr int kFwdPivotY = 260;
constexpr int kRightPivotX = 590;
constexpr int kRightPivotY = 260;
constexpr int kNeedleLength = 200;

// Needle angle in radians of value v on a meter of full scale S: about +43
// degrees (upper left) at 0, -43 degrees at full scale.
float NeedleAngle(float v, float fullScale);

// End of a needle of lengths l1, l2 at angle a from the pivot, before truncation
// to whole pixels (the needle drawn is truncated; the skins use the exact point).
void NeedleEndExact(int px, int py, int l1, int l2, float a, double* x, double* y);
// The drawn end: both coordinates truncated toward zero.
void NeedleEnd(int px, int py, int l1, int l2, float a, int* x, int* y);

// One pair of the SWR conversion table: an SWR and its meter units.
struct SwrPoint {
    float swr;
    float units;
};
extern const SwrPoint CONV_SWR[12];

// SWR to meter units (0..60) by linear interpolation in CONV_SWR.
float CalcolaSWR(float swr);
