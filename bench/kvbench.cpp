#include "bench/kvbench.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace kvbench {

namespace {
std::map<std::string, TBench>& Registry() {
    static std::map<std::string, TBench> registry;
    return registry;
}

std::string& Scratch() {
    static std::string dir;
    return dir;
}

void RemoveScratch() {
    if (!Scratch().empty() && !getenv("KVBENCH_KEEP"))
        Shell("rm -rf '" + Scratch() + "'");
}

double CpuSeconds() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto sec = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(self.ru_utime) + sec(self.ru_stime) + sec(children.ru_utime) +
           sec(children.ru_stime);
}
} // namespace

TRegister::TRegister(std::string name, std::string description,
                     std::function<int(const std::vector<std::string>&)> run) {
    Registry()[name] = TBench{name, std::move(description), std::move(run)};
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double TimeIt(const std::function<void()>& body) {
    auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double CpuTimeIt(const std::function<void()>& body) {
    double start = CpuSeconds();
    body();
    return CpuSeconds() - start;
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

double TimeCommand(const std::string& command) {
    int status = 0;
    double t = TimeIt([&] { status = Shell(command); });
    if (status != 0) {
        std::fprintf(stderr, "kvbench: command failed (%d): %s\n", status, command.c_str());
        std::exit(1);
    }
    return t;
}

std::string ScratchDir() {
    if (Scratch().empty()) {
        const char* base = getenv("KVBENCH_DIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvbench.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("kvbench: mkdtemp");
            std::exit(1);
        }
        Scratch() = pattern;
        std::atexit(RemoveScratch);
    }
    return Scratch();
}

void Report(const std::string& name, const std::vector<double>& ours,
            const std::vector<double>& reference, const std::string& what) {
    auto list = [](const std::vector<double>& v) {
        std::string s;
        for (double x : v) s += " " + std::to_string(x);
        return s;
    };
    std::printf("%s ours:%s (median %.4f)\n", name.c_str(), list(ours).c_str(), Median(ours));
    std::printf("%s reference:%s (median %.4f)\n", name.c_str(), list(reference).c_str(),
                Median(reference));
    double ref = Median(reference);
    std::printf("%s %s %.3f\n", name.c_str(), what.c_str(), ref > 0 ? Median(ours) / ref : 0.0);
    std::fflush(stdout);
}

std::string BuildDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string self(buf, size_t(n));
    std::string dir = self.substr(0, self.rfind('/')); // .../bench
    return dir.substr(0, dir.rfind('/'));              // the build folder
}

} // namespace kvbench

int main(int argc, char** argv) {
    auto& registry = kvbench::Registry();
    if (argc < 2 || !registry.count(argv[1])) {
        std::fprintf(stderr, "usage: kvbench NAME [ARGS...]\ncomparisons:\n");
        for (auto& [name, bench] : registry)
            std::fprintf(stderr, "  %-10s %s\n", name.c_str(), bench.Description.c_str());
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return registry[argv[1]].Run(args);
}
