// The system log and the program's standard-error lines: the one way the
// program says what it does.
//
// Failures go to syslog at error level (3), progress at information level (6).
// Under a root folder every line is also appended to DIR/syslog.log as
// "LEVEL TEXT", so tests and the simulator can read what the program logged.
// The standard-error lines (the console the service's journal and the
// simulator's panel.out show) go out in one write each, so the lines of several
// threads never interleave.
#pragma once

#include <syslog.h>

void plat_log(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void LogErr(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Standard error, exactly the text formatted (the caller's newline included).
void LogOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Standard output, likewise (the few lines the program prints there).
void LogStdout(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The log line and the same text as a standard-error line (a newline added).
void LogErrOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogInfoOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
