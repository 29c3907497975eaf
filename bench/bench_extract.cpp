// kvbench extract: ExtractFile of a 256 MiB MSZIP cabinet against cabextract unpacking the
// same cabinet into a folder. Goal: ratio at most 1.1.
#include <cstdio>
#include <vector>

#include "bench/kvbench.h"
#include "cab/cabfiles.h"
#include "platform/files.h"

namespace {

int RunExtract(const std::vector<std::string>& args) {
    const size_t mib = args.empty() ? 256 : std::stoul(args[0]);
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 3;
    const std::string dir = kvbench::ScratchDir() + "/";
    if (!plat::ForceDirectories(dir + "src") || !plat::ForceDirectories(dir + "ours") ||
        !plat::ForceDirectories(dir + "ref")) {
        std::fprintf(stderr, "extract: can't make folders in %s\n", dir.c_str());
        return 1;
    }
    if (!plat::WriteFileAtomic(dir + "src/payload.dat",
                               kvbench::MixedData(mib << 20, 7, "entry %u value %08x state %s\r\n",
                                                  "ready", "waiting"))) {
        std::fprintf(stderr, "extract: can't write the payload\n");
        return 1;
    }
    kvbench::TimeCommand("cd '" + dir + "src' && gcab -c -z '" + dir + "big.cab' payload.dat");

    TCABFile cab;
    cab.CABFile = dir + "big.cab";
    cab.TargetPath = dir + "ours";
    const std::string reference = "cabextract -q -d '" + dir + "ref' '" + dir + "big.cab'";
    kvbench::TimeCommand("cat '" + dir + "big.cab' > /dev/null"); // into the page cache
    std::vector<double> ours, ref;
    for (int i = 0; i < runs; ++i) {
        plat::DeleteFile(dir + "ours/payload.dat");
        bool ok = true;
        ours.push_back(kvbench::TimeIt([&] { ok = cab.ExtractFile("payload.dat"); }));
        if (!ok) {
            std::fprintf(stderr, "extract: ExtractFile failed\n");
            return 1;
        }
        plat::DeleteFile(dir + "ref/payload.dat");
        ref.push_back(kvbench::TimeCommand(reference));
    }
    plat::TDirEntry a, b;
    if (!plat::FindEntry(dir + "ours/payload.dat", a) ||
        !plat::FindEntry(dir + "ref/payload.dat", b) || a.Size != b.Size) {
        std::fprintf(stderr, "extract: the two unpacked files differ\n");
        return 1;
    }
    std::printf("extract of a %zu MiB MSZIP cabinet\n", mib);
    kvbench::Report("extract", ours, ref);
    return 0;
}

kvbench::TRegister Register("extract", "ExtractFile of a 256 MiB MSZIP cabinet vs cabextract",
                            RunExtract);

} // namespace
