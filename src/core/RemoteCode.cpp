// The unit's access code: drawn, checked, read from and written to remote.txt.
#include "core/RemoteCode.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/Socket.h"
#include "platform/TextFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// The code of the file and the file's mode. Only the first bytes are read: a
// file longer than one line and its end is refused whatever follows.
FileState readCodeFile(char (&code)[kRemoteCodeLength + 1], mode_t* mode, int* err) {
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
    char buf[32];
    size_t n = 0;
    while (n < sizeof buf) {
        const ssize_t r = read(fd, buf + n, sizeof buf - n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            *err = errno;
            close(fd);
            return FileState::Unreadable;
        }
        if (r == 0)
            break;
        n += static_cast<size_t>(r);
    }
    close(fd);
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

// The file, always private, between the remounts of /opt/set; 0 or why not.
int writeCodeFile(const char* code) {
    char line[kPrefixLength + kRemoteCodeLength + 2];
    const int n = std::snprintf(line, sizeof line, "%s%s\n", kPrefix, code);
    if (n != static_cast<int>(sizeof line - 1)) {
        LogErr("remote: remote.txt not written, the code does not fit its line");
        return EINVAL;
    }
    const int err = WriteSetFile(kRemoteCodePath, line, static_cast<size_t>(n), kPrivate);
    if (err < 0) {
        LogErr("remote: remote.txt not written, /opt/set stays read-only");
        return EROFS;
    }
    if (err != 0)
        LogErr("remote: can't write remote.txt error %d", err);
    return err;
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

bool SaveRemoteCode(Works* w, const char* code) {
    if (!RemoteCodeValid(code)) {
        LogErr("remote: code refused, not %d symbols of the set; remote.txt kept", kRemoteCodeLength);
        return false;
    }
    if (writeCodeFile(code) != 0)
        return false;
    w->remotePassword.set(code);
    LogInfo("remote: remote.txt written");
    return true;
}

bool NewRemoteCode(Works* w) {
    const std::string fresh = RemoteCodeDraw();
    if (fresh.empty())
        return false;
    if (!SaveRemoteCode(w, fresh.c_str()))
        return false;
    LogInfo("remote: a new code drawn");
    return true;
}
