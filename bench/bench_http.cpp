// kvbench http: Get of a large file from nginx on loopback against curl of the same URL,
// wall time and CPU time (user + system), and the peak memory of one Get.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "bench/kvbench.h"
#include "net/mshttp.h"

namespace {

double CpuSelf() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double CpuChildren() {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), n);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// nginx as a daemon serving root on a loopback port, stopped at destruction.
class TBenchNginx {
public:
    TBenchNginx(const std::string& dir, const std::string& root) : FDir(dir) {
        FPort = FreePort();
        kvbench::Shell("mkdir -p '" + dir + "/logs' '" + dir + "/temp'");
        std::ofstream conf(dir + "/nginx.conf");
        conf << "daemon on;\nmaster_process off;\nworker_processes 1;\nerror_log " << dir
             << "/logs/error.log;\n"
             << "pid " << dir << "/nginx.pid;\nevents { worker_connections 64; }\n"
             << "http {\n access_log off;\n sendfile on;\n default_type application/octet-stream;\n"
             << " client_body_temp_path " << dir << "/temp/body;\n proxy_temp_path " << dir
             << "/temp/proxy;\n fastcgi_temp_path " << dir << "/temp/fastcgi;\n uwsgi_temp_path "
             << dir << "/temp/uwsgi;\n scgi_temp_path " << dir << "/temp/scgi;\n"
             << " server { listen 127.0.0.1:" << FPort << "; root " << root << "; }\n}\n";
        conf.close();
        FStarted = kvbench::Shell("nginx -p '" + dir + "' -e '" + dir + "/logs/error.log' -c '" +
                                  dir + "/nginx.conf'") == 0;
    }
    ~TBenchNginx() {
        if (FStarted)
            kvbench::Shell("nginx -p '" + FDir + "' -e '" + FDir + "/logs/error.log' -c '" + FDir +
                           "/nginx.conf' -s stop");
    }
    bool Started() const { return FStarted; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }

private:
    std::string FDir;
    int FPort = 0;
    bool FStarted = false;
};

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

int Run(const std::vector<std::string>& args) {
    const long long mib = args.size() > 0 ? std::stoll(args[0]) : 256;
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 5;
    const long long size = mib << 20;
    std::string dir = kvbench::ScratchDir() + "/http";
    kvbench::Shell("mkdir -p '" + dir + "/site'");
    if (kvbench::Shell("head -c " + std::to_string(size) + " /dev/urandom > '" + dir +
                       "/site/big.bin'") != 0)
        return 1;
    TBenchNginx nginx(dir + "/nginx", dir + "/site");
    if (!nginx.Started()) {
        std::fprintf(stderr, "kvbench http: nginx did not start\n");
        return 1;
    }
    const std::string url = nginx.Url("/big.bin");
    // nginx is up once a Get answers.
    for (int i = 0; i < 100; ++i) {
        try {
            TmsHTTPClient probe;
            probe.SetURL(nginx.Url("/"));
            probe.Get();
            break;
        } catch (const Exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

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

    std::vector<double> oursWall, curlWall, oursCpu, curlCpu;
    const std::string curl = "curl -s -o /dev/null '" + url + "'";
    TmsHTTPClient client;
    client.SetURL(url);
    for (int i = 0; i < runs; ++i) {
        double cpu0 = CpuChildren();
        curlWall.push_back(kvbench::TimeCommand(curl));
        curlCpu.push_back(CpuChildren() - cpu0);

        int status = 0;
        cpu0 = CpuSelf();
        oursWall.push_back(kvbench::TimeIt([&] { status = client.Get(); }));
        oursCpu.push_back(CpuSelf() - cpu0);
        if (status != 200 || client.ResponseStream().Size() != size) {
            std::fprintf(stderr, "kvbench http: status %d, %lld bytes\n", status,
                         (long long)client.ResponseStream().Size());
            return 1;
        }
    }
    kvbench::Report("http-cpu", oursCpu, curlCpu, "cpu-ratio (goal <= 1.5)");
    kvbench::Report("http", oursWall, curlWall, "ratio");
    return 0;
}

const kvbench::TRegister Registered("http", "Get of a 256 MiB file from nginx vs curl [MiB] [runs]",
                                    Run);

} // namespace
