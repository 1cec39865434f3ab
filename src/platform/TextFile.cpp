// Line helpers for the text tables, and the one writer of whole files.
#include "platform/TextFile.h"

#include "platform/Root.h"

#include <cerrno>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
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

namespace {

// A symbolic link is written through to the file it names (a link's absolute
// target is taken under the root, as every absolute path is).
std::string resolveLinks(std::string target) {
    for (int depth = 0; depth < 8; depth++) {
        struct stat st;
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        char link[PATH_MAX];
        ssize_t n = readlink(target.c_str(), link, sizeof link - 1);
        if (n <= 0)
            break;
        link[n] = '\0';
        if (link[0] == '/')
            target = plat_path(link);
        else
            target = target.substr(0, target.find_last_of('/') + 1) + link;
    }
    return target;
}

} // namespace

bool FileHolds(const char* path, const char* data, size_t len, mode_t forceMode) {
    const int fd = open(plat_path(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) == len &&
                (!forceMode || (st.st_mode & 07777) == (forceMode & 07777));
    // Compared a piece at a time: the tables are up to a few hundred kilobytes.
    char piece[4096];
    size_t at = 0;
    while (same && at < len) {
        const size_t want = len - at < sizeof piece ? len - at : sizeof piece;
        const ssize_t n = read(fd, piece, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || std::memcmp(piece, data + at, static_cast<size_t>(n)) != 0)
            same = false;
        else
            at += static_cast<size_t>(n);
    }
    close(fd);
    return same;
}

int WriteFileAtomic(const char* path, const char* data, size_t len, mode_t forceMode) {
    if (int e = plat_mount_check(path))
        return e;
    // Two writers of one file would share its temporary file: one would rename
    // it away under the other. The writes are small and rare, so one at a time.
    static std::mutex oneWriter;
    std::lock_guard<std::mutex> hold(oneWriter);
    const std::string target = resolveLinks(plat_path(path));
    const std::string tmp = target + ".new";
    // The new file keeps the old one's owner, and its mode unless forced.
    struct stat old;
    const bool existed = stat(target.c_str(), &old) == 0;
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                  forceMode ? forceMode & 07777 : 0644);
    if (fd < 0)
        return errno;
    // The umask, or a temporary file left by a power cut, may have given it
    // another mode: set it before any byte is written.
    if (forceMode && fchmod(fd, forceMode & 07777) != 0) {
        int e = errno;
        close(fd);
        unlink(tmp.c_str());
        return e;
    }
    if (existed) {
        if ((!forceMode && fchmod(fd, old.st_mode & 07777) != 0) ||
            ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
             fchown(fd, old.st_uid, old.st_gid) != 0)) {
            int e = errno;
            close(fd);
            unlink(tmp.c_str());
            return e;
        }
    }
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
