// What each fuzz target provides; a root folder and a record for the targets,
// made once per process, and the helpers they share.
#pragma once

// With what most targets use: the record, the amplifier's commands, the C and
// POSIX calls.
#include "amp/LinearPort.h"
#include "core/Works.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// With PANEL_FUZZ_SEEDS_OUT=DIR in the environment it writes the seeds into DIR
// as files (a corpus for libFuzzer) and ends the program.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

// Well-formed inputs the mutations start from (written out as the corpus for
// libFuzzer runs).
std::vector<std::vector<uint8_t>> FuzzSeeds();

// Creates a root (on /dev/shm when there is one, else under /tmp; removed at
// exit), sets it as the platform root and returns a record set up as at
// start-up, with the alarm table in place.
Works* FuzzWorks();
// The root folder of FuzzWorks.
const std::string& FuzzRootDir();

// Writes the input as the file `path` (absolute, resolved under the root).
void FuzzWriteFile(const char* path, const uint8_t* data, size_t size);
// The bytes of a file under the root ("" when it is missing).
std::string FuzzReadFile(const char* path);

// A connected socket pair whose reading end, returned in sv[1], holds all of
// `data` (at most 64 KiB) and then the end of the stream; sv[0] is the writing
// end. The caller closes both.
void FuzzSocketWith(const uint8_t* data, size_t size, int sv[2]);

// Empties the amplifier command ring, as the link would by sending.
void FuzzDrainCommands(Works* works);

// Seeds of texts; and a first byte (the target's choice of path) before a text.
std::vector<std::vector<uint8_t>> FuzzSeedsOf(const std::vector<std::string>& texts);
std::vector<uint8_t> FuzzBytes(uint8_t first, const std::string& rest);

// Keeps /opt/set writable for the whole run (the first call remounts, later
// ones do nothing): the writers then find the partition remounted already and
// run no shell command per save.
void FuzzHoldSettingsWritable();

// Keeps the root's syslog.log from growing without bound over a long run.
void FuzzTrimLog();
// Sends standard output and error to /dev/null for its scope: the table readers
// echo every row, which would fill the fuzzer's log. Sanitizer reports and
// FuzzFail still reach the real standard error. PANEL_FUZZ_VERBOSE=1 in the
// environment keeps the output, to follow one input.
struct FuzzQuiet {
    FuzzQuiet();
    ~FuzzQuiet();
    FuzzQuiet(const FuzzQuiet&) = delete;
    FuzzQuiet& operator=(const FuzzQuiet&) = delete;
};
// `f()` with the output quiet.
template <typename F> auto FuzzQuietly(F f) {
    FuzzQuiet quiet;
    return f();
}

// A broken invariant: the message on the real standard error, then abort, so
// the fuzzer keeps the input.
[[noreturn]] void FuzzFail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#define FUZZ_CHECK(cond, ...)                                                                      \
    do {                                                                                           \
        if (!(cond)) FuzzFail(__VA_ARGS__);                                                        \
    } while (0)
