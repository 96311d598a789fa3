#include "DateUtils.h"

#include <windows.h>

#include <cmath>

#include "SysUtils.h"

namespace {

const int kDaysInMonth[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                 {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Days from 0001-01-01 to 1899-12-30.
constexpr long long kDateDelta = 693594;

}  // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0) && ((year % 100 != 0) || (year % 400 == 0));
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12)
        return false;
    const int* days = kDaysInMonth[IsLeapYear(year) ? 1 : 0];
    if (day < 1 || day > days[month - 1])
        return false;
    long long d = day;
    for (int m = 1; m < month; ++m)
        d += days[m - 1];
    long long y = year - 1;
    d += y * 365 + y / 4 - y / 100 + y / 400;
    result = static_cast<double>(d - kDateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
        msec > 999)
        return false;
    result = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r))
        throw Exception("Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime r;
    if (!TryEncodeTime(hour, min, sec, msec, r))
        throw Exception("Invalid argument to time encode");
    return r;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
    TDateTime date = EncodeDate(st.wYear, st.wMonth, st.wDay);
    TDateTime time = EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    // Before 1899-12-30 the day count is negative and the time counts forwards.
    return date >= 0 ? date + time : date - time;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min,
                    int& sec, int& msec) {
    // Whole milliseconds since 0001-01-01, with the time of day taken as the
    // absolute fraction (the negative-day convention above).
    double whole = std::trunc(value);
    double frac = std::fabs(value - whole);
    long long ms = std::llround(frac * MSecsPerDay);
    // kDateDelta counts 0001-01-01 as day 1; the civil conversion below wants 0.
    long long days = static_cast<long long>(whole) + kDateDelta - 1;
    if (ms >= 86400000LL) {
        ms -= 86400000LL;
        days += 1;
    }
    // Civil date from a day count starting at 0001-01-01 (day 0).
    long long n = days;
    long long y400 = n / 146097;
    n %= 146097;
    long long y100 = n / 36524;
    if (y100 == 4)
        y100 = 3;
    n -= y100 * 36524;
    long long y4 = n / 1461;
    n %= 1461;
    long long y1 = n / 365;
    if (y1 == 4)
        y1 = 3;
    n -= y1 * 365;
    year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    const int* dim = kDaysInMonth[IsLeapYear(year) ? 1 : 0];
    month = 1;
    while (n >= dim[month - 1]) {
        n -= dim[month - 1];
        ++month;
    }
    day = static_cast<int>(n) + 1;
    hour = static_cast<int>(ms / 3600000);
    min = static_cast<int>(ms / 60000 % 60);
    sec = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

void DateTimeToSystemTime(TDateTime value, SYSTEMTIME& st) {
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    st = SYSTEMTIME{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    // 1899-12-30 (day 0) was a Saturday.
    long long dow = (static_cast<long long>(std::trunc(value)) % 7 + 7 + 6) % 7;
    st.wDayOfWeek = static_cast<WORD>(dow);
}

TDateTime Now() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}

std::string DateToStr(TDateTime value) {
    SYSTEMTIME st;
    DateTimeToSystemTime(value, st);
    char buffer[256];
    int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer,
                           sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
}

std::string TimeToStr(TDateTime value) {
    SYSTEMTIME st;
    DateTimeToSystemTime(value, st);
    char buffer[256];
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
}

std::string DateTimeToStr(TDateTime value) {
    double frac = value - std::trunc(value);
    if (frac == 0.0)
        return DateToStr(value);
    return DateToStr(value) + " " + TimeToStr(value);
}
