// The one handle owner, over a kind whose closes are recorded: each handle is closed once,
// by whoever holds it last, and only Close lets a failed close be heard.
#include <gtest/gtest.h>

#include <vector>

#include "platform/errors.h"
#include "platform/handle.h"

namespace {

using namespace plat;

std::vector<int> Closed;
constexpr int Failing = 13; // a handle whose close fails

struct TRecordedTraits {
    using TValue = int;
    static int Invalid() noexcept { return -1; }
    static bool Close(int value) noexcept {
        Closed.push_back(value);
        if (value != Failing) return true;
        SetLastError(syserr::InvalidHandle);
        return false;
    }
};
using THandleOf = THandle<TRecordedTraits>;

TEST(Handle, EachHandleIsClosedOnceByItsLastHolder) {
    Closed.clear();
    {
        THandleOf first(1);
        THandleOf second(std::move(first));
        EXPECT_FALSE(first.Valid());
        THandleOf third(2);
        third = std::move(second); // 2 goes, 1 moves on
        EXPECT_EQ(Closed, std::vector<int>{2});
        EXPECT_EQ(third.Get(), 1);
        third.Reset(3); // 1 goes
        THandleOf fourth(4);
        EXPECT_EQ(fourth.Release(), 4); // the caller's now
        EXPECT_FALSE(fourth.Valid());
    } // 3 goes
    EXPECT_EQ(Closed, (std::vector<int>{2, 1, 3}));
}

TEST(Handle, OnlyCloseReportsAFailedClose) {
    Closed.clear();
    THandleOf failing(Failing);
    SetLastError(syserr::DiskFull);
    EXPECT_FALSE(failing.Close());
    EXPECT_EQ(GetLastError(), syserr::InvalidHandle);
    EXPECT_FALSE(failing.Valid()); // let go all the same
    EXPECT_TRUE(failing.Close());  // nothing held: nothing to close
    // The silent closes keep the failure a caller is unwinding from.
    for (bool viaReset : {false, true}) {
        SetLastError(syserr::DiskFull);
        {
            THandleOf silent(Failing);
            if (viaReset) silent.Reset();
        }
        EXPECT_EQ(GetLastError(), syserr::DiskFull) << viaReset;
    }
    EXPECT_EQ(Closed, (std::vector<int>{Failing, Failing, Failing}));
}

} // namespace
