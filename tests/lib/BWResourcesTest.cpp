#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "lib/BWResources.h"
#include "lib/BWStringUtils.h"
#include "rtl/SysUtils.h"

// The resources come from BWResourcesTest.rc, linked into this program.

TEST(GetResourceString, ReturnsEveryByteIncludingZeros) {
    EXPECT_EQ(GetResourceString("ZEROENDED", "TEXT"), std::string("ab\0cd\0", 6));
    EXPECT_EQ(GetResourceString("HIGHBYTES", "#10"), std::string("\x80\xE9\xFF\r\n", 5));
}

TEST(GetResourceString, FindsNamesWhateverTheirCase) {
    EXPECT_EQ(GetResourceString("ZeroEnded", "text").size(), 6u);
}

TEST(GetResourceData, ReportsTheSizeAndAStablePointer) {
    int size = -1;
    const void* first = GetResourceData("ZEROENDED", "TEXT", size);
    EXPECT_EQ(size, 6);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(first, "ab\0cd\0", 6), 0);
    int again = 0;
    EXPECT_EQ(GetResourceData("ZEROENDED", "TEXT", again), first);
}

TEST(GetResourceData, AMissingResourceRaisesTheSystemsTextAndLeavesTheSize) {
    int size = 42;
    try {
        GetResourceData("NOSUCHRESOURCE", "TEXT", size);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        // Windows reports 1814 (name not found) here; the text is the
        // system's, trimmed of its full stop.
        EXPECT_EQ(e.Message(), SystemErrorText(ERROR_RESOURCE_NAME_NOT_FOUND));
        EXPECT_FALSE(e.Message().empty());
    }
    EXPECT_EQ(size, 42);
    EXPECT_THROW(GetResourceString("ZEROENDED", "NOSUCHTYPE"), Exception);
}

TEST(GetResourceData, AnEmptyResourceIsAnErrorAfterTheSizeIsSet) {
    int size = 42;
    try {
        GetResourceData("EMPTYTEXT", "TEXT", size);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        // No error code is set for an empty resource; the text must not be
        // the one for success.
        EXPECT_NE(e.Message(), SystemErrorText(ERROR_SUCCESS));
        EXPECT_FALSE(e.Message().empty());
    }
    EXPECT_EQ(size, 0);
    EXPECT_THROW(GetResourceString("EMPTYTEXT", "TEXT"), Exception);
}
