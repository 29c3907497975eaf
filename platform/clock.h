#pragma once
// Calendar time in the local zone, and the framework's date-time numbers (days since
// 30 December 1899, the time of day as the fraction). The calendar rules are portable
// (clock.cpp); the clock and the zone each side implements.
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace plat {

struct TSystemTime {
    int Year = 0, Month = 0, Day = 0; // Month 1..12
    int Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

// A calendar time that names a moment: every field in its range, a day the month has.
bool IsValidTime(const TSystemTime& t);
TSystemTime LocalNow();
bool UnixToLocal(TUnixTime t, TSystemTime& local);
bool LocalToUnix(const TSystemTime& local, TUnixTime& t); // local calendar time to UTC
double EncodeDateTime(const TSystemTime& t);
std::string ShortMonthName(int month); // "Jan" .. "Dec"
// "mmm dd yyyy hh:nn:ss" of a local time, as log lines carry it.
std::string FormatLogTime(const TSystemTime& t);
void Sleep(unsigned milliseconds); // blocks the thread
uint64_t MonotonicMs();            // a clock for time-outs and timers

} // namespace plat
