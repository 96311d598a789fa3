#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/DateUtils.h"
#include "rtl/SysUtils.h"

TEST(DateUtils, EncodesTheDayCountSince1899) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_THROW(EncodeDate(2001, 2, 29), Exception);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), Exception);
}

TEST(DateUtils, SystemTimeRoundTripIncludingDaysBefore1899) {
    SYSTEMTIME cases[] = {
        {2024, 2, 4, 29, 23, 59, 59, 999},
        {1899, 12, 6, 30, 6, 0, 0, 0},
        {1899, 12, 5, 29, 6, 0, 0, 0},
        {1601, 1, 1, 1, 0, 0, 0, 1},
    };
    for (const SYSTEMTIME& st : cases) {
        TDateTime v = SystemTimeToDateTime(st);
        SYSTEMTIME back;
        DateTimeToSystemTime(v, back);
        EXPECT_EQ(back.wYear, st.wYear);
        EXPECT_EQ(back.wMonth, st.wMonth);
        EXPECT_EQ(back.wDay, st.wDay);
        EXPECT_EQ(back.wDayOfWeek, st.wDayOfWeek) << st.wYear << "-" << st.wDay;
        EXPECT_EQ(back.wHour, st.wHour);
        EXPECT_EQ(back.wMinute, st.wMinute);
        EXPECT_EQ(back.wSecond, st.wSecond);
        EXPECT_EQ(back.wMilliseconds, st.wMilliseconds);
    }
    // Before day 0 the time of day is subtracted: 1899-12-29 06:00 is -1.25.
    EXPECT_DOUBLE_EQ(SystemTimeToDateTime(cases[2]), -1.25);
}

TEST(DateUtils, FormatsWithTheUsersLocale) {
    // The test runner fixes the locale to en-US (LC_ALL=C under Wine).
    if (GetUserDefaultLCID() != 0x0409)
        GTEST_SKIP() << "locale is not en-US";
    TDateTime v = EncodeDate(2026, 3, 7) + EncodeTime(14, 5, 9, 0);
    EXPECT_EQ(DateTimeToStr(v), "3/7/2026 2:05:09 PM");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 3, 7)), "3/7/2026");
}
