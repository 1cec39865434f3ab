// syslog plus the root folder's syslog.log.
#include "platform/Log.h"

#include "platform/Root.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

std::mutex g_fileMut;
int g_fileFd = -1;
std::string g_fileRoot;

void appendToRootLog(int level, const char* text) {
    if (!plat_has_root())
        return;
    size_t len = std::strlen(text);
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r'))
        len--;
    char line[1100];
    int head = std::snprintf(line, sizeof line, "%d ", level);
    if (len > sizeof line - head - 1)
        len = sizeof line - head - 1;
    std::memcpy(line + head, text, len);
    line[head + len] = '\n';

    std::lock_guard<std::mutex> lock(g_fileMut);
    if (g_fileFd < 0 || g_fileRoot != plat_root()) {
        if (g_fileFd >= 0)
            close(g_fileFd);
        g_fileRoot = plat_root();
        g_fileFd = open((g_fileRoot + "/syslog.log").c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (g_fileFd >= 0) {
        // One write per line so lines of several threads never interleave.
        ssize_t r = write(g_fileFd, line, head + len + 1);
        (void)r;
    }
}

// One write of the whole text, so a line is never split between threads; a
// write cut short by a signal goes on with the rest.
void writeAll(int fd, const char* text, size_t len) {
    while (len > 0) {
        const ssize_t r = write(fd, text, len);
        if (r <= 0)
            return;
        text += r;
        len -= static_cast<size_t>(r);
    }
}

void vlog(int level, const char* fmt, va_list ap, bool alsoStderr) {
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, ap);
    syslog(level, "%s", text);
    appendToRootLog(level, text);
    if (alsoStderr) {
        size_t len = std::strlen(text);
        if (len + 1 < sizeof text && (len == 0 || text[len - 1] != '\n'))
            text[len++] = '\n';
        writeAll(STDERR_FILENO, text, len);
    }
}

void vout(int fd, const char* fmt, va_list ap) {
    char text[2048];
    const int n = std::vsnprintf(text, sizeof text, fmt, ap);
    if (n <= 0)
        return;
    writeAll(fd, text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

} // namespace

#define PANEL_LOG_BODY(call)                                                                       \
    va_list ap;                                                                                    \
    va_start(ap, fmt);                                                                             \
    call;                                                                                          \
    va_end(ap)

void plat_log(int level, const char* fmt, ...) { PANEL_LOG_BODY(vlog(level, fmt, ap, false)); }
void LogErr(const char* fmt, ...) { PANEL_LOG_BODY(vlog(LOG_ERR, fmt, ap, false)); }
void LogInfo(const char* fmt, ...) { PANEL_LOG_BODY(vlog(LOG_INFO, fmt, ap, false)); }
void LogErrOut(const char* fmt, ...) { PANEL_LOG_BODY(vlog(LOG_ERR, fmt, ap, true)); }
void LogInfoOut(const char* fmt, ...) { PANEL_LOG_BODY(vlog(LOG_INFO, fmt, ap, true)); }
void LogOut(const char* fmt, ...) { PANEL_LOG_BODY(vout(STDERR_FILENO, fmt, ap)); }
void LogStdout(const char* fmt, ...) {
    // Whatever stdio still holds goes first, so the order of the lines stays.
    std::fflush(stdout);
    PANEL_LOG_BODY(vout(STDOUT_FILENO, fmt, ap));
}
