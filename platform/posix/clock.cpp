// Calendar time in the local zone through the C library, and the framework's date-time
// numbers. Month names are fixed English abbreviations: log lines must read the same
// whatever the user's locale.
#include "platform/clock.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/exception.h"
#include "platform/posix/eintr.h"

namespace plat {

namespace {

const char* const MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool IsValid(const TSystemTime& t) {
    return t.Year >= 1 && t.Year <= 9999 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 &&
           t.Day <= DaysInMonth(t.Year, t.Month) && t.Hour >= 0 && t.Hour <= 23 && t.Minute >= 0 &&
           t.Minute <= 59 && t.Second >= 0 && t.Second <= 59 && t.Milliseconds >= 0 &&
           t.Milliseconds <= 999;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

TSystemTime FromTm(const struct tm& tm, int milliseconds) {
    TSystemTime t;
    t.Year = tm.tm_year + 1900;
    t.Month = tm.tm_mon + 1;
    t.Day = tm.tm_mday;
    t.Hour = tm.tm_hour;
    t.Minute = tm.tm_min;
    t.Second = tm.tm_sec > 59 ? 59 : tm.tm_sec; // a leap second reads as the one before
    t.Milliseconds = milliseconds;
    return t;
}

// The zone's offset from universal time at a moment, in seconds.
bool Offset(time_t moment, long& offset) {
    struct tm zone;
    if (!::localtime_r(&moment, &zone)) return false;
    offset = zone.tm_gmtoff;
    return true;
}

} // namespace

TSystemTime LocalNow() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    TSystemTime t;
    UnixToLocal(TUnixTime{now.tv_sec, static_cast<int32_t>(now.tv_nsec)}, t);
    return t;
}

bool UnixToLocal(TUnixTime t, TSystemTime& local) {
    time_t seconds = static_cast<time_t>(t.Seconds);
    struct tm tm;
    if (!::localtime_r(&seconds, &tm)) return false;
    int ms = t.Nanoseconds / 1000000;
    local = FromTm(tm, ms < 0 ? 0 : ms > 999 ? 999 : ms);
    return true;
}

bool LocalToUnix(const TSystemTime& local, TUnixTime& t) {
    if (!IsValid(local)) return false;
    struct tm tm = {};
    tm.tm_year = local.Year - 1900;
    tm.tm_mon = local.Month - 1;
    tm.tm_mday = local.Day;
    tm.tm_hour = local.Hour;
    tm.tm_min = local.Minute;
    tm.tm_sec = local.Second;
    // Not mktime: it looks at the zone file again on every call (one per unpacked file).
    // The offsets in effect a day before and a day after: around a change of offset they
    // differ, and each names a moment that may or may not show that offset. A time the
    // change skips is read with the offset before it, as mktime reads it, moving it forward;
    // a time it repeats is the later of its two moments.
    const time_t asUtc = ::timegm(&tm);
    long before = 0, after = 0;
    if (!Offset(asUtc - 86400, before) || !Offset(asUtc + 86400, after)) return false;
    time_t seconds = asUtc - before;
    long found = 0;
    if (after != before && Offset(asUtc - after, found) && found == after) seconds = asUtc - after;
    t.Seconds = static_cast<int64_t>(seconds);
    t.Nanoseconds = local.Milliseconds * 1000000;
    return true;
}

// As the framework encodes it: before the epoch day the time of day counts away from zero.
double EncodeDateTime(const TSystemTime& t) {
    if (!IsValid(t)) throw EConvertError("Invalid argument to date encode");
    const int64_t epoch = DaysFromCivil(1899, 12, 30);
    double days = static_cast<double>(
        DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day)) -
        epoch);
    double time = ((t.Hour * 60.0 + t.Minute) * 60.0 + t.Second) * 1000.0 + t.Milliseconds;
    time /= 86400000.0;
    return days < 0 ? days - time : days + time;
}

std::string ShortMonthName(int month) {
    return month >= 1 && month <= 12 ? MonthNames[month - 1] : std::string();
}

std::string FormatLogTime(const TSystemTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s %02d %04d %02d:%02d:%02d",
                  ShortMonthName(t.Month).c_str(), t.Day, t.Year, t.Hour, t.Minute, t.Second);
    return buffer;
}

void Sleep(unsigned milliseconds) {
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    posix::RetryInterrupted([&] { return ::nanosleep(&left, &left); });
}

uint64_t MonotonicMs() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace plat
