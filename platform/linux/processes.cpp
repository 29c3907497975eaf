// The running processes from /proc: the snapshot reads each process's program file (the
// target of /proc/PID/exe, else comm), the wait for its end reads its state. Ending one is
// SIGKILL.
#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/processes.h"

namespace plat {
namespace {

bool ReadFirstLine(const std::string& name, std::string& line) {
    std::ifstream in(name);
    return in && std::getline(in, line);
}

// 'Z' for a process that has ended but not been reaped yet; 0 when it is gone.
char ProcessState(uint32_t pid) {
    std::string line;
    if (!ReadFirstLine("/proc/" + std::to_string(pid) + "/stat", line)) return 0;
    // The program name stands in parentheses and may itself hold blanks or parentheses.
    size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return 0;
    return line[close + 2];
}

} // namespace

bool ProcessSnapshot(std::vector<TProcessEntry>& entries) {
    entries.clear();
    DIR* dir = opendir("/proc");
    if (!dir) return false;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        unsigned long pid = strtoul(e->d_name, &end, 10);
        if (!*e->d_name || *end || pid == 0 || pid > UINT32_MAX) continue;
        std::string base = "/proc/" + std::string(e->d_name);
        std::string name;
        char target[4096];
        ssize_t n = readlink((base + "/exe").c_str(), target, sizeof target - 1);
        if (n > 0) {
            name.assign(target, n);
            const std::string deleted = " (deleted)"; // the file was replaced while it runs
            if (name.size() > deleted.size() &&
                name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
                name.resize(name.size() - deleted.size());
            name = name.substr(name.rfind('/') + 1);
        } else if (!ReadFirstLine(base + "/comm", name)) {
            continue; // ended while we looked
        }
        if (name.empty()) continue;
        entries.push_back(TProcessEntry{static_cast<uint32_t>(pid), name});
    }
    closedir(dir);
    return true;
}

bool TerminateProcess(uint32_t processId) {
    if (processId == 0 || processId > static_cast<uint32_t>(INT32_MAX)) return false;
    // Never our own process or its group: a stray 0 or a wrapped id would be fatal.
    if (static_cast<pid_t>(processId) == getpid()) return false;
    return kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

bool WaitForProcessEnd(uint32_t processId, unsigned timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char state = ProcessState(processId);
        if (state == 0 || state == 'Z' || state == 'X') return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace plat
