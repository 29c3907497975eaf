// The calendar rules every side shares: valid times, the framework's date-time numbers and
// the log's time format. Month names are fixed English abbreviations: log lines must read the
// same whatever the user's locale.
#include "platform/clock.h"

#include <cstdio>

#include "platform/exception.h"

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

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

} // namespace

bool IsValidTime(const TSystemTime& t) {
    return t.Year >= 1 && t.Year <= 9999 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 &&
           t.Day <= DaysInMonth(t.Year, t.Month) && t.Hour >= 0 && t.Hour <= 23 && t.Minute >= 0 &&
           t.Minute <= 59 && t.Second >= 0 && t.Second <= 59 && t.Milliseconds >= 0 &&
           t.Milliseconds <= 999;
}

// As the framework encodes it: before the epoch day the time of day counts away from zero.
double EncodeDateTime(const TSystemTime& t) {
    if (!IsValidTime(t)) throw EConvertError("Invalid argument to date encode");
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

} // namespace plat
