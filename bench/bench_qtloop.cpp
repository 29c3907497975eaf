// kvbench qtget: a Get of a large body on loopback while the Qt window (offscreen) shows the
// transfer on its bar, against the same Get with the console presentation: the cost of
// Qt's event loop in the socket waits, in wall and CPU time. Built only with Qt.
#ifdef KV_WITH_QT_PRESENTATION
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/kvbench.h"
#include "net/http_client.h"
#include "platform/qt/qt_presentation.h"

namespace {

// Answers every connection with the same body, until destroyed.
class TBodyServer {
public:
    explicit TBodyServer(size_t size) : FBody(size, 'k') {
        FListen = kvbench::BindLoopback(FPort);
        listen(FListen, 4);
        FThread = std::thread([this] { Serve(); });
    }
    ~TBodyServer() {
        FStop = true;
        shutdown(FListen, SHUT_RDWR);
        FThread.join();
        close(FListen);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/big.bin"; }

private:
    void Serve() {
        while (!FStop) {
            int fd = accept(FListen, nullptr, nullptr);
            if (fd < 0) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, size_t(got));
            }
            std::string head =
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(FBody.size()) +
                "\r\nConnection: close\r\n\r\n";
            SendAll(fd, head.data(), head.size());
            SendAll(fd, FBody.data(), FBody.size());
            close(fd);
        }
    }
    static void SendAll(int fd, const char* p, size_t left) {
        while (left > 0) {
            ssize_t sent = send(fd, p, left, MSG_NOSIGNAL);
            if (sent <= 0) return;
            p += sent;
            left -= size_t(sent);
        }
    }

    std::string FBody;
    int FListen = -1, FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// The window's components; the transfer steps the second bar as the program does.
struct TForm {
    plat::TWindowSettings Window;
    plat::TMemo Memo1;
    plat::TProgressBar ProgressBar1, ProgressBar2;
};

bool GetOnce(const std::string& url, size_t size, TForm& form) {
    TmsHTTPClient client;
    client.SetURL(url);
    client.OnTransferProgress = [&](TmsSocketBase*, int32_t, int32_t, int32_t) {
        form.ProgressBar2.StepIt();
    };
    try {
        return client.Get() == 200 && size_t(client.ResponseStream().Size()) == size;
    } catch (const Exception& e) {
        std::fprintf(stderr, "kvbench qtget: %s\n", e.Message().c_str());
        return false;
    }
}

int Run(const std::vector<std::string>& args) {
    const long long mib = args.size() > 0 ? std::stoll(args[0]) : 128;
    const int runs = args.size() > 1 ? std::stoi(args[1]) : 5;
    const size_t size = size_t(mib) << 20;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "kvbench";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TBodyServer server(size);

    // 0: the console; 1: Qt with its window hidden (the loop alone); 2: Qt with the window
    // shown, its bar painted for every block.
    std::vector<double> wall[3], cpuTime[3];
    for (int i = 0; i < runs; ++i) {
        for (int kind : {0, 1, 2}) {
            TForm form;
            plat::SetPresentation(kind ? plat::CreateQtPresentation(argc, argv)
                                       : plat::CreateConsolePresentation());
            plat::TPresentation& p = plat::Presentation();
            p.Attach(form.Window, form.ProgressBar1, form.ProgressBar2, form.Memo1);
            if (kind == 2) p.Show();
            p.ProcessMessages();
            bool ok = true;
            double cpu0 = kvbench::CpuSelf();
            wall[kind].push_back(kvbench::TimeIt([&] { ok = GetOnce(server.Url(), size, form); }));
            cpuTime[kind].push_back(kvbench::CpuSelf() - cpu0);
            plat::SetPresentation(nullptr);
            if (!ok) return 1;
        }
        std::printf("qtget run %d: console %.3f s (%.3f s CPU), Qt loop %.3f s (%.3f s CPU), Qt "
                    "window %.3f s (%.3f s CPU)\n",
                    i + 1, wall[0].back(), cpuTime[0].back(), wall[1].back(), cpuTime[1].back(),
                    wall[2].back(), cpuTime[2].back());
    }
    kvbench::Report("qtget-loop", wall[1], wall[0], "ratio (goal <= 1.5)");
    kvbench::Report("qtget-cpu", cpuTime[2], cpuTime[0], "cpu-ratio");
    kvbench::Report("qtget", wall[2], wall[0], "ratio");
    return 0;
}

const kvbench::TRegister
    Registered("qtget", "Get of a 128 MiB body with the Qt window vs the console [MiB] [runs]",
               Run);

} // namespace
#endif
