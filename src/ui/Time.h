// The screen refresh thread: every tick it recomposes the page from its
// background, follows the operating frequency, draws the meters or the spectrum
// plot and the keys, streams the status to a remote unit and shows the picture.
#pragma once

#include "core/Shared.h"

struct Works;

// The spectrum plot's geometry and scale: set once by InitGrid, the scale's
// reference level, position and division by the menu (keys).
struct PlotGrid {
    Shared<int> SchermoWidth, SchermoHeight, divX, divY, borderLeft, borderRight, borderTop,
        borderBottom, xRangeStart, xRangeEnd, LabelBorder, RefLevel, RefPos, PointDiv;
};
extern PlotGrid plot;

// The thread body.
void timer(Works* works);
// The thread's start: plot geometry, no peak needles yet, fresh tick state.
void TimerInit(Works* works);
// One tick without its sleep and count-downs: compose (background into the
// picture), TimerDrawPage, show.
void TimerTick(Works* works);
// Everything a tick does between composing and showing.
void TimerDrawPage(Works* works);

void InitGrid();
void DrawGrid(Works* works);
void DrawFreq(Works* works);
// Point `index` of a trace value on the plot, clamped to the plot's height.
void CalculatePoint(int bottomLevel, int topLevel, int index, float value, float* x, float* y);
float ConvertW_to_dBm(float watts);
// Peak hold of the forward meter and of the right-hand meter.
void CalcolaPwrPeak(Works* works, float value);
void CalcolaPwrPeak2(Works* works, float value);
// The count-downs of one tick: link error hold-off and the peak decay.
void TickCountDowns(Works* works, int tickMs);
// The two meters of screen pages 1..3.
void DrawMeters(Works* works);
