// Test helpers.
#include "TestRoot.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netdb.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TempDir::TempDir() {
    char tmpl[] = "/tmp/panel-test-XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
}

TempDir::~TempDir() {
    if (!path.empty() && !std::getenv("PANEL_TEST_KEEP")) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line))
        lines.push_back(line);
    return lines;
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

int FileMode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = 0; (at = haystack.find(needle, at)) != std::string::npos; at++)
        n++;
    return n;
}

std::string CommandOutput(const std::string& command) {
    std::string out;
    FILE* f = popen(command.c_str(), "r");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 20))
        out.append(buf, n);
    pclose(f);
    return out;
}

int FindLine(const std::vector<std::string>& lines, const std::string& needle, int from) {
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(lines.size()); i++)
        if (lines[i].find(needle) != std::string::npos) return i;
    return -1;
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int ConnectWithin(const char* host, int port, int timeoutMs) {
    addrinfo hints{}, *ai = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &ai) != 0) return -1;
    int fd = -1;
    WaitFor(
        [&] {
            fd = socket(ai->ai_family, SOCK_STREAM, 0);
            if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return true;
            close(fd);
            fd = -1;
            return false;
        },
        timeoutMs);
    freeaddrinfo(ai);
    return fd;
}
