// What each fuzz target provides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// With PANEL_FUZZ_SEEDS_OUT=DIR in the environment it writes the seeds into DIR
// as files (a corpus for libFuzzer) and ends the program.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

// Well-formed inputs the mutations start from (written out as the corpus for
// libFuzzer runs).
std::vector<std::vector<uint8_t>> FuzzSeeds();
