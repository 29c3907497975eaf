// kvbench filesum: FileSum of a 1 GiB file in the page cache against `cat FILE > /dev/null`
// of the same file. Both read the same cached pages; the goal is a ratio of at most 1.2.
// Each side is timed in processor time (user + system, cat's included), which a machine
// shared with other work disturbs far less than wall-clock time; the wall-clock figures are
// printed too.
#include <cstdio>
#include <vector>

#include "app/manifest.h"
#include "bench/kvbench.h"
#include "platform/files.h"

namespace {

int RunFileSum(const std::vector<std::string>& args) {
    const uint64_t mib = args.empty() ? 1024 : std::stoull(args[0]);
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 7;
    const std::string file = kvbench::ScratchDir() + "/filesum.bin";

    std::vector<uint8_t> block(1 << 20);
    uint32_t x = 12345;
    plat::TFile out(plat::FileCreate(file));
    if (!out.Valid()) {
        std::fprintf(stderr, "filesum: can't create %s\n", file.c_str());
        return 1;
    }
    for (uint64_t i = 0; i < mib; ++i) {
        for (auto& b : block) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
        if (plat::FileWrite(out.Get(), block.data(), block.size()) != int64_t(block.size())) {
            std::fprintf(stderr, "filesum: can't write %s\n", file.c_str());
            return 1;
        }
    }
    out.Close();

    const std::string cat = "cat '" + file + "' > /dev/null";
    kvbench::TimeCommand(cat); // into the page cache
    std::vector<double> ours, reference, oursWall, referenceWall;
    uint32_t sum = 0;
    for (int i = 0; i < runs; ++i) {
        double wall = 0;
        ours.push_back(
            kvbench::CpuTimeIt([&] { wall = kvbench::TimeIt([&] { sum = FileSum(file); }); }));
        oursWall.push_back(wall);
        reference.push_back(kvbench::CpuTimeIt([&] { wall = kvbench::TimeCommand(cat); }));
        referenceWall.push_back(wall);
    }
    std::printf("filesum of %llu MiB: %08X\n", static_cast<unsigned long long>(mib), sum);
    kvbench::Report("filesum-wall", oursWall, referenceWall);
    kvbench::Report("filesum", ours, reference);
    return 0;
}

kvbench::TRegister Register("filesum", "FileSum of a 1 GiB cached file vs cat > /dev/null",
                            RunFileSum);

} // namespace
