#include "FuzzRoot.h"
#include "TestRoot.h"

#include "amp/Alarms.h"
#include "core/Setup.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "trx/Serial.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <filesystem>
#include <mutex>
#include <sys/socket.h>

// Present in sanitizer builds only: where their reports go.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace {

std::string g_dir;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::exit(2);
}

// The real standard output and error, kept while FuzzQuiet points them elsewhere.
struct Streams {
    int out, err, null;
    bool verbose;
};

const Streams& streams() {
    static const Streams s = [] {
        const char* v = std::getenv("PANEL_FUZZ_VERBOSE");
        const Streams t{fcntl(1, F_DUPFD_CLOEXEC, 10), fcntl(2, F_DUPFD_CLOEXEC, 10),
                        open("/dev/null", O_WRONLY | O_CLOEXEC), v && *v && *v != '0'};
        if (t.out < 0 || t.err < 0 || t.null < 0)
            die(std::string("streams: ") + std::strerror(errno));
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
        int pid = 0;
        if (std::sscanf(e.path().filename().c_str(), "panel-fuzz-%d-", &pid) == 1 && pid > 0 &&
            kill(pid, 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(e.path(), ec);
    }
}

} // namespace

Works* FuzzWorks() {
    static Works* w = [] {
        // tmpfs when there is one: the writers sync every file they replace.
        for (const char* parent : {"/dev/shm", "/tmp"}) {
            removeStaleRoots(parent);
            std::string dir = std::string(parent) + "/panel-fuzz-" + std::to_string(getpid());
            dir += "-XXXXXX";
            if (g_dir.empty() && mkdtemp(dir.data())) g_dir = dir;
        }
        if (g_dir.empty()) die(std::string("mkdtemp: ") + std::strerror(errno));
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(g_dir, ec);
        });
        std::string err;
        if (!SimRootCreate(g_dir, SimRootOptions{}, &err)) die(err);
        plat_set_root(g_dir.c_str());
        plat_skip_sleeps(true);
        auto* works = new Works();
        works->setup = new SetupRecord();
        works->serMut = new std::mutex();
        works->wsSendMut = new std::mutex();
        works->connMut = new std::mutex();
        works->trxParams = new TrxParameters{};
        InitGlobalVar(works);
        InitErrorTable(works);
        initSetup(works);
        return works;
    }();
    return w;
}

const std::string& FuzzRootDir() {
    return g_dir;
}

void FuzzWriteFile(const char* path, const uint8_t* data, size_t size) {
    if (!WriteFile(plat_path(path), std::string(reinterpret_cast<const char*>(data), size)))
        FuzzFail("fuzz: cannot write %s", path);
}

std::string FuzzReadFile(const char* path) {
    return ReadFile(plat_path(path));
}

void FuzzDrainCommands(Works* w) {
    while (CmdQueueTake(w) >= 0) {
    }
}

void FuzzHoldSettingsWritable() {
    static const bool held = FuzzQuietly([] { return RemountSetRw(); });
    if (!held) FuzzFail("fuzz: cannot remount /opt/set read-write under the root");
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
        if (n <= 0) FuzzFail("fuzz: cannot fill the socket");
        done += static_cast<size_t>(n);
    }
    shutdown(sv[0], SHUT_WR);
}

void FuzzTrimLog() {
    // The log is appended to, so a cut file simply fills again from its start.
    const std::string log = g_dir + "/syslog.log";
    std::error_code ec;
    if (std::filesystem::file_size(log, ec) <= (16u << 20) || ec) return;
    std::filesystem::resize_file(log, 0, ec);
    if (ec) FuzzFail("fuzz: cannot trim %s: %s", log.c_str(), ec.message().c_str());
}

FuzzQuiet::FuzzQuiet() {
    const Streams& s = streams();
    if (s.verbose || g_quietDepth++ > 0) return;
    pointStreams(s.null, s.null);
}

FuzzQuiet::~FuzzQuiet() {
    const Streams& s = streams();
    if (!s.verbose && --g_quietDepth == 0) pointStreams(s.out, s.err);
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
