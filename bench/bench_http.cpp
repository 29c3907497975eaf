// kvbench http: Get of a large file from nginx on loopback against curl of the same URL,
// wall time and CPU time (user + system), and the peak memory of one Get. A body this long
// goes to a file, so curl writes one too, in the same folder.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench/kvbench.h"
#include "net/http_client.h"

namespace {

// One Get in a child process: its resident size before and at its peak, in KiB.
bool PeakOfOneGet(const std::string& url, long& baseKiB, long& peakKiB, long long& bodySize) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        long long result[3] = {0, 0, -1};
        std::ifstream statm("/proc/self/statm");
        long pages = 0, resident = 0;
        statm >> pages >> resident;
        result[0] = resident * (sysconf(_SC_PAGESIZE) / 1024);
        try {
            TmsHTTPClient client;
            client.SetURL(url);
            client.Get();
            result[2] = client.ResponseStream().Size();
            rusage r{};
            getrusage(RUSAGE_SELF, &r);
            result[1] = r.ru_maxrss;
        } catch (...) {
        }
        ssize_t ignored = write(fds[1], result, sizeof result);
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    long long result[3] = {0, 0, -1};
    bool ok = read(fds[0], result, sizeof result) == sizeof result;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    baseKiB = long(result[0]);
    peakKiB = long(result[1]);
    bodySize = result[2];
    return ok && bodySize >= 0;
}

} // namespace

bool kvbench::CompareGets(const std::string& name, TmsHTTPClient& client,
                          const std::string& curlOptions, const std::string& dir, long long size,
                          int runs, const std::string& cpuGoal) {
    std::vector<double> oursWall, curlWall, oursCpu, curlCpu;
    const std::string saved = dir + "/curl.bin";
    const std::string curl =
        "curl -s " + curlOptions + " -o '" + saved + "' '" + client.URL() + "'";
    client.ResponseStream().SpillFolder = dir + "/";
    for (int i = 0; i < runs; ++i) {
        // Neither side finds the other's file, nor its own from the run before.
        Shell("rm -f '" + saved + "'");
        client.ResponseStream().Clear();
        double cpu0 = CpuChildren();
        curlWall.push_back(TimeCommand(curl));
        curlCpu.push_back(CpuChildren() - cpu0);

        int status = 0;
        cpu0 = CpuSelf();
        oursWall.push_back(TimeIt([&] { status = client.Get(); }));
        oursCpu.push_back(CpuSelf() - cpu0);
        if (status != 200 || client.ResponseStream().Size() != size) {
            std::fprintf(stderr, "kvbench %s: status %d, %lld bytes\n", name.c_str(), status,
                         (long long)client.ResponseStream().Size());
            return false;
        }
    }
    Report(name + "-cpu", oursCpu, curlCpu, "cpu-ratio (goal <= " + cpuGoal + ")");
    Report(name, oursWall, curlWall, "ratio");
    return true;
}

namespace {

int Run(const std::vector<std::string>& args) {
    const long long mib = args.size() > 0 ? std::stoll(args[0]) : 256;
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 5;
    const long long size = mib << 20;
    std::string dir = kvbench::ScratchDir() + "/http";
    kvbench::Shell("mkdir -p '" + dir + "/site'");
    if (kvbench::Shell("head -c " + std::to_string(size) + " /dev/urandom > '" + dir +
                       "/site/big.bin'") != 0)
        return 1;
    kvbench::TNginx nginx(dir + "/nginx", dir + "/site", 64);
    if (!nginx.Started()) {
        std::fprintf(stderr, "kvbench http: nginx did not start\n");
        return 1;
    }
    const std::string url = nginx.Url("/big.bin");

    long baseKiB = 0, peakKiB = 0;
    long long body = 0;
    if (!PeakOfOneGet(url, baseKiB, peakKiB, body) || body != size) {
        std::fprintf(stderr, "kvbench http: the Get failed (%lld bytes)\n", body);
        return 1;
    }
    const long overKiB = peakKiB - long(size / 1024);
    std::printf("http peak memory: %ld KiB resident at peak for a %lld MiB body (%ld KiB over "
                "the body, %ld KiB before the Get; goal <= 32768 KiB over)\n",
                peakKiB, mib, overKiB, baseKiB);

    TmsHTTPClient client;
    client.SetURL(url);
    return kvbench::CompareGets("http", client, "", dir, size, runs, "1.5") ? 0 : 1;
}

const kvbench::TRegister Registered("http",
                                    "Get of a 256 MiB file from nginx vs curl writing it to a file "
                                    "[MiB] [runs]",
                                    Run);

} // namespace
