// kvbench publish: kvpublish of a folder of 1,000 files (200 MiB in all) against gcab -c -z
// building the same 1,000 cabinets one program start each. Goal: ratio at most 1.0.
#include <cstdio>
#include <vector>

#include "bench/kvbench.h"
#include "platform/files.h"

namespace {

std::string FileData(size_t bytes, uint32_t seed) {
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
            int n = std::snprintf(line, sizeof line, "record %u checksum %08x flag %s\r\n",
                                  (x >> 8) % 100000, x, (x & 1) ? "set" : "clear");
            data.append(line, static_cast<size_t>(n));
        }
    }
    data.resize(bytes);
    return data;
}

int RunPublish(const std::vector<std::string>& args) {
    const int files = args.empty() ? 1000 : std::stoi(args[0]);
    const size_t totalMib = args.size() > 1 ? std::stoul(args[1]) : 200;
    const int runs = args.size() > 2 ? std::stoi(args[2]) : 3;
    const std::string dir = kvbench::ScratchDir() + "/";
    const size_t each = (totalMib << 20) / static_cast<size_t>(files);
    plat::ForceDirectories(dir + "product");
    for (int i = 0; i < files; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "product/file%04d.dll", i);
        if (!plat::WriteFileAtomic(dir + name, FileData(each, static_cast<uint32_t>(i)))) {
            std::fprintf(stderr, "publish: can't write %s\n", name);
            return 1;
        }
    }
    const std::string ours = "'" + kvbench::BuildDir() + "/tools/kvpublish' --force -q '" + dir +
                             "product' '" + dir + "site'";
    const std::string reference = "mkdir -p '" + dir + "ref' && cd '" + dir +
                                  "product' && for f in *; do gcab -c -z \"../ref/${f%.*}.cab\" "
                                  "\"$f\" || exit 1; done";
    kvbench::TimeCommand("cat '" + dir + "product/'* > /dev/null"); // into the page cache
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(kvbench::TimeCommand(ours));
        b.push_back(kvbench::TimeCommand(reference));
    }
    std::printf("publish of %d files, %zu MiB\n", files, totalMib);
    kvbench::Report("publish", a, b);
    return 0;
}

kvbench::TRegister Register("publish", "kvpublish of 1,000 files / 200 MiB vs gcab -c -z per file",
                            RunPublish);

} // namespace
