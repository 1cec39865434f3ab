#include "devsim/ProcStat.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

bool readThread(const std::string& dir, ThreadUse* t) {
    std::ifstream comm(dir + "/comm");
    if (!std::getline(comm, t->name))
        return false;
    std::ifstream stat(dir + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    // The fields after the name, which may hold blanks and parentheses.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    uint64_t utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; i++) {
        if (i == 14)
            utime = std::stoull(field);
        else if (i == 15)
            stime = std::stoull(field);
    }
    t->ticks = utime + stime;
    std::ifstream status(dir + "/status");
    while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            t->voluntary = std::stoull(line.substr(24));
    return true;
}

} // namespace

std::vector<ThreadUse> ProcThreads(pid_t pid) {
    std::vector<ThreadUse> out;
    std::error_code ec;
    const std::string task = "/proc/" + std::to_string(pid) + "/task";
    for (auto it = std::filesystem::directory_iterator(task, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        ThreadUse t;
        t.tid = std::atoi(it->path().filename().c_str());
        if (readThread(it->path().string(), &t))
            out.push_back(t);
    }
    return out;
}

int64_t ProcThreadSleeps(pid_t pid, const std::string& name) {
    for (const ThreadUse& t : ProcThreads(pid))
        if (t.name == name)
            return static_cast<int64_t>(t.voluntary);
    return -1;
}

std::vector<ThreadRate> ProcRates(const std::vector<ThreadUse>& before, const std::vector<ThreadUse>& after,
                                  double seconds) {
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::vector<ThreadRate> out;
    for (const ThreadUse& b : after) {
        ThreadUse a;
        for (const ThreadUse& x : before)
            if (x.tid == b.tid)
                a = x;
        ThreadRate r;
        r.name = b.name;
        r.cpuPercent = 100.0 * static_cast<double>(b.ticks - a.ticks) / hz / seconds;
        r.wakeupsPerS = static_cast<double>(b.voluntary - a.voluntary) / seconds;
        out.push_back(r);
    }
    std::sort(out.begin(), out.end(), [](const ThreadRate& x, const ThreadRate& y) { return x.wakeupsPerS > y.wakeupsPerS; });
    return out;
}
