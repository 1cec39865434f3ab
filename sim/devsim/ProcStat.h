// What each thread of a process costs, from /proc: processor time and how
// often it went to sleep and woke (voluntary context switches).
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct ThreadUse {
    int tid = 0;
    std::string name;       // the thread's name (comm)
    uint64_t ticks = 0;     // user + system, in clock ticks
    uint64_t voluntary = 0; // each one a sleep and a wake-up
};

// The threads of `pid` now; empty when it has gone.
std::vector<ThreadUse> ProcThreads(pid_t pid);

// How often the thread of `pid` named `name` has gone to sleep so far; -1 when
// the process has no such thread.
int64_t ProcThreadSleeps(pid_t pid, const std::string& name);

struct ThreadRate {
    std::string name;
    double cpuPercent = 0; // of one core
    double wakeupsPerS = 0;
};

// Per thread between two samples `seconds` apart (threads met by tid; one that
// began meanwhile counts from zero), busiest first by wake-ups.
std::vector<ThreadRate> ProcRates(const std::vector<ThreadUse>& before, const std::vector<ThreadUse>& after,
                                  double seconds);
