// Running the real panel program against a root folder.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct PanelProcess {
    pid_t pid = -1;
    int exitStatus = -1; // exit code once ended, -1 while running or when killed
    bool ended = false;
};

// Starts `exe --root dir` with `workDir` as working directory (and
// `--time-scale N` when `timeScale` > 1); its standard output and error go to
// dir/panel.out. `extraEnv` ("NAME=value") is added to the environment,
// replacing what this process has of the same names; `extraArgs` follow the
// root. False with `error` set on failure.
bool PanelStart(PanelProcess* p, const std::string& exe, const std::string& dir,
                const std::string& workDir, std::string* error, int timeScale = 1,
                const std::vector<std::string>& extraEnv = {},
                const std::vector<std::string>& extraArgs = {});
// Asks the program to end (SIGTERM), as systemctl stop does.
void PanelTerminate(PanelProcess* p);
// Waits up to `timeoutMs` for the program to end; true when it ended.
bool PanelWait(PanelProcess* p, int timeoutMs);
// Ends the program with SIGKILL (for tests that failed) and reaps it.
void PanelKill(PanelProcess* p);
// Processor time (user + system) the program has used so far, in seconds.
double PanelCpuSeconds(const PanelProcess* p);
