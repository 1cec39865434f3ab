// Helpers shared by the tests: temporary root folders, files, waiting with a deadline.
#pragma once

#include <functional>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed at the end of the test.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);
bool WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// The permission bits of the file at `path` (e.g. 0600); -1 when there is none.
int FileMode(const std::string& path);
bool Contains(const std::string& haystack, const std::string& needle);
// How often `needle` occurs in `haystack` (overlapping occurrences counted).
size_t CountOf(const std::string& haystack, const std::string& needle);
// Position of the first line of `lines` that contains `needle` at or after `from`; -1 if none.
int FindLine(const std::vector<std::string>& lines, const std::string& needle, int from = 0);
// What `/bin/sh -c command` printed on standard output (at most 1 MB).
std::string CommandOutput(const std::string& command);

// A TCP connection to `host` (a numeric address) at `port`, retried for
// `timeoutMs` of real time while nothing listens yet; -1 when none came.
int ConnectWithin(const char* host, int port, int timeoutMs);

// Polls `cond` every few milliseconds until it holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs);
