// A small driver for the fuzz targets where libFuzzer is not used (GCC builds,
// the test suite): it runs the given inputs, then a fixed number of inputs made
// by mutating the target's seeds, reproducibly from a seed number.
//
//   target [-runs=N] [-seed=S] [-max_len=L] [FILE|DIR ...]
#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The file at `path`, or every file under the folder, as inputs (1 MiB each at most).
void addPath(const std::string& path, std::vector<Bytes>* inputs) {
    struct stat st{};
    FILE* f = nullptr;
    if (stat(path.c_str(), &st) != 0 || (!S_ISDIR(st.st_mode) && !(f = std::fopen(path.c_str(), "rb")))) {
        std::fprintf(stderr, "fuzz: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    if (S_ISDIR(st.st_mode)) {
        DIR* d = opendir(path.c_str());
        while (dirent* e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.')
                addPath(path + "/" + e->d_name, inputs);
        if (d)
            closedir(d);
        return;
    }
    Bytes b;
    uint8_t buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0 && b.size() < (1u << 20);)
        b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    inputs->push_back(std::move(b));
}

// Byte values the parsers treat specially are tried more often than others.
const uint8_t kInteresting[] = {0x00, 0x01, 0x0E, 0x0F, 0x30, 0x39, 0x3A, 0x3F,
                                0x40, 0x7F, 0x80, 0xFF, ';',  '0',  '1',  '-'};

Bytes mutate(const Bytes& in, const std::vector<Bytes>& pool, std::mt19937& rng, size_t maxLen) {
    Bytes b = in;
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % (n ? n : 1)); };
    const int steps = 1 + static_cast<int>(rng() % 6);
    for (int s = 0; s < steps; s++) {
        switch (rng() % 7) {
        case 0: // flip a bit
            if (!b.empty())
                b[pick(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1: // a random byte
            if (!b.empty())
                b[pick(b.size())] = static_cast<uint8_t>(rng());
            break;
        case 2: // an interesting byte
            if (!b.empty())
                b[pick(b.size())] = kInteresting[pick(sizeof kInteresting)];
            break;
        case 3: { // insert a few bytes
            const size_t at = pick(b.size() + 1);
            const size_t n = 1 + pick(8);
            for (size_t i = 0; i < n; i++)
                b.insert(b.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
            break;
        }
        case 4: { // erase a range
            if (b.empty())
                break;
            const size_t at = pick(b.size());
            const size_t n = 1 + pick(std::min<size_t>(b.size() - at, 64));
            b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
            break;
        }
        case 5: { // splice in part of another input
            const Bytes& o = pool[pick(pool.size())];
            if (o.empty())
                break;
            const size_t from = pick(o.size());
            const size_t n = 1 + pick(o.size() - from);
            b.insert(b.begin() + static_cast<long>(pick(b.size() + 1)), o.begin() + static_cast<long>(from),
                     o.begin() + static_cast<long>(from + n));
            break;
        }
        default: // cut short
            if (!b.empty())
                b.resize(pick(b.size()));
            break;
        }
    }
    if (b.size() > maxLen)
        b.resize(maxLen);
    return b;
}

} // namespace

int main(int argc, char** argv) {
    long runs = 10000;
    unsigned seed = 1;
    size_t maxLen = 4096;
    std::vector<Bytes> inputs;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (std::strncmp(a, "-runs=", 6) == 0)
            runs = std::atol(a + 6);
        else if (std::strncmp(a, "-seed=", 6) == 0)
            seed = static_cast<unsigned>(std::strtoul(a + 6, nullptr, 10));
        else if (std::strncmp(a, "-max_len=", 9) == 0)
            maxLen = static_cast<size_t>(std::atol(a + 9));
        else
            addPath(a, &inputs);
    }
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<Bytes> pool = FuzzSeeds();
    for (const Bytes& b : inputs)
        LLVMFuzzerTestOneInput(b.data(), b.size());
    pool.insert(pool.end(), inputs.begin(), inputs.end());
    if (pool.empty())
        pool.push_back(Bytes{});
    std::mt19937 rng(seed);
    for (const Bytes& b : pool)
        LLVMFuzzerTestOneInput(b.data(), b.size());
    for (long r = 0; r < runs; r++) {
        const Bytes b = mutate(pool[rng() % pool.size()], pool, rng, maxLen);
        LLVMFuzzerTestOneInput(b.data(), b.size());
        // Inputs that grew stay in the pool now and then, so mutations stack up.
        if (rng() % 16 == 0 && pool.size() < 512)
            pool.push_back(b);
    }
    std::printf("fuzz: %zu given inputs, %zu seeds, %ld mutated runs, no findings\n", inputs.size(),
                FuzzSeeds().size(), runs);
    return 0;
}
