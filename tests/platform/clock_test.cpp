#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/exception.h"

using namespace plat;

namespace {

// Runs the test body in a given time zone, restoring the previous one afterwards.
class TZone {
public:
    explicit TZone(const char* zone) {
        const char* old = std::getenv("TZ");
        FHad = old != nullptr;
        if (old) FOld = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TZone() {
        if (FHad)
            ::setenv("TZ", FOld.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool FHad = false;
    std::string FOld;
};

TSystemTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    TSystemTime t;
    t.Year = y, t.Month = mo, t.Day = d, t.Hour = h, t.Minute = mi, t.Second = s;
    t.Milliseconds = ms;
    return t;
}

} // namespace

TEST(Clock, DateTimeNumbersCountDaysFromTheEpochDay) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(Make(1899, 12, 30)), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(Make(1900, 1, 1, 18)), 2.75);
    EXPECT_DOUBLE_EQ(EncodeDateTime(Make(2026, 12, 8, 12)), 46364.5);
    EXPECT_DOUBLE_EQ(EncodeDateTime(Make(2024, 2, 29, 0, 0, 0, 500)), 45351 + 0.5 / 86400);
    // Before the epoch day the time of day counts away from zero.
    EXPECT_DOUBLE_EQ(EncodeDateTime(Make(1899, 12, 29, 6)), -1.25);
    EXPECT_THROW(EncodeDateTime(Make(2026, 2, 29)), EConvertError);
    EXPECT_THROW(EncodeDateTime(Make(2026, 13, 1)), EConvertError);
    EXPECT_THROW(EncodeDateTime(Make(2026, 1, 1, 24)), EConvertError);
}

TEST(Clock, LogTimeUsesFixedEnglishMonthNames) {
    EXPECT_EQ(FormatLogTime(Make(2026, 12, 8, 14, 3, 7)), "Dec 08 2026 14:03:07");
    EXPECT_EQ(FormatLogTime(Make(2027, 1, 31, 0, 0, 0)), "Jan 31 2027 00:00:00");
    const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 1; m <= 12; ++m) EXPECT_EQ(ShortMonthName(m), names[m - 1]);
    EXPECT_EQ(ShortMonthName(0), "");
    EXPECT_EQ(ShortMonthName(13), "");
}

TEST(Clock, LocalTimeFollowsTheZoneAndItsSummerTime) {
    TZone zone("EST5EDT,M3.2.0,M11.1.0");
    TUnixTime t;
    ASSERT_TRUE(LocalToUnix(Make(2026, 1, 15, 12, 0, 0, 250), t));
    EXPECT_EQ(t.Seconds, 1768496400); // 17:00 UTC
    EXPECT_EQ(t.Nanoseconds, 250000000);
    ASSERT_TRUE(LocalToUnix(Make(2026, 7, 1, 12), t));
    EXPECT_EQ(t.Seconds, 1782921600); // 16:00 UTC
    TSystemTime local;
    ASSERT_TRUE(UnixToLocal(TUnixTime{1782921600, 999999999}, local));
    EXPECT_EQ(FormatLogTime(local), "Jul 01 2026 12:00:00");
    EXPECT_EQ(local.Milliseconds, 999);
    EXPECT_FALSE(LocalToUnix(Make(2026, 2, 30), t));
    EXPECT_FALSE(LocalToUnix(Make(2026, 1, 1, 0, 60), t));
    // Now, in local time, is now.
    ASSERT_TRUE(LocalToUnix(LocalNow(), t));
    EXPECT_LE(std::llabs(t.Seconds - static_cast<int64_t>(std::time(nullptr))), 5);
}

TEST(Clock, SleepWaitsAtLeastAsLongOnTheMonotonicClock) {
    uint64_t before = MonotonicMs();
    Sleep(30);
    EXPECT_GE(MonotonicMs() - before, 30u);
}
