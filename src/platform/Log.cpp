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

void vlog(int level, const char* fmt, va_list ap) {
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, ap);
    syslog(level, "%s", text);
    appendToRootLog(level, text);
}

} // namespace

void plat_log(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vlog(level, fmt, ap);
    va_end(ap);
}

void LogErr(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vlog(LOG_ERR, fmt, ap);
    va_end(ap);
}

void LogInfo(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vlog(LOG_INFO, fmt, ap);
    va_end(ap);
}
