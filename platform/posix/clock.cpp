// Calendar time in the local zone through the C library.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

#include "platform/posix/eintr.h"

namespace plat {

namespace {

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
    if (!IsValidTime(local)) return false;
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
