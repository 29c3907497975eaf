// kvbench idle: the CPU time a Get spends waiting on a server that accepts and says nothing,
// as a share of one core over the wait (TimeOut 5 s).
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/kvbench.h"
#include "net/http_client.h"

namespace {

// Accepts one connection and keeps it open without a word until the client closes.
class TSilentServer {
public:
    TSilentServer() {
        FListen = kvbench::BindLoopback(FPort);
        listen(FListen, 1);
        FThread = std::thread([this] {
            int fd = accept(FListen, nullptr, nullptr);
            if (fd < 0) return;
            char buffer[4096];
            for (;;) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 60000) <= 0) break;
                if (recv(fd, buffer, sizeof buffer, 0) <= 0) break;
            }
            close(fd);
        });
    }
    ~TSilentServer() {
        FThread.join();
        close(FListen);
    }
    int Port() const { return FPort; }

private:
    int FListen = -1, FPort = 0;
    std::thread FThread;
};

int Run(const std::vector<std::string>& args) {
    const int runs = args.size() > 0 ? std::stoi(args[0]) : 3;
    const int timeOut = args.size() > 1 ? std::stoi(args[1]) : 5;
    std::vector<double> cpu, wall;
    for (int i = 0; i < runs; ++i) {
        TSilentServer server;
        TmsHTTPClient client;
        client.SetTimeOut(timeOut);
        client.SetURL("http://127.0.0.1:" + std::to_string(server.Port()) + "/versions.txt");
        std::string outcome = "no error";
        double cpu0 = kvbench::CpuSelf();
        wall.push_back(kvbench::TimeIt([&] {
            try {
                client.Get();
            } catch (const Exception& e) {
                outcome = e.Message();
            }
        }));
        cpu.push_back(kvbench::CpuSelf() - cpu0);
        std::printf("idle run %d: %s after %.2f s, %.4f s CPU (%.3f %% of one core)\n", i + 1,
                    outcome.c_str(), wall.back(), cpu.back(), 100 * cpu.back() / wall.back());
    }
    // The ratio is CPU seconds over wall seconds: the share of one core (goal < 0.02).
    kvbench::Report("idle", cpu, wall, "ratio");
    return 0;
}

const kvbench::TRegister
    Registered("idle", "CPU share of a Get waiting on a silent server [runs] [s]", Run);

} // namespace
