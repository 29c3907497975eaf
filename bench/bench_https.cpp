// kvbench https: Get of a large file over TLS from nginx on loopback against curl writing the
// same URL to a file in the same folder; the server allows one protocol and one cipher, so
// both sides use the same. Wall time and CPU time (user + system), and before them the CPU
// share of a Get waiting on a silent TLS server: one that stops in the middle of its first
// record, and one (openssl s_server) that completes the handshake and then says nothing.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/kvbench.h"
#include "net/http_client.h"

namespace {

const char* const Cipher = "TLS_AES_256_GCM_SHA384";

// openssl s_server on a loopback port: it completes every handshake, reads what comes and
// answers nothing, since nothing ever comes on its standard input.
class TSilentTlsServer {
public:
    TSilentTlsServer(const std::string& certificate, const std::string& key)
        : FPort(kvbench::FreePort()) {
        int input[2];
        if (pipe(input) != 0) return;
        FPid = fork();
        if (FPid == 0) {
            dup2(input[0], 0);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            close(input[1]);
            const std::string accept = "127.0.0.1:" + std::to_string(FPort);
            execlp("openssl", "openssl", "s_server", "-quiet", "-accept", accept.c_str(), "-cert",
                   certificate.c_str(), "-key", key.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(input[0]);
        FInput = input[1];
        const std::string probe = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(FPort);
        for (int i = 0; i < 200 && kvbench::Shell("bash -c '" + probe + "' 2>/dev/null") != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~TSilentTlsServer() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
        }
        if (FInput >= 0) close(FInput);
    }
    int Port() const { return FPort; }

private:
    int FPort;
    pid_t FPid = -1;
    int FInput = -1;
};

// The CPU share of one core while a Get waits on each silent server until it times out.
void Idle(const std::string& certificate, const std::string& key, int timeOut) {
    // The first 20 bytes of a record that announces 122: a ServerHello cut in its middle.
    const std::string half("\x16\x03\x03\x00\x7a\x02\x00\x00\x76\x03\x03"
                           "abcdefghi",
                           20);
    std::vector<double> cpu, wall;
    for (int i = 0; i < 2; ++i) {
        kvbench::TSilentServer server(half);
        TmsHTTPClient client;
        client.SetTimeOut(timeOut);
        client.SetURL("https://127.0.0.1:" + std::to_string(server.Port()) + "/versions.txt");
        kvbench::IdleRun("https idle, half a ServerHello", client, cpu, wall);
    }
    for (int i = 0; i < 2; ++i) {
        TSilentTlsServer server(certificate, key);
        TmsHTTPClient client;
        client.SetTimeOut(timeOut);
        client.SetCAFile(certificate);
        client.SetURL("https://127.0.0.1:" + std::to_string(server.Port()) + "/versions.txt");
        kvbench::IdleRun("https idle, after the handshake", client, cpu, wall);
    }
    // The ratio is CPU seconds over wall seconds: the share of one core (goal < 0.02).
    kvbench::Report("https-idle", cpu, wall, "ratio (goal < 0.02)");
}

int Run(const std::vector<std::string>& args) {
    const long long mib = args.size() > 0 ? std::stoll(args[0]) : 256;
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 5;
    const int timeOut = args.size() > 2 ? std::stoi(args[2]) : 5;
    const long long size = mib << 20;
    const std::string dir = kvbench::ScratchDir() + "/https";
    const std::string certificate = dir + "/server.pem", key = dir + "/server.key";
    kvbench::Shell("mkdir -p '" + dir + "/site'");
    if (kvbench::Shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                       "-days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
                       key + "' -out '" + certificate + "' 2>/dev/null") != 0 ||
        kvbench::Shell("head -c " + std::to_string(size) + " /dev/urandom > '" + dir +
                       "/site/big.bin'") != 0)
        return 1;
    Idle(certificate, key, timeOut);

    kvbench::TNginx nginx(dir + "/nginx", dir + "/site", 64,
                          "ssl_certificate " + certificate + "; ssl_certificate_key " + key +
                              "; ssl_protocols TLSv1.3; ssl_conf_command Ciphersuites " + Cipher +
                              ";\n");
    if (!nginx.Started()) {
        std::fprintf(stderr, "kvbench https: nginx did not start\n");
        return 1;
    }
    const std::string curlOptions = "--cacert '" + certificate + "'";
    std::printf("https: the server allows TLSv1.3 with %s alone; curl says: ", Cipher);
    std::fflush(stdout);
    kvbench::Shell("curl -sv " + curlOptions + " -o /dev/null '" + nginx.Url("/") +
                   "' 2>&1 | sed -n 's/^\\* SSL connection using //p'");
    TmsHTTPClient client;
    client.SetCAFile(certificate);
    client.SetURL(nginx.Url("/big.bin"));
    return kvbench::CompareGets("https", client, curlOptions, dir, size, runs, "1.3") ? 0 : 1;
}

const kvbench::TRegister Registered("https",
                                    "Get of a 256 MiB file over TLS from nginx vs curl writing it "
                                    "to a file; CPU share on silent TLS servers [MiB] [runs] [s]",
                                    Run);

} // namespace
