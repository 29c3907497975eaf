// kvbench publish: kvpublish of a folder of 1,000 files (200 MiB in all) against gcab -c -z
// building the same 1,000 cabinets one program start each. Goal: ratio at most 1.0.
#include <cstdio>
#include <vector>

#include "bench/kvbench.h"
#include "platform/files.h"

namespace {

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
        if (!plat::WriteFileAtomic(dir + name,
                                   kvbench::MixedData(each, static_cast<uint32_t>(i),
                                                      "record %u checksum %08x flag %s\r\n", "set",
                                                      "clear"))) {
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
