#include <gtest/gtest.h>
#include <windows.h>

#include "lib/BWDateTimeUtils.h"

namespace {

std::string LongTimeFormat() {
    char buffer[64];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, n - 1) : std::string();
}

}  // namespace

// The runner sets LC_ALL=C, which Wine maps to en-US with the long time
// format "h:mm:ss tt": 12-hour clock with a marker, which FormatDuration keeps.
TEST(FormatDuration, UsesTheLocalesLongTimeFormatWithADayPrefix) {
    if (LongTimeFormat() != "h:mm:ss tt")
        GTEST_SKIP() << "needs the en-US long time format h:mm:ss tt (LC_ALL=C under Wine), have "
                     << LongTimeFormat();
    EXPECT_EQ(FormatDuration(1.5), "1d 12:00:00 PM");
    EXPECT_EQ(FormatDuration(0.25), "6:00:00 AM");
    EXPECT_EQ(FormatDuration(1.0), "1d 12:00:00 AM");
    EXPECT_EQ(FormatDuration(0.0), "12:00:00 AM");
    EXPECT_EQ(FormatDuration(26.0 / 24.0), "1d 2:00:00 AM");
    EXPECT_EQ(FormatDuration(3 + (13 * 3600 + 4 * 60 + 5) / 86400.0), "3d 1:04:05 PM");
}

TEST(FormatDuration, JustBelowADayIsOnlyATime) {
    if (LongTimeFormat() != "h:mm:ss tt")
        GTEST_SKIP() << "needs the en-US long time format h:mm:ss tt";
    EXPECT_EQ(FormatDuration(0.999999), "11:59:59 PM");
    // A hair below two days rounds to whole milliseconds first, so the day
    // count and the time agree.
    EXPECT_EQ(FormatDuration(2.0 - 1e-12), "2d 12:00:00 AM");
}
