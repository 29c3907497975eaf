#pragma once
// kvbench: each comparison runs our side and a reference side several times in the same run
// and prints, as its last line, "NAME ratio R" with R = median(ours) / median(reference).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
// to it answers; stopped at destruction.
class TNginx {
public:
    TNginx(const std::string& dir, const std::string& root, int workerConnections = 256);
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
};

} // namespace kvbench
