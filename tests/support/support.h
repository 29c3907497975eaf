#pragma once
// Test helpers: temporary folders, random data, and real servers started on loopback ports
// for the length of one test (nginx for update sites, tinyproxy for proxies).
//
// On Windows (tests under Wine) the servers are the host's, started once for the whole test
// run by a ctest fixture (tests/support/wine/peers.sh): TNginx serves a test's folder from
// there, TTinyproxy is that run's proxy; TChild and RunCommand do not exist. Temporary folders
// lie in the host's /tmp, seen as Z:\tmp.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace kvtest {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at destruction; on
// Windows under the host folder KVTEST_TMPDIR (or /tmp) as Wine's drive Z: shows it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; } // ends with "/" ("\\" on Windows)
    std::string File(const std::string& rel) const { return FPath + rel; }
    // Writes a file (creating its folders); returns its full name.
    std::string Write(const std::string& rel, const std::string& data) const;
    std::string Read(const std::string& rel) const;
    bool Exists(const std::string& rel) const;

private:
    std::string FPath;
};

#ifdef _WIN32
// The host's name of a file Wine shows on drive Z: ("Z:\tmp\x" is "/tmp/x").
std::string HostPath(const std::string& windowsName);
// The name drive Z: gives a host file ("/tmp/x" is "Z:\tmp\x").
std::string WinePath(const std::string& hostName);
#endif

// Makes a file read-only: no write permission on POSIX, the read-only attribute on Windows.
void MakeReadOnly(const std::string& name);

// Reads a whole file; empty when it can't be read.
std::string ReadFile(const std::string& name);
// Writes a whole file, creating its folders.
void WriteFile(const std::string& name, const std::string& data);
// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t n, uint32_t seed);
// A loopback TCP port that was free a moment ago.
int FreePort();
// Waits until something accepts connections on 127.0.0.1:port (bounded; false on time-out).
bool WaitForPort(int port, int timeoutMs = 10000);

// A program started in the background, ended (SIGTERM, then SIGKILL) at destruction.
class TChild {
public:
    TChild() = default;
    explicit TChild(const std::vector<std::string>& argv, const std::string& logFile = "");
    ~TChild();
    TChild(TChild&& other) noexcept;
    TChild& operator=(TChild&& other) noexcept;
    pid_t Pid() const { return FPid; }
    bool Running();
    void Stop();

private:
    pid_t FPid = -1;
};

// A loopback listener whose connections are handed one at a time to handler, in a thread of
// the test process, and closed after it; stopped and joined at destruction. Scripted servers,
// for what no real server can be made to do, are handlers.
class TAcceptLoop {
public:
    explicit TAcceptLoop(std::function<void(int fd)> handler);
    ~TAcceptLoop();
    TAcceptLoop(const TAcceptLoop&) = delete;
    TAcceptLoop& operator=(const TAcceptLoop&) = delete;
    int Port() const { return FPort; }
    bool Stopping() const { return FStop; } // an endless answer ends then

private:
    int FListener = -1, FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// The answer that answers gives the path of a request head ("GET /a HTTP/1.1..." asks for
// "/a"), or a 404 without a body.
std::string AnswerFor(const std::map<std::string, std::string>& answers, const std::string& head,
                      std::string* path = nullptr);

// The first 20 bytes of a TLS record that announces 122: a ServerHello cut in its middle.
std::string HalfServerHello();

// Runs a command line through /bin/sh and returns its exit status; output into *output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Real nginx on a free loopback port serving root (a folder).
class TNginx {
public:
    // extraServerConfig is added inside the server block; with https the server speaks TLS
    // only, and extraServerConfig names its certificate (TTestPki::NginxLines).
    explicit TNginx(const std::string& root, const std::string& extraServerConfig = "",
                    bool https = false);
    ~TNginx();
    int Port() const { return FPort; }
    // "http://127.0.0.1:PORT" + path, or "https://" with TLS.
    std::string Url(const std::string& path = "/") const;
    std::string HostPort() const; // "127.0.0.1:PORT"

private:
    TTempDir FDir;
    int FPort = 0;
    bool FHttps = false;
    TChild FChild;
    std::string FRoot; // on Windows: the URL path of the served folder
};

// Certificates made by the openssl command when constructed: a test CA and, with one key,
// server certificates signed by it for 127.0.0.1 and localhost ("valid"), the same expired
// ("expired"), one for another name ("other-name"), and one signed by itself
// ("self-signed").
class TTestPki {
public:
    TTestPki();
    std::string CA() const { return FDir.File("ca.pem"); }
    std::string Certificate(const std::string& which) const { return FDir.File(which + ".pem"); }
    std::string Key(const std::string& which) const;
    // nginx's lines for a TLS server with that certificate.
    std::string NginxLines(const std::string& which) const;

private:
    TTempDir FDir;
};

// Real tinyproxy on a free loopback port; Basic credentials required when user is set.
class TTinyproxy {
public:
    explicit TTinyproxy(const std::string& user = "", const std::string& password = "");
    ~TTinyproxy();
    int Port() const { return FPort; }

private:
    TTempDir FDir;
    int FPort = 0;
    TChild FChild;
};

} // namespace kvtest
