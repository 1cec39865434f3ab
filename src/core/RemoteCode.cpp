// The unit's access code: drawn, checked, read from and written to remote.txt.
#include "core/RemoteCode.h"

#include "core/Setup.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/Socket.h"
#include "platform/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kPrefix[] = "Code: ";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr mode_t kPrivate = 0600;

int symbolIndex(char c) {
    for (int i = 0; i < kRemoteCodeSymbolCount; i++)
        if (kRemoteCodeSymbols[i] == c)
            return i;
    return -1;
}

enum class FileState { Valid, Missing, Refused, Unreadable };

// The first bytes of the file and its mode, as the storage queue will leave
// them: a code saved and not yet written is the file's.
FileState readCodeBytes(char (&buf)[32], size_t* n, mode_t* mode, int* err) {
    std::string queued;
    mode_t queuedMode = 0;
    switch (StoragePending(kRemoteCodePath, &queued, &queuedMode)) {
    case StorageView::Removed:
        *err = ENOENT;
        return FileState::Missing;
    case StorageView::Bytes:
        *n = std::min(queued.size(), sizeof buf);
        std::memcpy(buf, queued.data(), *n);
        *mode = queuedMode;
        return FileState::Valid;
    case StorageView::Disk:
        break;
    }
    const int fd = open(plat_path(kRemoteCodePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return *err == ENOENT ? FileState::Missing : FileState::Unreadable;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *err = errno;
        close(fd);
        return FileState::Unreadable;
    }
    *mode = st.st_mode & 07777;
    *n = 0;
    while (*n < sizeof buf) {
        const ssize_t r = read(fd, buf + *n, sizeof buf - *n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            *err = errno;
            close(fd);
            return FileState::Unreadable;
        }
        if (r == 0)
            break;
        *n += static_cast<size_t>(r);
    }
    close(fd);
    return FileState::Valid;
}

// The code of the file and the file's mode. Only the first bytes are read: a
// file longer than one line and its end is refused whatever follows.
FileState readCodeFile(char (&code)[kRemoteCodeLength + 1], mode_t* mode, int* err) {
    char buf[32];
    size_t n = 0;
    const FileState read = readCodeBytes(buf, &n, mode, err);
    if (read != FileState::Valid)
        return read;
    // The line may end in LF or CR LF (edited on another machine), or not at all.
    if (n > 0 && buf[n - 1] == '\n') {
        n--;
        if (n > 0 && buf[n - 1] == '\r')
            n--;
    }
    if (n != kPrefixLength + kRemoteCodeLength || std::memcmp(buf, kPrefix, kPrefixLength) != 0)
        return FileState::Refused;
    std::memcpy(code, buf + kPrefixLength, kRemoteCodeLength);
    code[kRemoteCodeLength] = '\0';
    return RemoteCodeValid(code) ? FileState::Valid : FileState::Refused;
}

// The file, always private, between the remounts of /opt/set (by the storage
// thread once it runs); `written` follows a try that wrote it. 0 (also when
// queued) or why not.
int writeCodeFile(const char* code, std::function<void()> written = nullptr) {
    char line[kPrefixLength + kRemoteCodeLength + 2];
    const int n = std::snprintf(line, sizeof line, "%s%s\n", kPrefix, code);
    if (n != static_cast<int>(sizeof line - 1)) {
        LogErr("remote: remote.txt not written, the code does not fit its line");
        return EINVAL;
    }
    const int err = StorageWrite(kRemoteCodePath, std::string(line, static_cast<size_t>(n)), kPrivate,
                                 [written = std::move(written)](int e) {
                                     if (e < 0)
                                         LogErr("remote: remote.txt not written, /opt/set stays read-only");
                                     else if (e != 0)
                                         LogErr("remote: can't write remote.txt error %d", e);
                                     else if (written)
                                         written();
                                 });
    return err < 0 ? EROFS : err;
}

// The code in use becomes `code` once its file holds it; `thenLog` follows.
bool saveCode(Works* w, const char* code, const char* thenLog) {
    if (!RemoteCodeValid(code)) {
        LogErr("remote: code refused, not %d symbols of the set; remote.txt kept", kRemoteCodeLength);
        return false;
    }
    const std::string kept = code;
    return writeCodeFile(code, [w, kept, thenLog] {
               w->remotePassword.set(kept.c_str());
               LogInfo("remote: remote.txt written");
               if (thenLog)
                   LogInfo("%s", thenLog);
           }) == 0;
}

} // namespace

bool RemoteCodeValid(const char* code) {
    if (!code)
        return false;
    for (int i = 0; i < kRemoteCodeLength; i++)
        if (code[i] == '\0' || symbolIndex(code[i]) < 0)
            return false;
    return code[kRemoteCodeLength] == '\0';
}

char RemoteCodeSymbolAfter(char c, int steps) {
    const int at = symbolIndex(c);
    const int next = ((at < 0 ? 0 : at) + steps % kRemoteCodeSymbolCount + kRemoteCodeSymbolCount) %
                     kRemoteCodeSymbolCount;
    return kRemoteCodeSymbols[next];
}

std::string RemoteCodeDraw() {
    uint8_t raw[kRemoteCodeLength];
    const int r = plat_random_bytes(raw, sizeof raw);
    if (r < 0) {
        LogErr("remote: /dev/urandom error %d, no code drawn", errno);
        return {};
    }
    if (r > 0) {
        LogErr("remote: /dev/urandom gave %d bytes of %d, no code drawn", r, kRemoteCodeLength);
        return {};
    }
    std::string code(kRemoteCodeLength, kRemoteCodeSymbols[0]);
    for (int i = 0; i < kRemoteCodeLength; i++)
        code[static_cast<size_t>(i)] = kRemoteCodeSymbols[raw[i] & (kRemoteCodeSymbolCount - 1)];
    return code;
}

bool LoadRemoteCode(Works* w) {
    char code[kRemoteCodeLength + 1];
    mode_t mode = 0;
    int err = 0;
    const FileState state = readCodeFile(code, &mode, &err);
    if (state == FileState::Valid) {
        w->remotePassword.set(code);
        if (mode == kPrivate)
            return true;
        // Copied in or written by hand: the code stays, other users lose sight of it.
        LogErr("remote: remote.txt was mode %04o, rewritten 0600", static_cast<unsigned>(mode));
        return writeCodeFile(code) == 0;
    }
    const std::string fresh = RemoteCodeDraw();
    char why[64];
    if (state == FileState::Missing)
        std::snprintf(why, sizeof why, "no remote.txt");
    else if (state == FileState::Refused)
        std::snprintf(why, sizeof why, "remote.txt line refused");
    else
        std::snprintf(why, sizeof why, "can't read remote.txt error %d", err);
    if (fresh.empty()) {
        LogErr("remote: %s, and no new code could be drawn", why);
        return false;
    }
    if (state == FileState::Missing)
        LogInfo("remote: %s, a new code drawn", why);
    else
        LogErr("remote: %s, a new code drawn", why);
    // Used even when the file cannot be written: better than no code at all.
    w->remotePassword.set(fresh.c_str());
    return writeCodeFile(fresh.c_str()) == 0;
}

bool SaveRemoteCode(Works* w, const char* code) { return saveCode(w, code, nullptr); }

bool NewRemoteCode(Works* w) {
    const std::string fresh = RemoteCodeDraw();
    return !fresh.empty() && saveCode(w, fresh.c_str(), "remote: a new code drawn");
}
