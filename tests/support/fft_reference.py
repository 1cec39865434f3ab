#!/usr/bin/env python3
"""The receiver's spectrum computed independently with NumPy.

usage: fft_reference.py SAMPLES POINTS OUT

SAMPLES holds 8192 little-endian float32 values (I/Q interleaved). Writes to OUT
one line per output byte: the byte and 1 when its level lies within 1e-9 dB of an
integer (a truncation tie, where rounding differences may decide), else 0.
"""
import sys

import numpy as np

samples = np.fromfile(sys.argv[1], dtype="<f4").astype(np.float64)
n = int(sys.argv[2])
i = np.arange(n)
x = 2.0 * np.pi * i / (n - 1)
window = 0.35875 - 0.48829 * np.cos(x) + 0.14128 * np.cos(2 * x) - 0.01168 * np.cos(3 * x)
window[0] = 0.0
z = (samples[0:2 * n:2] + 1j * samples[1:2 * n:2]) * window
spectrum = np.fft.fft(z) / (n / 2)
with np.errstate(divide="ignore"):
    level = 20.0 * np.log10(np.abs(spectrum))
level = np.where(np.isfinite(level), level, -1000.0)
coded = np.clip(np.trunc(level), -192, 50).astype(np.int64) + 192
tie = (np.abs(level - np.round(level)) < 1e-9) & (level > -192.0) & (level < 51.0)
coded = np.fft.fftshift(coded)
tie = np.fft.fftshift(tie)
first, count = (341, 1706) if n == 4096 else (170, 854)
picked = slice(first, first + 2 * count, 2)
with open(sys.argv[3], "w") as out:
    for b, t in zip(coded[picked], tie[picked]):
        out.write(f"{b} {int(t)}\n")
