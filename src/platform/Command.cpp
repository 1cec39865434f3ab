// Shell commands through posix_spawn, with the root folder's stand-ins.
#include "platform/Command.h"

#include "platform/Root.h"
#include "platform/Watchdog.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::mutex g_cmdMut;

struct OpenPipe {
    FILE* f;
    pid_t pid;
};
constexpr int kMaxPipes = 16;
OpenPipe g_pipes[kMaxPipes];

void appendCommandLog(const char* cmd) {
    if (!plat_has_root())
        return;
    std::string line = cmd;
    for (char& ch : line)
        if (ch == '\n')
            ch = ' ';
    line += '\n';
    std::lock_guard<std::mutex> lock(g_cmdMut);
    int fd = open((plat_root() + "/commands.log").c_str(),
                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t r = write(fd, line.data(), line.size());
        (void)r;
        close(fd);
    }
}

bool fileExists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

bool isWordEnd(char c) {
    return c == '\0' || c == ' ' || c == '\t' || c == ';' || c == '|' || c == '&' || c == ')' ||
           c == '\n';
}

// Under a root: the first word and redirection targets that are absolute paths
// resolve under the root, so "/usr/bin/fbgrab" runs the root's stand-in and
// ">/dev/tty0" writes into the root instead of the machine's console.
std::string rootedText(const char* cmd) {
    const std::string& root = plat_root();
    std::string out;
    const char* p = cmd;
    while (*p == ' ' || *p == '\t')
        out += *p++;
    if (*p == '/') {
        const char* e = p;
        while (!isWordEnd(*e))
            e++;
        std::string word(p, e);
        out += fileExists(root + word) ? root + word : word;
        p = e;
    }
    char quote = 0;
    while (*p) {
        char c = *p;
        if (quote) {
            if (c == quote)
                quote = 0;
            out += *p++;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += *p++;
            continue;
        }
        if (c == '>' || c == '<') {
            out += *p++;
            if (*p == '>')
                out += *p++;
            if (*p == '&') // fd duplication such as 2>&1
                continue;
            while (*p == ' ')
                out += *p++;
            if (*p == '/') {
                const char* e = p;
                while (!isWordEnd(*e))
                    e++;
                std::string target(p, e);
                bool passThrough = target == "/dev/null" || target.rfind("/dev/fd/", 0) == 0;
                out += passThrough ? target : root + target;
                p = e;
            }
            continue;
        }
        out += *p++;
    }
    return out;
}

// Environment of a command under a root: PANEL_ROOT and the root's bin folders first.
std::vector<std::string> rootedEnv() {
    std::vector<std::string> env;
    const std::string& root = plat_root();
    std::string path = root + "/bin:" + root + "/usr/bin";
    for (char** e = environ; e && *e; e++) {
        if (std::strncmp(*e, "PATH=", 5) == 0)
            path += std::string(":") + (*e + 5);
        else if (std::strncmp(*e, "PANEL_ROOT=", 11) != 0)
            env.emplace_back(*e);
    }
    if (path == root + "/bin:" + root + "/usr/bin")
        path += ":/usr/local/bin:/usr/bin:/bin";
    env.push_back("PATH=" + path);
    env.push_back("PANEL_ROOT=" + root);
    return env;
}

// Starts /bin/sh -c; `childFd` >= 0 becomes the child's `childTarget` descriptor.
pid_t spawnShell(const char* cmd, int childFd, int childTarget) {
    appendCommandLog(cmd);
    std::string text = plat_command_text(cmd);

    std::vector<std::string> envStore;
    std::vector<char*> envp;
    char** envArg = environ;
    if (plat_has_root()) {
        envStore = rootedEnv();
        for (auto& s : envStore)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        envArg = envp.data();
    }

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (childFd >= 0 && childFd != childTarget)
        posix_spawn_file_actions_adddup2(&fa, childFd, childTarget);
    // Ports, sockets and the framebuffer stay with the panel.
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);

    // The panel blocks SIGTERM and SIGINT and ignores SIGPIPE; a command gets
    // the usual signals back.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGTERM, SIGINT})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char shName[] = "sh";
    char dashC[] = "-c";
    char* argv[] = {shName, dashC, text.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/bin/sh", &fa, &attr, argv, envArg);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

int waitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

} // namespace

std::string plat_command_text(const char* cmd) {
    return plat_has_root() ? rootedText(cmd) : std::string(cmd);
}

int plat_system(const char* cmd) {
    pid_t pid = spawnShell(cmd, -1, -1);
    if (pid < 0)
        return -1;
    // The wait may be long (an update script, a network restart); the service
    // watchdog gives the calling thread its longer time-out meanwhile.
    Heartbeat* beat = plat_current_heartbeat();
    if (beat)
        beat->inCommand.store(true, std::memory_order_relaxed);
    const int status = waitChild(pid);
    if (beat)
        beat->inCommand.store(false, std::memory_order_relaxed);
    return status;
}

FILE* plat_popen(const char* cmd, const char* mode) {
    bool reading = mode && mode[0] == 'r';
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    int childEnd = reading ? fds[1] : fds[0];
    int ourEnd = reading ? fds[0] : fds[1];
    pid_t pid = spawnShell(cmd, childEnd, reading ? 1 : 0);
    close(childEnd);
    if (pid < 0) {
        close(ourEnd);
        return nullptr;
    }
    FILE* f = fdopen(ourEnd, reading ? "r" : "w");
    if (!f) {
        close(ourEnd);
        waitChild(pid);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_cmdMut);
    for (auto& slot : g_pipes) {
        if (slot.f == nullptr) {
            slot = {f, pid};
            return f;
        }
    }
    // No slot left: refuse rather than lose track of the child.
    fclose(f);
    waitChild(pid);
    return nullptr;
}

int plat_pclose(FILE* f) {
    pid_t pid = -1;
    {
        std::lock_guard<std::mutex> lock(g_cmdMut);
        for (auto& slot : g_pipes) {
            if (slot.f == f) {
                pid = slot.pid;
                slot = {nullptr, 0};
                break;
            }
        }
    }
    if (pid < 0)
        return -1;
    fclose(f);
    return waitChild(pid);
}
