// Start, wait for and kill the panel program.
#include "devsim/PanelProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

bool PanelStart(PanelProcess* p, const std::string& exe, const std::string& dir,
                const std::string& workDir, std::string* error, int timeScale,
                const std::vector<std::string>& extraEnv, const std::vector<std::string>& extraArgs) {
    std::string out = dir + "/panel.out";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addchdir_np(&fa, workDir.c_str());
    std::vector<std::string> args = {exe, "--root", dir};
    if (timeScale > 1) {
        args.push_back("--time-scale");
        args.push_back(std::to_string(timeScale));
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The root is the panel's home too: alsa-lib finds the root's sound devices
    // in its .asoundrc.
    std::vector<std::string> env;
    std::vector<std::string> own = extraEnv;
    own.push_back("HOME=" + dir);
    auto replaced = [&](const char* e) {
        for (const std::string& o : own)
            if (std::strncmp(e, o.c_str(), o.find('=') + 1) == 0)
                return true;
        return false;
    };
    for (char** e = environ; e && *e; e++)
        if (!replaced(*e))
            env.emplace_back(*e);
    env.insert(env.end(), own.begin(), own.end());
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int rc = posix_spawn(&p->pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        if (error)
            *error = "cannot start " + exe + ": " + std::strerror(rc);
        p->pid = -1;
        return false;
    }
    p->ended = false;
    p->exitStatus = -1;
    return true;
}

bool PanelWait(PanelProcess* p, int timeoutMs) {
    if (p->ended)
        return true;
    if (p->pid <= 0)
        return false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(p->pid, &status, WNOHANG);
        if (r == p->pid) {
            p->ended = true;
            p->exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (r < 0 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void PanelTerminate(PanelProcess* p) {
    if (p->pid > 0 && !p->ended)
        kill(p->pid, SIGTERM);
}

void PanelKill(PanelProcess* p) {
    if (p->pid > 0 && !p->ended) {
        kill(p->pid, SIGKILL);
        PanelWait(p, 5000);
    }
}

double PanelCpuSeconds(const PanelProcess* p) {
    std::ifstream f("/proc/" + std::to_string(p->pid) + "/stat");
    std::string line;
    if (!std::getline(f, line))
        return -1.0;
    // Fields after the command name, which is in parentheses and may hold blanks.
    size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1.0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; i++) {
        if (i == 14)
            utime = std::stoul(field);
        if (i == 15)
            stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
