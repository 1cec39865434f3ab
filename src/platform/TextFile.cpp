// Line helpers for the text tables, and the one writer of whole files.
#include "platform/TextFile.h"

#include "platform/Root.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

bool NextDataLine(FILE* f, char* line, int size) {
    while (std::fgets(line, size, f)) {
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n')
            line[--n] = '\0';
        if (n > 0 && line[n - 1] == '\r')
            line[--n] = '\0';
        if (line[0] != ';')
            return true;
    }
    return false;
}

int CountDataLines(FILE* f) {
    // Counted the way the rows are read: by fgets pieces of the same size.
    char line[256];
    int count = 0;
    while (std::fgets(line, sizeof line, f))
        if (line[0] != ';')
            count++;
    return count;
}

int WriteFileAtomic(const char* path, const char* data, size_t len) {
    std::string target = plat_path(path);
    std::string tmp = target + ".new";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, data + done, len - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int e = n < 0 ? errno : EIO;
            close(fd);
            unlink(tmp.c_str());
            return e;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return e;
    }
    if (rename(tmp.c_str(), target.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return e;
    }
    // Make the rename itself durable.
    std::string dir = target.substr(0, target.find_last_of('/') + 1);
    int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return 0;
}
