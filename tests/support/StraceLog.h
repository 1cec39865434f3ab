// Reading a trace of `strace -f -Y` (every line "PID<comm> syscall(...) = ..."):
// which thread of the traced program wrote under a folder or started a
// process, directly or through a child it started.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// One thing done that the storage thread alone may do.
struct TraceDeed {
    int line = 0;        // 1-based, in the trace
    int pid = 0;         // the thread or child that did it
    std::string thread;  // the program's thread it is charged to (its name then)
    std::string what;    // "write", "rename", "unlink", "mount", "process"
    std::string text;    // the trace line
};

struct TraceSummary {
    int programPid = 0;            // the first process traced
    std::set<std::string> threads; // names the program's threads took
    int namedAt = 0;               // the line where a thread first took the name `firstNamed`
    std::vector<TraceDeed> deeds;  // writes under `folder` and processes started, in order
};

// Reads the trace: threads are told from processes by CLONE_THREAD; a child
// process (and everything it starts) is charged to the thread that started it,
// with the name that thread had then. `folder` is matched as a prefix of the
// paths of opens for writing, renames, unlinks and mounts. `firstNamed` is a
// thread name whose first appearance (its prctl) `namedAt` reports.
TraceSummary ReadTrace(const std::string& text, const std::string& folder, const std::string& firstNamed);
