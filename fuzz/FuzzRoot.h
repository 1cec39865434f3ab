// A root folder and a record for the fuzz targets, made once per process, and
// the helpers the file targets share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Works;

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

// Sends the amplifier command of link state `state` (SendLinearCommand) into a
// pipe and returns the bytes that would have gone to the port.
std::string FuzzSentCommand(Works* works, int state);
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

// A broken invariant: the message on the real standard error, then abort, so
// the fuzzer keeps the input.
[[noreturn]] void FuzzFail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#define FUZZ_CHECK(cond, ...)                                                                      \
    do {                                                                                           \
        if (!(cond))                                                                               \
            FuzzFail(__VA_ARGS__);                                                                 \
    } while (0)
