// Reading the panel's own text tables (bands, fan, banks, tuner memory, network)
// and writing whole files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

// Reads the next line that is not a comment (';' first) into `line`, without its
// "\n" or "\r\n" (a table edited on another machine keeps working); false at the
// end of the file. A line longer than `size` arrives in pieces, as fgets gives it.
bool NextDataLine(FILE* f, char* line, int size);

// The number of lines that are not comments (';' first), read from the current
// position to the end in 256-byte pieces, as the row readers read them; the
// caller rewinds to read the rows.
int CountDataLines(FILE* f);

// Replaces `path` (absolute, resolved under the root) with `len` bytes written
// to a temporary file in the same folder and renamed over it, so a power cut
// leaves either the old or the new file. A symbolic link is followed and its
// target replaced; the file keeps its mode and owner (a new file is 0644).
// A nonzero `forceMode` is the file's mode whatever it was, from the first byte
// on (a secret is never readable by others, not even for a moment). Returns 0
// or an errno value (EROFS for /opt/set while a root's emulated mount is
// read-only).
int WriteFileAtomic(const char* path, const char* data, size_t len, mode_t forceMode = 0);

// True when `path` (resolved under the root) holds exactly these `len` bytes,
// and has the mode `forceMode` when that is nonzero: writing it again would
// change nothing.
bool FileHolds(const char* path, const char* data, size_t len, mode_t forceMode = 0);
