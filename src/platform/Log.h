// The system log.
//
// Failures go to syslog at error level (3), progress at information level (6).
// Under a root folder every line is also appended to DIR/syslog.log as
// "LEVEL TEXT", so tests and the simulator can read what the program logged.
#pragma once

#include <syslog.h>

void plat_log(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void LogErr(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
