#include "bench/kvbench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

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

// The image of a disk made for the bench (KVBENCH_DISK), mounted over the scratch folder.
std::string& DiskImage() {
    static std::string image;
    return image;
}

void RemoveScratch() {
    if (!DiskImage().empty()) {
        // A bench may have made a folder on the disk its current one.
        if (chdir("/") != 0) std::perror("kvbench: chdir");
        Shell("umount '" + Scratch() + "' && rm -f '" + DiskImage() + "' && rmdir '" + Scratch() +
              "'");
        return;
    }
    if (!Scratch().empty() && !getenv("KVBENCH_KEEP")) Shell("rm -rf '" + Scratch() + "'");
}

// KVBENCH_DISK=ext4: the scratch folder is a journalled ext4 (data=ordered) of its own in a
// loop-mounted image, a file system that orders a file's data before a rename over another.
void MountDisk(const std::string& dir, const char* kind) {
    if (std::string(kind) != "ext4") {
        std::fprintf(stderr, "kvbench: KVBENCH_DISK=%s: only ext4 is made\n", kind);
        std::exit(2);
    }
    DiskImage() = dir + ".img";
    if (Shell("truncate -s 4G '" + DiskImage() + "' && mkfs.ext4 -q '" + DiskImage() +
              "' && mount -o loop '" + DiskImage() + "' '" + dir + "'") != 0) {
        std::fprintf(stderr, "kvbench: the ext4 disk could not be made (root and loop devices "
                             "are needed)\n");
        Shell("rm -f '" + DiskImage() + "'");
        std::exit(1);
    }
    std::printf("kvbench: scratch on a journalled ext4 of its own: %s\n", dir.c_str());
}

double CpuOf(int who) {
    rusage r{};
    getrusage(who, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double CpuSeconds() {
    return CpuSelf() + CpuChildren();
}
} // namespace

double CpuSelf() {
    return CpuOf(RUSAGE_SELF);
}

double CpuChildren() {
    return CpuOf(RUSAGE_CHILDREN);
}

int BindLoopback(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int FreePort() {
    int port = 0;
    int fd = BindLoopback(port);
    if (fd >= 0) close(fd);
    return port;
}

std::string MixedData(size_t bytes, uint32_t seed, const char* lineFormat, const char* word1,
                      const char* word0) {
    std::string data;
    data.reserve(bytes + 128);
    uint32_t x = seed;
    char line[96];
    while (data.size() < bytes) {
        x = x * 1103515245u + 12345u;
        if ((x >> 16) % 4 == 0) {
            for (int i = 0; i < 64; ++i) {
                x = x * 1103515245u + 12345u;
                data += static_cast<char>(x >> 24);
            }
        } else {
            int n = std::snprintf(line, sizeof line, lineFormat, (x >> 8) % 100000, x,
                                  (x & 1) ? word1 : word0);
            data.append(line, static_cast<size_t>(n));
        }
    }
    data.resize(bytes);
    return data;
}

TNginx::TNginx(const std::string& dir, const std::string& root, int workerConnections,
               const std::string& tlsLines)
    : FDir(dir), FTls(!tlsLines.empty()) {
    FPort = FreePort();
    Shell("mkdir -p '" + dir + "/logs' '" + dir + "/temp'");
    std::ofstream conf(dir + "/nginx.conf");
    conf << "daemon on;\nmaster_process off;\nworker_processes 1;\nerror_log " << dir
         << "/logs/error.log;\npid " << dir << "/nginx.pid;\n"
         << "events { worker_connections " << workerConnections << "; }\n"
         << "http {\n access_log off;\n sendfile on;\n default_type application/octet-stream;\n"
         << " client_body_temp_path " << dir << "/temp/body;\n proxy_temp_path " << dir
         << "/temp/proxy;\n fastcgi_temp_path " << dir << "/temp/fastcgi;\n uwsgi_temp_path " << dir
         << "/temp/uwsgi;\n scgi_temp_path " << dir << "/temp/scgi;\n"
         << " server { listen 127.0.0.1:" << FPort << (FTls ? " ssl" : "") << "; root " << root
         << ";\n"
         << tlsLines << " }\n}\n";
    conf.close();
    FStarted = Shell(Command()) == 0;
    for (int i = 0; FStarted && i < 100; ++i) {
        if (Shell("curl -sk -o /dev/null " + Url("/")) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TNginx::~TNginx() {
    if (FStarted) Shell(Command() + " -s stop");
}

std::string TNginx::Command() const {
    return "nginx -p '" + FDir + "' -e '" + FDir + "/logs/error.log' -c '" + FDir + "/nginx.conf'";
}

std::string TNginx::Url(const std::string& path) const {
    return (FTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(FPort) + path;
}

TSilentServer::TSilentServer(std::string first) {
    FListen = BindLoopback(FPort);
    listen(FListen, 1);
    FThread = std::thread([this, first = std::move(first)] {
        int fd = accept(FListen, nullptr, nullptr);
        if (fd < 0) return;
        if (!first.empty() && send(fd, first.data(), first.size(), MSG_NOSIGNAL) < 0) {
            close(fd);
            return;
        }
        char buffer[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) break;
            if (recv(fd, buffer, sizeof buffer, 0) <= 0) break;
        }
        close(fd);
    });
}

TSilentServer::~TSilentServer() {
    FThread.join();
    close(FListen);
}

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
        DiskImage(); // made before the exit handler, so it outlives it
        std::atexit(RemoveScratch);
        if (const char* disk = getenv("KVBENCH_DISK"); disk && *disk) MountDisk(pattern, disk);
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
        std::fprintf(stderr,
                     "usage: kvbench NAME [ARGS...]\n"
                     "scratch files go to $KVBENCH_DIR (default /tmp); KVBENCH_DISK=ext4 puts "
                     "them on a journalled ext4 image of their own (root)\ncomparisons:\n");
        for (auto& [name, bench] : registry)
            std::fprintf(stderr, "  %-10s %s\n", name.c_str(), bench.Description.c_str());
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return registry[argv[1]].Run(args);
}
