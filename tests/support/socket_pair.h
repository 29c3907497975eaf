#pragma once
// A connected pair of local stream sockets for one test, closed at destruction.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace kvtest {

struct TSocketPair {
    int Fd[2] = {-1, -1};
    TSocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, Fd)); }
    ~TSocketPair() {
        close(Fd[0]);
        close(Fd[1]);
    }
    TSocketPair(const TSocketPair&) = delete;
    TSocketPair& operator=(const TSocketPair&) = delete;
};

} // namespace kvtest
