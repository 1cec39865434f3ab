// Reading and writing PNG files for the models, the simulator and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimPng {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    int colorType = 6;          // libpng's colour type (6 = RGBA, 2 = RGB)
    std::vector<uint8_t> data;  // rows, tightly packed, as libpng lays them out
};

// Writes `png` as it stands (any depth and colour type libpng accepts).
bool SimPngWrite(const SimPng& png, const std::string& path);
// Reads any PNG and converts it to 8-bit RGBA.
bool SimPngReadRgba(const std::string& path, SimPng* png);
