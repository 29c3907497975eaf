// kvbench syscalls: the system calls of a whole run of KVUpdater.exe per updated file,
// counted by `strace -f -c`: one run updating [files] changed files from nginx, less one run
// against a site whose manifest lists nothing (start-up, log, end), divided by the files.
// The calls that weigh most per file are listed, so a change can be judged call by call.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/kvbench.h"

namespace {

// strace -c's table: calls per system call name.
std::map<std::string, long> ReadCounts(const std::string& file) {
    std::map<std::string, long> counts;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::vector<std::string> words;
        for (std::string w; row >> w;) words.push_back(w);
        // "% time seconds usecs/call calls [errors] syscall"; the total row is left out.
        if (words.size() < 5 || words.back() == "total" || words[0] == "%") continue;
        try {
            counts[words.back()] = std::stol(words[3]);
        } catch (...) {
        }
    }
    return counts;
}

long Total(const std::map<std::string, long>& counts) {
    long total = 0;
    for (const auto& [name, calls] : counts) total += calls;
    return total;
}

int Run(const std::vector<std::string>& args) {
    const int files = args.size() > 0 ? std::stoi(args[0]) : 200;
    if (kvbench::Shell("command -v strace >/dev/null") != 0) {
        std::fprintf(stderr, "kvbench syscalls: strace is not installed\n");
        return 1;
    }
    const std::string dir = kvbench::ScratchDir() + "/syscalls";
    const std::string src = dir + "/src/", empty = dir + "/empty/", site = dir + "/site/";
    const std::string product = dir + "/product/";
    kvbench::Shell("mkdir -p '" + src + "' '" + empty + "' '" + product + "'");
    if (kvbench::Shell("cd '" + src + "' && for i in $(seq 0 " + std::to_string(files - 1) +
                       "); do head -c 102400 /dev/urandom > $(printf 'file%04d.bin' $i); "
                       "done") != 0)
        return 1;
    const std::string publish = "'" + kvbench::BuildDir() + "/tools/kvpublish' -q '";
    if (kvbench::Shell(publish + src + "' '" + site + "full/components'") != 0 ||
        kvbench::Shell(publish + empty + "' '" + site + "empty/components'") != 0)
        return 1;
    kvbench::TNginx nginx(dir + "/nginx", site);
    if (!nginx.Started()) {
        std::fprintf(stderr, "kvbench syscalls: nginx did not start\n");
        return 1;
    }
    kvbench::Shell("cp '" + kvbench::BuildDir() + "/app/KVUpdater.exe' '" + product + "'");

    auto countRun = [&](const std::string& siteName) {
        // Every product file one byte long: all of them are changed for the full site.
        kvbench::Shell("cd '" + src + "' && for f in *; do printf x > '" + product + "'$f; done");
        std::ofstream(product + "KVUpdater.ini")
            << "[General]\r\nUpdateFromUrl=" << nginx.Url("/" + siteName + "/")
            << "\r\nAutoExit=1\r\n";
        const std::string out = dir + "/" + siteName + ".strace";
        kvbench::Shell("cd '" + product + "' && strace -f -c -o '" + out +
                       "' ./KVUpdater.exe /silent >/dev/null 2>&1");
        return ReadCounts(out);
    };
    const auto base = countRun("empty");
    const auto full = countRun("full");
    if (kvbench::Shell("cmp -s '" + src + "file0000.bin' '" + product + "file0000.bin'") != 0) {
        std::fprintf(stderr, "kvbench syscalls: the run did not update the files\n");
        return 1;
    }
    std::vector<std::pair<double, std::string>> perFile;
    for (const auto& [name, calls] : full) {
        auto b = base.find(name);
        perFile.emplace_back(double(calls - (b == base.end() ? 0 : b->second)) / files, name);
    }
    std::sort(perFile.rbegin(), perFile.rend());
    std::printf("syscalls: %ld in a run of %d changed files, %ld in a run of none\n", Total(full),
                files, Total(base));
    for (size_t i = 0; i < perFile.size() && i < 12; ++i)
        std::printf("  %-16s %6.1f per file\n", perFile[i].second.c_str(), perFile[i].first);
    std::printf("syscalls per updated file %.1f (goal <= 40)\n",
                double(Total(full) - Total(base)) / files);
    return 0;
}

const kvbench::TRegister Registered("syscalls",
                                    "system calls per updated file of a whole run, counted by "
                                    "strace [files]",
                                    Run);

} // namespace
