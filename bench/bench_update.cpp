// kvbench update: the URL engine updating 1,000 changed files (100 MiB) from nginx on
// loopback, from the manifest request to the last install, against the same work done by
// standard tools: one curl process fetching every cabinet and one cabextract process
// unpacking them all. The pieces of the engine's time are measured apart as well.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Manifest.h"
#include "app/Unit1.h"
#include "bench/kvbench.h"
#include "platform/files.h"

namespace {

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), n);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// nginx as a daemon serving root on a loopback port, stopped at destruction.
class TSiteServer {
public:
    TSiteServer(const std::string& dir, const std::string& root) : FDir(dir) {
        FPort = FreePort();
        kvbench::Shell("mkdir -p '" + dir + "/logs' '" + dir + "/temp'");
        std::ofstream conf(dir + "/nginx.conf");
        conf << "daemon on;\nmaster_process off;\nworker_processes 1;\nerror_log " << dir
             << "/logs/error.log;\npid " << dir << "/nginx.pid;\n"
             << "events { worker_connections 256; }\n"
             << "http {\n access_log off;\n sendfile on;\n default_type application/octet-stream;\n"
             << " client_body_temp_path " << dir << "/temp/body;\n proxy_temp_path " << dir
             << "/temp/proxy;\n fastcgi_temp_path " << dir << "/temp/fastcgi;\n uwsgi_temp_path "
             << dir << "/temp/uwsgi;\n scgi_temp_path " << dir << "/temp/scgi;\n"
             << " server { listen 127.0.0.1:" << FPort << "; root " << root << "; }\n}\n";
        conf.close();
        FStarted = kvbench::Shell("nginx -p '" + dir + "' -e '" + dir + "/logs/error.log' -c '" +
                                  dir + "/nginx.conf'") == 0;
        for (int i = 0; FStarted && i < 100; ++i) {
            if (kvbench::Shell("curl -s -o /dev/null " + Url("/")) == 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~TSiteServer() {
        if (FStarted)
            kvbench::Shell("nginx -p '" + FDir + "' -e '" + FDir + "/logs/error.log' -c '" + FDir +
                           "/nginx.conf' -s stop");
    }
    bool Started() const { return FStarted; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }

private:
    std::string FDir;
    int FPort = 0;
    bool FStarted = false;
};

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
    TSiteServer nginx(dir + "/nginx", site);
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
    ExeName = product + "KVUpdater.exe";
    ProductDir = product;
    plat::SetCurrentDir(product);
    TForm1 form;

    std::vector<double> ours, ref;
    for (int r = 0; r < runs; ++r) {
        kvbench::Shell("rm -rf '" + fetched + "'* '" + unpacked + "'*");
        ref.push_back(kvbench::TimeCommand(reference));

        MakeOld(product, files);
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
    const std::string tmp = TmpDir();
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
            plat::CopyFile(tmp + Name(i), product + Name(i), false);
            plat::DeleteFile(tmp + Name(i));
        }
    });
    std::printf("update parts: fetch+save %.3f s, extract %.3f s, install (atomic copy, flushed) "
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
