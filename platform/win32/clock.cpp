// Calendar time in the local zone as Windows converts it: file times turned local and back by
// the zone's current bias (FileTimeToLocalFileTime, LocalFileTimeToFileTime), which is what
// the system's own file stamps and listings show.
#include "platform/clock.h"

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_files.h"

namespace plat {

namespace {

TSystemTime FromSystemTime(const SYSTEMTIME& s) {
    TSystemTime t;
    t.Year = s.wYear;
    t.Month = s.wMonth;
    t.Day = s.wDay;
    t.Hour = s.wHour;
    t.Minute = s.wMinute;
    t.Second = s.wSecond;
    t.Milliseconds = s.wMilliseconds;
    return t;
}

} // namespace

TSystemTime LocalNow() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return FromSystemTime(now);
}

bool UnixToLocal(TUnixTime t, TSystemTime& local) {
    FILETIME utc, zoned;
    SYSTEMTIME s;
    if (!win32::ToFileTime(t, utc) || !::FileTimeToLocalFileTime(&utc, &zoned) ||
        !::FileTimeToSystemTime(&zoned, &s))
        return false;
    local = FromSystemTime(s);
    return true;
}

bool LocalToUnix(const TSystemTime& local, TUnixTime& t) {
    if (!IsValidTime(local) || local.Year < 1601) return false;
    SYSTEMTIME s{};
    s.wYear = static_cast<WORD>(local.Year);
    s.wMonth = static_cast<WORD>(local.Month);
    s.wDay = static_cast<WORD>(local.Day);
    s.wHour = static_cast<WORD>(local.Hour);
    s.wMinute = static_cast<WORD>(local.Minute);
    s.wSecond = static_cast<WORD>(local.Second);
    s.wMilliseconds = static_cast<WORD>(local.Milliseconds);
    FILETIME zoned, utc;
    if (!::SystemTimeToFileTime(&s, &zoned) || !::LocalFileTimeToFileTime(&zoned, &utc))
        return false;
    t = win32::FromFileTime(utc);
    return true;
}

void Sleep(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

uint64_t MonotonicMs() {
    return ::GetTickCount64();
}

} // namespace plat
