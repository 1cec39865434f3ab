#include "FuzzRoot.h"

#include <sys/stat.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("PANEL_FUZZ_SEEDS_OUT");
    if (!dir || !*dir) return 0;
    mkdir(dir, 0755);
    const auto seeds = FuzzSeeds();
    for (size_t i = 0; i < seeds.size(); i++) {
        const std::string path = std::string(dir) + "/seed" + std::to_string(i);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(seeds[i].data(), 1, seeds[i].size(), f) != seeds[i].size()) {
            std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
            std::exit(2);
        }
        std::fclose(f);
    }
    std::exit(0);
}
