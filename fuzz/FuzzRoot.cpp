#include "FuzzRoot.h"

#include "amp/Alarms.h"
#include "amp/LinearPort.h"
#include "amp/Linear.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "trx/Serial.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// Present in sanitizer builds only: where their reports go.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace {

std::string g_dir;

void removeRoot() {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

// The real standard output and error, kept while FuzzQuiet points them elsewhere.
struct Streams {
    int out = -1, err = -1, null = -1;
    bool verbose = false;
};

Streams& streams() {
    static Streams s = [] {
        Streams t;
        const char* v = std::getenv("PANEL_FUZZ_VERBOSE");
        t.verbose = v && *v && *v != '0';
        t.out = fcntl(1, F_DUPFD_CLOEXEC, 10);
        t.err = fcntl(2, F_DUPFD_CLOEXEC, 10);
        t.null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (t.out < 0 || t.err < 0 || t.null < 0) {
            std::perror("fuzz: streams");
            std::exit(2);
        }
        if (__sanitizer_set_report_fd)
            __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(t.err)));
        return t;
    }();
    return s;
}

int g_quietDepth = 0;

void pointStreams(int out, int err) {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out, 1);
    dup2(err, 2);
}

// libFuzzer ends a run (its time is up, or an input crashed) without the exit
// handlers, so a root can outlive its process: the roots of processes that are
// gone are removed when the next one starts.
void removeStaleRoots(const char* parent) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(parent, ec)) {
        const std::string name = e.path().filename().string();
        int pid = 0;
        if (std::sscanf(name.c_str(), "panel-fuzz-%d-", &pid) == 1 && pid > 0 && kill(pid, 0) != 0 &&
            errno == ESRCH)
            std::filesystem::remove_all(e.path(), ec);
    }
}

} // namespace

Works* FuzzWorks() {
    static Works* w = [] {
        // tmpfs when there is one: the writers sync every file they replace.
        const std::string pid = std::to_string(getpid());
        std::string shm = "/dev/shm/panel-fuzz-" + pid + "-XXXXXX";
        std::string tmp = "/tmp/panel-fuzz-" + pid + "-XXXXXX";
        removeStaleRoots("/dev/shm");
        removeStaleRoots("/tmp");
        const char* made = mkdtemp(shm.data());
        if (!made)
            made = mkdtemp(tmp.data());
        if (!made) {
            std::perror("fuzz: mkdtemp");
            std::exit(2);
        }
        g_dir = made;
        std::atexit(removeRoot);
        std::string err;
        if (!SimRootCreate(g_dir, SimRootOptions{}, &err)) {
            std::fprintf(stderr, "fuzz: %s\n", err.c_str());
            std::exit(2);
        }
        plat_set_root(g_dir.c_str());
        plat_skip_sleeps(true);
        auto* works = new Works();
        works->setup = new SetupRecord();
        works->serMut = new std::mutex();
        works->wsSendMut = new std::mutex();
        works->trxParams = new TrxParameters{};
        InitGlobalVar(works);
        InitErrorTable(works);
        initSetup(works);
        return works;
    }();
    return w;
}

const std::string& FuzzRootDir() { return g_dir; }

void FuzzWriteFile(const char* path, const uint8_t* data, size_t size) {
    const std::string p = plat_path(path);
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        FuzzFail("fuzz: cannot write %s", p.c_str());
}

std::string FuzzReadFile(const char* path) {
    std::string out;
    FILE* f = std::fopen(plat_path(path).c_str(), "rb");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

std::string FuzzSentCommand(Works* w, int state) {
    static int fds[2] = {-1, -1};
    if (fds[0] < 0 && pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        FuzzFail("fuzz: cannot make the port's pipe");
    const int old = w->linFD;
    w->linFD = fds[1];
    {
        FuzzQuiet quiet;
        SendLinearCommand(w, state);
    }
    w->linFD = old;
    char buf[256];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

void FuzzDrainCommands(Works* w) {
    while (CmdQueueTake(w) >= 0) {
    }
}

void FuzzHoldSettingsWritable() {
    static bool held = [] {
        FuzzQuiet quiet;
        return RemountSetRw();
    }();
    if (!held)
        FuzzFail("fuzz: cannot remount /opt/set read-write under the root");
}

void FuzzSocketWith(const uint8_t* data, size_t size, int sv[2]) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        FuzzFail("fuzz: socketpair: %s", std::strerror(errno));
    // A socket buffer takes the whole input: the reader sees it, then the end.
    int sz = 1 << 18;
    setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &sz, sizeof sz);
    setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &sz, sizeof sz);
    size = size > 65536 ? 65536 : size;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(sv[0], data + done, size - done);
        if (n <= 0)
            FuzzFail("fuzz: cannot fill the socket");
        done += static_cast<size_t>(n);
    }
    shutdown(sv[0], SHUT_WR);
}

void FuzzTrimLog() {
    const std::string p = g_dir + "/syslog.log";
    struct stat st;
    // The log is appended to, so a cut file simply fills again from its start.
    if (stat(p.c_str(), &st) == 0 && st.st_size > (16 << 20) && truncate(p.c_str(), 0) != 0)
        FuzzFail("fuzz: cannot trim %s", p.c_str());
}

FuzzQuiet::FuzzQuiet() {
    Streams& s = streams();
    if (s.verbose || g_quietDepth++ > 0)
        return;
    pointStreams(s.null, s.null);
}

FuzzQuiet::~FuzzQuiet() {
    Streams& s = streams();
    if (!s.verbose && --g_quietDepth == 0)
        pointStreams(s.out, s.err);
}

void FuzzFail(const char* fmt, ...) {
    pointStreams(streams().out, streams().err);
    va_list ap;
    va_start(ap, fmt);
    std::fprintf(stderr, "fuzz: invariant broken: ");
    std::vfprintf(stderr, fmt, ap);
    std::fprintf(stderr, "\n");
    va_end(ap);
    std::abort();
}

std::vector<std::vector<uint8_t>> FuzzSeedsOf(const std::vector<std::string>& texts) {
    std::vector<std::vector<uint8_t>> out;
    for (const std::string& t : texts)
        out.emplace_back(t.begin(), t.end());
    return out;
}

std::vector<uint8_t> FuzzBytes(uint8_t first, const std::string& rest) {
    // Sized once and filled: a one-byte vector grown by an insert makes GCC 12
    // at -O3 see a read past its first byte in the move to the larger buffer.
    std::vector<uint8_t> v(1 + rest.size());
    v[0] = first;
    std::copy(rest.begin(), rest.end(), v.begin() + 1);
    return v;
}
