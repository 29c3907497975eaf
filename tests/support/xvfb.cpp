#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace kvtest {

TXvfb::TXvfb(const std::string& screen) {
    const char* saved = getenv("DISPLAY");
    FHadDisplay = saved != nullptr;
    if (saved) FSavedDisplay = saved;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        // A desktop's display outlives its clients. Without -noreset Xvfb resets once its
        // last client has gone and drops the connections still being set up: a program the
        // updater starts just before it ends would lose its display.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-ac", "-noreset", "-nolisten", "tcp",
               "-screen", "0", screen.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return;
    }
    FPid = pid;
    // Xvfb writes the display number it took once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 30000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        Stop();
        return;
    }
    FDisplay = ":" + number;
    setenv("DISPLAY", FDisplay.c_str(), 1);
}

void TXvfb::Stop() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
}

TXvfb::~TXvfb() {
    Stop();
    if (FHadDisplay)
        setenv("DISPLAY", FSavedDisplay.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

TDesktop::TDesktop() : FDisplay(std::make_unique<TXvfb>()) {}
TDesktop::~TDesktop() = default;
bool TDesktop::Ok() const {
    return FDisplay->Ok();
}

std::string InstallProgram(const TTempDir& dir, const std::string& name) {
    std::string target = dir.File(name);
    std::ifstream in(XWINDOW_APP, std::ios::binary);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    chmod(target.c_str(), 0755);
    return target;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

TChild StartProgram(const TTempDir& dir, const std::string& name, std::vector<std::string> args,
                    bool waitReady) {
    std::string program = dir.File(name);
    if (access(program.c_str(), X_OK) != 0) InstallProgram(dir, name);
    static int serial = 0;
    std::string ready = dir.File("ready-" + std::to_string(++serial));
    args.insert(args.begin(), program);
    args.push_back("--ready");
    args.push_back(ready);
    TChild child(args, dir.File("program.log"));
    if (waitReady) WaitUntil([&] { return access(ready.c_str(), F_OK) == 0; });
    return child;
}

pid_t OwnPid() {
    return getpid();
}

bool ProcessExists(pid_t pid) {
    return kill(pid, 0) == 0;
}

bool ProcessEnded(pid_t pid) {
    return WaitUntil([pid] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        size_t close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
    });
}

} // namespace kvtest
