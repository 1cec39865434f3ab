// Any bytes as a screen received from a peer: the JPEG decoder must refuse what
// it cannot decode without touching memory outside the picture.
#include "FuzzRoot.h"
#include "Jpeg.h"

#include "remote/Compress.h"
#include "draw/Fb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    [[maybe_unused]] static const bool once = [&] {
        w->fb = fbInitMemory(800, 480, 32);
        return true;
    }();
    Uncompress(w, data, size);
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    // 16 x 8 pixels of a gradient, baseline and progressive.
    const auto gradient = [](int x, int y) {
        const auto v = static_cast<uint8_t>(x * 15 + y * 30);
        return std::array<uint8_t, 3>{v, static_cast<uint8_t>(v + 5), static_cast<uint8_t>(v + 10)};
    };
    return {JpegOf(16, 8, gradient), JpegOf(16, 8, gradient, true)};
}
