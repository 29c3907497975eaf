#pragma once
// What the event loop tests need of the system, alike on both builds: a connected pair of
// local stream sockets whose readiness a presentation's wait sees, and the process's CPU
// time. On Windows the pair is a loopback connection whose reading end sends its
// notifications (WSAAsyncSelect) to the presentation's message window, as the socket
// binding's sockets do.
#include <gtest/gtest.h>

#include "platform/socket_type.h"
#include "platform/ui.h"

#ifdef _WIN32
#include <winsock2.h> // the test's own sockets (ws2_32)

#include "platform/win32/message_loop.h"
#else
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace looptest {

#ifdef _WIN32

class TPeerPair {
public:
    explicit TPeerPair(plat::TPresentation& presentation) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        FWriter = ::socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(0, ::connect(FWriter, reinterpret_cast<sockaddr*>(&address), length));
        FReader = ::accept(listener, nullptr, nullptr);
        ::closesocket(listener);
        auto* loop = dynamic_cast<plat::win32::TMessageLoop*>(&presentation);
        EXPECT_TRUE(loop && loop->NotificationWindow());
        EXPECT_EQ(0, ::WSAAsyncSelect(FReader, loop->NotificationWindow(), 0x862,
                                      FD_READ | FD_WRITE | FD_CLOSE));
    }
    ~TPeerPair() {
        ::closesocket(FReader);
        ::closesocket(FWriter);
    }
    TPeerPair(const TPeerPair&) = delete;
    TPeerPair& operator=(const TPeerPair&) = delete;
    plat::TSocket Reader() const { return static_cast<plat::TSocket>(FReader); }
    void Send() { EXPECT_EQ(1, ::send(FWriter, "x", 1, 0)); }
    bool Receive() {
        char c;
        return ::recv(FReader, &c, 1, 0) == 1;
    }

private:
    SOCKET FReader = INVALID_SOCKET, FWriter = INVALID_SOCKET;
};

inline double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

#else

class TPeerPair {
public:
    explicit TPeerPair(plat::TPresentation&) {
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, FFd));
    }
    ~TPeerPair() {
        ::close(FFd[0]);
        ::close(FFd[1]);
    }
    TPeerPair(const TPeerPair&) = delete;
    TPeerPair& operator=(const TPeerPair&) = delete;
    plat::TSocket Reader() const { return FFd[0]; }
    void Send() { EXPECT_EQ(1, ::write(FFd[1], "x", 1)); }
    bool Receive() {
        char c;
        return ::recv(FFd[0], &c, 1, MSG_DONTWAIT) == 1;
    }

private:
    int FFd[2] = {-1, -1};
};

inline double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

#endif

} // namespace looptest
