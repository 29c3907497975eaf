#pragma once
// A scripted HTTP peer in a thread of the test process, for what no real server can be made
// to do: it accepts one connection, reads the request head, then runs its script.
#include <functional>
#include <string>
#include <thread>

namespace nettest {

class TScriptServer {
public:
    // The script gets the connected descriptor and the request head as received.
    using TScript = std::function<void(int fd, const std::string& request)>;
    explicit TScriptServer(TScript script, bool readRequest = true);
    ~TScriptServer(); // closes the connection and joins
    TScriptServer(const TScriptServer&) = delete;
    TScriptServer& operator=(const TScriptServer&) = delete;

    int Port() const { return FPort; }
    std::string Url(const std::string& path = "/") const;
    // The request head received (valid once the script has run).
    std::string Request();

private:
    void Run(TScript script, bool readRequest);
    int FListen = -1;
    int FPort = 0;
    std::string FRequest;
    std::thread FThread;
};

// Helpers for scripts. SendAll: false once the peer is gone.
bool SendAll(int fd, const std::string& data);
// Waits (bounded) until the peer closes its side; what it sends is dropped.
void WaitForPeerClose(int fd, int maxSeconds = 30);

} // namespace nettest
