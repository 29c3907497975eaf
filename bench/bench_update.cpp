// kvbench update: the URL engine updating 1,000 changed files (100 MiB) from nginx on
// loopback, from the manifest request to the last install, against the same work done by
// standard tools: one curl process fetching every cabinet and one cabextract process
// unpacking them all. The pieces of the engine's time are measured apart as well.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/manifest.h"
#include "bench/kvbench.h"
#include "platform/files.h"

namespace {

std::string Name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "file%04d.bin", i);
    return name;
}

// Every product file back to a one-byte old version, so each run updates them all.
void MakeOld(const std::string& product, int files) {
    for (int i = 0; i < files; ++i) plat::WriteFileAtomic(product + Name(i), "x");
}

int Run(const std::vector<std::string>& args) {
    const int files = args.size() > 0 ? std::stoi(args[0]) : 1000;
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 3;
    const std::string dir = kvbench::ScratchDir() + "/update";
    const std::string src = dir + "/src/", site = dir + "/site/", product = dir + "/product/";
    const std::string fetched = dir + "/fetched/", unpacked = dir + "/unpacked/";
    kvbench::Shell("mkdir -p '" + src + "' '" + product + "' '" + fetched + "' '" + unpacked + "'");
    // 100 KiB of incompressible bytes per file: 100 MiB for 1,000 files.
    if (kvbench::Shell("cd '" + src + "' && for i in $(seq 0 " + std::to_string(files - 1) +
                       "); do head -c 102400 /dev/urandom > $(printf 'file%04d.bin' $i); "
                       "done") != 0)
        return 1;
    if (kvbench::Shell("'" + kvbench::BuildDir() + "/tools/kvpublish' -q '" + src + "' '" + site +
                       "components'") != 0)
        return 1;
    kvbench::TNginx nginx(dir + "/nginx", site);
    if (!nginx.Started()) {
        std::fprintf(stderr, "kvbench update: nginx did not start\n");
        return 1;
    }
    const std::string url = nginx.Url("/components/");

    // The reference: one curl for every cabinet, one cabextract for all of them.
    std::string config;
    for (int i = 0; i < files; ++i) {
        std::string cab = CabinetName(Name(i));
        config += "url = \"" + url + cab + "\"\noutput = \"" + fetched + cab + "\"\n";
    }
    std::ofstream(dir + "/curl.conf")
        << "url = \"" + url + "versions.txt\"\noutput = \"" + fetched + "versions.txt\"\n" + config;
    const std::string reference = "curl -s -K '" + dir + "/curl.conf' && cabextract -q -d '" +
                                  unpacked + "' '" + fetched + "'*.cab";

    // Ours: the engine of one main window, quiet, with the product folder as its own.
    plat::Presentation().SetSilent();
    plat::SetCurrentDir(product);
    TForm1 form;
    form.Settings.ExeName = product + "KVUpdater.exe";
    form.Settings.ProductDir = product;

    std::vector<double> ours, ref;
    for (int r = 0; r < runs; ++r) {
        // Each side starts with nothing left to write back from the work before it: the
        // other side's 200 MiB would otherwise reach the disk in its time.
        kvbench::Shell("rm -rf '" + fetched + "'* '" + unpacked + "'*; sync");
        ref.push_back(kvbench::TimeCommand(reference));

        MakeOld(product, files);
        kvbench::Shell("sync");
        form.Memo1.Lines.clear();
        bool ok = false;
        ours.push_back(kvbench::TimeIt([&] { ok = form.DoItHTTP(url); }));
        size_t retrieved = 0;
        for (const auto& line : form.Memo1.Lines)
            retrieved += line.find("Retrieving changed file ") != std::string::npos;
        if (!ok || retrieved != size_t(files) ||
            FileSum(product + Name(files - 1)) != FileSum(src + Name(files - 1))) {
            std::fprintf(stderr, "kvbench update: the engine did not update every file\n");
            return 1;
        }
    }

    // Where the engine's time goes: its three kinds of work, each timed on its own.
    MakeOld(product, files);
    kvbench::Shell("sync");
    const std::string tmp = form.Settings.TmpDir();
    double fetch = kvbench::TimeIt([&] {
        for (int i = 0; i < files; ++i) {
            std::string cab = CabinetName(Name(i));
            form.msHTTPClient1.SetURL(url + cab);
            form.msHTTPClient1.Get();
            form.msHTTPClient1.ResponseStream().SaveToFile(tmp + cab);
        }
    });
    double extract = kvbench::TimeIt([&] {
        for (int i = 0; i < files; ++i) {
            form.CABFile1.CABFile = tmp + CabinetName(Name(i));
            form.CABFile1.TargetPath = tmp;
            form.CABFile1.ExtractFile(Name(i));
            plat::DeleteFile(tmp + CabinetName(Name(i)));
        }
    });
    double install = kvbench::TimeIt([&] {
        for (int i = 0; i < files; ++i) {
            ClearAttributes(product + Name(i));
            plat::MoveFile(tmp + Name(i), product + Name(i));
            plat::DeleteFile(tmp + Name(i));
        }
    });
    std::printf("update parts: fetch+save %.3f s, extract %.3f s, install (flushed rename) "
                "%.3f s\n",
                fetch, extract, install);
    kvbench::Report("update", ours, ref, "ratio (goal <= 1.2)");
    return 0;
}

const kvbench::TRegister
    Registered("update",
               "URL engine: 1,000 changed files (100 MiB) from nginx vs curl + "
               "cabextract [files] [runs]",
               Run);

} // namespace
