#pragma once
// kvbench: each comparison runs our side and a reference side several times in the same run
// and prints, as its last line, "NAME ratio R" with R = median(ours) / median(reference).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class TmsHTTPClient;

namespace kvbench {

struct TBench {
    std::string Name;
    std::string Description;
    std::function<int(const std::vector<std::string>& args)> Run; // exit status
};

// Registers a comparison; used from a static object in each bench_*.cpp.
struct TRegister {
    TRegister(std::string name, std::string description,
              std::function<int(const std::vector<std::string>&)> run);
};

double Median(std::vector<double> values);
// Wall-clock seconds of one call.
double TimeIt(const std::function<void()>& body);
// User + system CPU seconds used by this process (and its waited-for children) in one call.
double CpuTimeIt(const std::function<void()>& body);
// Runs a shell command and returns its wall-clock seconds; aborts the bench on failure.
double TimeCommand(const std::string& command);
// Runs a shell command; returns its exit status.
int Shell(const std::string& command);
// A scratch folder for the bench's files, removed at exit; honours $KVBENCH_DIR.
std::string ScratchDir();
// Prints the per-run figures and the closing "NAME ratio R" line.
void Report(const std::string& name, const std::vector<double>& ours,
            const std::vector<double>& reference, const std::string& what = "ratio");
// The folder of the built programs (kvpublish, KVUpdater.exe), beside kvbench.
std::string BuildDir();

// User + system CPU seconds used so far by this process alone, and by its waited-for children.
double CpuSelf();
double CpuChildren();

// A TCP socket bound to a free loopback port (close-on-exec), and that port; -1 on failure.
int BindLoopback(int& port);
// A loopback TCP port that was free a moment ago.
int FreePort();

// Scratch content of `bytes` bytes: text-like lines with some runs of noise, so a compressor
// has real work both ways. Each line is made by lineFormat from a number (%u), a hex word
// (%08x) and one of the two words (%s).
std::string MixedData(size_t bytes, uint32_t seed, const char* lineFormat, const char* word1,
                      const char* word0);

// nginx as a daemon serving root on a loopback port, its files in dir; ready once a request
// to it answers; stopped at destruction. With tlsLines (its ssl_ directives) it speaks TLS.
class TNginx {
public:
    TNginx(const std::string& dir, const std::string& root, int workerConnections = 256,
           const std::string& tlsLines = "");
    ~TNginx();
    TNginx(const TNginx&) = delete;
    TNginx& operator=(const TNginx&) = delete;
    bool Started() const { return FStarted; }
    std::string Url(const std::string& path) const;

private:
    std::string Command() const;
    std::string FDir;
    int FPort = 0;
    bool FStarted = false;
    bool FTls = false;
};

// Gets the client's URL `runs` times against curl (given curlOptions) writing the same URL to
// a file in dir, the client's body spilling there too; prints NAME-cpu's figures and then
// NAME's, whose "NAME ratio R" is the last line. False when a Get fails or falls short of
// size bytes.
bool CompareGets(const std::string& name, TmsHTTPClient& client, const std::string& curlOptions,
                 const std::string& dir, long long size, int runs, const std::string& cpuGoal);

// One Get of the client's URL, which waits on a silent peer until it times out: its CPU and
// wall seconds appended, and a line printed with the label.
void IdleRun(const std::string& label, TmsHTTPClient& client, std::vector<double>& cpu,
             std::vector<double>& wall);

// A server on a loopback port that accepts one connection, sends `first` (nothing by
// default), and then keeps the connection open without a word until the client closes.
class TSilentServer {
public:
    explicit TSilentServer(std::string first = "");
    ~TSilentServer();
    TSilentServer(const TSilentServer&) = delete;
    TSilentServer& operator=(const TSilentServer&) = delete;
    int Port() const { return FPort; }

private:
    int FListen = -1, FPort = 0;
    std::thread FThread;
};

} // namespace kvbench
