// Reading the virtual panel and saving it as a PNG picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimScreen {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgrx; // 4 bytes a pixel: B, G, R, 0
};

// Reads an 800 x 480 x 32-bit virtual panel file; false if it is not that size yet.
bool SimScreenRead(const std::string& fbPath, SimScreen* s);
// Pixel (x, y) as R, G, B.
void SimScreenPixel(const SimScreen& s, int x, int y, uint8_t* r, uint8_t* g, uint8_t* b);
// Writes the picture as an 8-bit RGB PNG.
bool SimScreenSavePng(const SimScreen& s, const std::string& pngPath);

// A live view of the virtual panel: the file mapped shared, read-only. Null
// until the panel has sized the file.
struct SimScreenMap {
    const uint8_t* pixels = nullptr;
};
bool SimScreenMapOpen(SimScreenMap* m, const std::string& fbPath);
void SimScreenMapClose(SimScreenMap* m);
