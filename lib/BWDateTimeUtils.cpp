#include "BWDateTimeUtils.h"

#include <windows.h>

#include <cmath>

#include "rtl/SysUtils.h"

std::string FormatDuration(double span) {
    // Split on whole milliseconds, so that a span a hair below a full day
    // does not show the lower day count with a time rounded up to midnight.
    long long ms = std::llround(std::fabs(span) * 86400000.0);
    long long days = ms / 86400000;
    long long rest = ms % 86400000;
    SYSTEMTIME st{};
    st.wYear = 2000;  // any valid date: only the time is formatted
    st.wMonth = 1;
    st.wDay = 1;
    st.wHour = static_cast<WORD>(rest / 3600000);
    st.wMinute = static_cast<WORD>(rest / 60000 % 60);
    st.wSecond = static_cast<WORD>(rest / 1000 % 60);
    st.wMilliseconds = static_cast<WORD>(rest % 1000);
    char buffer[128];
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
    std::string time = n > 0 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
    if (days >= 1)
        return IntToStr(days) + "d " + time;
    return time;
}
