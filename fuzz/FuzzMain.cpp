// A small driver for the fuzz targets where libFuzzer is not used (GCC builds,
// the test suite): it runs the target's seeds, then a fixed number of inputs
// made by mutating them, the same in every run.
//
//   target [-runs=N]
#include "FuzzRoot.h"

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

// Byte values the parsers treat specially are tried more often than others.
const uint8_t kInteresting[] = {0x00, 0x01, 0x0E, 0x0F, 0x30, 0x39, 0x3A, 0x3F,
                                0x40, 0x7F, 0x80, 0xFF, ';',  '0',  '1',  '-'};

Bytes mutate(Bytes b, const std::vector<Bytes>& pool, std::mt19937& rng) {
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % (n ? n : 1)); };
    for (int steps = 1 + static_cast<int>(pick(6)); steps > 0; steps--) {
        // A place in the input, or its end.
        const size_t at = pick(b.size() + 1);
        const bool inside = at < b.size();
        const auto it = [&] { return b.begin() + static_cast<long>(at); };
        switch (rng() % 7) {
        case 0: // flip a bit
            if (inside) b[at] ^= static_cast<uint8_t>(1u << pick(8));
            break;
        case 1: // a random byte
            if (inside) b[at] = static_cast<uint8_t>(rng());
            break;
        case 2: // an interesting byte
            if (inside) b[at] = kInteresting[pick(sizeof kInteresting)];
            break;
        case 3: // insert a few bytes
            for (size_t n = 1 + pick(8); n > 0; n--)
                b.insert(it(), static_cast<uint8_t>(rng()));
            break;
        case 4: // erase a range
            if (inside)
                b.erase(it(),
                        it() + 1 + static_cast<long>(pick(std::min<size_t>(b.size() - at, 64))));
            break;
        case 5: { // splice in part of another input
            const Bytes& o = pool[pick(pool.size())];
            const size_t from = pick(o.size());
            if (!o.empty())
                b.insert(it(), o.begin() + static_cast<long>(from),
                         o.begin() + static_cast<long>(from + 1 + pick(o.size() - from)));
            break;
        }
        default: // cut short
            b.resize(pick(b.size()));
            break;
        }
    }
    b.resize(std::min<size_t>(b.size(), 4096)); // the -max_len of scripts/fuzz
    return b;
}

} // namespace

int main(int argc, char** argv) {
    long runs = 10000;
    if (argc > 1 && std::strncmp(argv[1], "-runs=", 6) == 0) runs = std::atol(argv[1] + 6);
    LLVMFuzzerInitialize(&argc, &argv);
    // The seeds, then mutations of them.
    std::vector<Bytes> pool = FuzzSeeds();
    if (pool.empty()) pool.push_back(Bytes{});
    std::mt19937 rng(1);
    for (const Bytes& b : pool)
        LLVMFuzzerTestOneInput(b.data(), b.size());
    for (long r = 0; r < runs; r++) {
        const Bytes b = mutate(pool[rng() % pool.size()], pool, rng);
        LLVMFuzzerTestOneInput(b.data(), b.size());
        // Inputs that grew stay in the pool now and then, so mutations stack up.
        if (rng() % 16 == 0 && pool.size() < 512) pool.push_back(b);
    }
    std::printf("fuzz: %zu seeds, %ld mutated runs, no findings\n", FuzzSeeds().size(), runs);
    return 0;
}
