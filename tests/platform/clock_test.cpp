#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "platform/exception.h"

using namespace plat;

namespace {

#ifndef _WIN32 // a process of Windows takes the system's zone; TZ is no setting of it
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

#endif

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

// Whatever the zone: a moment turned local and back is the same moment, to the millisecond,
// and the clock's local time is the system's.
TEST(Clock, LocalTimesAndMomentsRoundTrip) {
    for (int64_t seconds :
         {int64_t(0), int64_t(1000000000), int64_t(1592224220), int64_t(2500000000)}) {
        const TUnixTime moment{seconds, 123000000};
        TSystemTime local;
        ASSERT_TRUE(UnixToLocal(moment, local)) << seconds;
        TUnixTime back;
        ASSERT_TRUE(LocalToUnix(local, back)) << seconds;
        EXPECT_EQ(back.Seconds, moment.Seconds);
        EXPECT_EQ(local.Milliseconds, 123);
        EXPECT_EQ(back.Nanoseconds, 123000000);
    }
    EXPECT_FALSE(LocalToUnix(Make(2026, 2, 30), *std::make_unique<TUnixTime>()));
    const TSystemTime now = LocalNow();
    EXPECT_GE(now.Year, 2024);
    EXPECT_TRUE(IsValidTime(now));
}

#ifndef _WIN32
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

// Around a change of offset, a local time converts as the C library's mktime converts it:
// one the change skips moves forward by the change; one it repeats is its later moment
// (mktime answers that when told it is not summer time; left to guess, it answers whatever
// its previous call makes it guess).
TEST(Clock, LocalTimesConvertAsTheCLibraryDoesAcrossChangesOfOffset) {
    struct TCase {
        const char* Zone;
        int Year, Month, Day, Hour, Minute;
        int SummerTime; // mktime's tm_isdst: -1 to let it decide, 0 for the later moment
    } cases[] = {
        {"America/New_York", 2026, 3, 8, 1, 59, -1},  // the minute before the gap
        {"America/New_York", 2026, 3, 8, 2, 0, -1},   // skipped
        {"America/New_York", 2026, 3, 8, 2, 30, -1},  // skipped
        {"America/New_York", 2026, 3, 8, 3, 0, -1},   // the first minute after it
        {"America/New_York", 2026, 11, 1, 0, 59, -1}, // before the repeated hour
        {"America/New_York", 2026, 11, 1, 1, 30, 0},  // repeated
        {"America/New_York", 2026, 11, 1, 2, 0, -1},  // after it
        {"Europe/London", 2026, 3, 29, 1, 30, -1},
        {"Europe/London", 2026, 10, 25, 1, 30, 0},
        {"Europe/Berlin", 2026, 3, 29, 2, 30, -1},
        {"Europe/Berlin", 2026, 10, 25, 2, 30, 0},
        {"Australia/Lord_Howe", 2026, 10, 4, 2, 15, -1}, // a change of half an hour
        {"Australia/Lord_Howe", 2026, 4, 5, 1, 45, 0},
        {"Australia/Sydney", 2026, 10, 4, 2, 30, -1},
        {"Pacific/Apia", 2011, 12, 30, 12, 0, -1},         // a whole day skipped
        {"EST5EDT,M3.2.0,M11.1.0", 2026, 3, 8, 2, 30, -1}, // a rule, no zone file
        {"UTC", 2026, 3, 8, 2, 30, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Zone) + " " + std::to_string(c.Month) + "/" +
                     std::to_string(c.Day) + " " + std::to_string(c.Hour) + ":" +
                     std::to_string(c.Minute));
        TZone zone(c.Zone);
        struct tm tm = {};
        tm.tm_year = c.Year - 1900, tm.tm_mon = c.Month - 1, tm.tm_mday = c.Day;
        tm.tm_hour = c.Hour, tm.tm_min = c.Minute, tm.tm_isdst = c.SummerTime;
        const time_t expected = std::mktime(&tm);
        TUnixTime t;
        ASSERT_TRUE(LocalToUnix(Make(c.Year, c.Month, c.Day, c.Hour, c.Minute), t));
        EXPECT_EQ(t.Seconds, static_cast<int64_t>(expected));
    }
}

TEST(Clock, SleepWaitsAtLeastAsLongOnTheMonotonicClock) {
    uint64_t before = MonotonicMs();
    Sleep(30);
    EXPECT_GE(MonotonicMs() - before, 30u);
}
#endif
