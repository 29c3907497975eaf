// kvbench idle: the CPU time a Get spends waiting on a server that accepts and says nothing,
// as a share of one core over the wait (TimeOut 5 s).
#include <cstdio>
#include <string>

#include "bench/kvbench.h"
#include "net/http_client.h"

// One Get that waits on a silent peer until it times out: its CPU and wall seconds.
void kvbench::IdleRun(const std::string& label, TmsHTTPClient& client, std::vector<double>& cpu,
                      std::vector<double>& wall) {
    std::string outcome = "no error";
    double cpu0 = CpuSelf();
    wall.push_back(TimeIt([&] {
        try {
            client.Get();
        } catch (const Exception& e) {
            outcome = e.Message();
        }
    }));
    cpu.push_back(CpuSelf() - cpu0);
    std::printf("%s: %s after %.2f s, %.4f s CPU (%.3f %% of one core)\n", label.c_str(),
                outcome.c_str(), wall.back(), cpu.back(), 100 * cpu.back() / wall.back());
}

namespace {

int Run(const std::vector<std::string>& args) {
    const int runs = args.size() > 0 ? std::stoi(args[0]) : 3;
    const int timeOut = args.size() > 1 ? std::stoi(args[1]) : 5;
    std::vector<double> cpu, wall;
    for (int i = 0; i < runs; ++i) {
        kvbench::TSilentServer server;
        TmsHTTPClient client;
        client.SetTimeOut(timeOut);
        client.SetURL("http://127.0.0.1:" + std::to_string(server.Port()) + "/versions.txt");
        kvbench::IdleRun("idle run " + std::to_string(i + 1), client, cpu, wall);
    }
    // The ratio is CPU seconds over wall seconds: the share of one core (goal < 0.02).
    kvbench::Report("idle", cpu, wall, "ratio");
    return 0;
}

const kvbench::TRegister
    Registered("idle", "CPU share of a Get waiting on a silent server [runs] [s]", Run);

} // namespace
