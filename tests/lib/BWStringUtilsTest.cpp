#include <gtest/gtest.h>
#include <windows.h>

#include "lib/BWStringUtils.h"
#include "rtl/SysUtils.h"

namespace {

std::string LocaleValue(LCTYPE type) {
    char buffer[64];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, n - 1) : std::string();
}

// The runner sets LC_ALL=C, which Wine maps to en-US: "." and ",".
bool FullStopAndComma() {
    return LocaleValue(LOCALE_SDECIMAL) == "." && LocaleValue(LOCALE_STHOUSAND) == ",";
}

}  // namespace

TEST(FormatByteSize, WorkedExamples) {
    if (!FullStopAndComma())
        GTEST_SKIP() << "needs a locale with '.' and ',' as separators (en-US; LC_ALL=C under Wine)";
    struct Case {
        std::uint64_t count;
        const char* text;
    } cases[] = {
        {1, "1.00B"},          {10, "10.0B"},         {512, "512B"},
        {1000, "1,000B"},      {1023, "1,023B"},      {1024, "1.00K"},
        {1152, "1.13K"},       {1536, "1.50K"},       {102400, "100K"},
        {1048575, "1,024K"},   {1048576, "1.00M"},    {1073741824, "1.00G"},
        {4294967295u, "4.00G"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatByteSize(c.count), c.text) << c.count;
}

TEST(FormatByteSize, MaskIsChosenBeforeRounding) {
    if (!FullStopAndComma())
        GTEST_SKIP() << "needs a locale with '.' and ',' as separators";
    EXPECT_EQ(FormatByteSize(10239), "10.00K");   // 9.999K
    EXPECT_EQ(FormatByteSize(102399), "100.0K");  // 99.999K
    EXPECT_EQ(FormatByteSize(99), "99.0B");
    EXPECT_EQ(FormatByteSize(9), "9.00B");
}

TEST(FormatByteSize, ExactHalvesRoundAwayFromZero) {
    if (!FullStopAndComma())
        GTEST_SKIP() << "needs a locale with '.' and ',' as separators";
    // 1.125K and 1.375K are exact halves at two decimals; a round-half-even
    // rule would give 1.12K.
    EXPECT_EQ(FormatByteSize(1152), "1.13K");
    EXPECT_EQ(FormatByteSize(1408), "1.38K");
    // 10.25K -> 10.3K at one decimal; 100.5K -> 101K at none.
    EXPECT_EQ(FormatByteSize(10496), "10.3K");
    EXPECT_EQ(FormatByteSize(102912), "101K");
}

TEST(FormatByteSize, ZeroHasABlankAndNothingElseDoes) {
    EXPECT_EQ(FormatByteSize(0), "0 B");
    for (std::uint64_t count : {1ull, 1023ull, 1024ull, 5000000ull, 4294967295ull})
        EXPECT_EQ(FormatByteSize(count).find(' '), std::string::npos) << count;
}

TEST(FormatByteSize, CountsBeyond32BitsKeepTheirSize) {
    if (!FullStopAndComma())
        GTEST_SKIP() << "needs a locale with '.' and ',' as separators";
    // 64-bit memory counters: 5 GiB must not come out as 1 GiB.
    EXPECT_EQ(FormatByteSize(5ull << 30), "5.00G");
    EXPECT_EQ(FormatByteSize(1ull << 40), "1.00T");
    EXPECT_EQ(FormatByteSize(1ull << 50), "1,024T");
}

TEST(FormatGrouped, GroupsThousandsWithoutDecimals) {
    if (!FullStopAndComma())
        GTEST_SKIP() << "needs a locale with '.' and ',' as separators";
    EXPECT_EQ(FormatGrouped(1234567, 0), "1,234,567");
    EXPECT_EQ(FormatGrouped(0, 0), "0");
    EXPECT_EQ(FormatGrouped(999, 0), "999");
    EXPECT_EQ(FormatGrouped(4294967295.0L, 0), "4,294,967,295");
    EXPECT_EQ(FormatGrouped(1000.5L, 2), "1,000.50");
    // An empty separator groups nothing (the user's setting, for a moment:
    // the suite's other programs read it too).
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, ""));
    const std::string ungrouped = FormatGrouped(1000, 0);
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, ",");
    EXPECT_EQ(ungrouped, "1000");
}

TEST(SystemErrorText, IsTheSystemsTextWithoutTrailingStopsAndBlanks) {
    for (unsigned long code : {2ul, 5ul, 1066ul}) {
        std::string text = SystemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        char last = text.back();
        EXPECT_TRUE(last != '.' && last != ' ' && last != '\r' && last != '\n') << text;
        // The same words as the toolkit's text for the code.
        EXPECT_EQ(SysErrorMessage(code).compare(0, text.size(), text), 0) << text;
        EXPECT_LE(text.size(), 256u);
    }
    EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "");
}
