#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/SysUtils.h"

TEST(SysUtils, OSErrorCarriesCodeAndSystemText) {
    try {
        RaiseLastOSError(ERROR_FILE_NOT_FOUND);
        FAIL() << "no exception";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, 2u);
        const std::string prefix = "System Error.  Code: 2.\r\n";
        ASSERT_EQ(e.Message().substr(0, prefix.size()), prefix);
        EXPECT_GT(e.Message().size(), prefix.size());
        // The system's text loses its trailing line break.
        EXPECT_NE(e.Message().back(), '\n');
    }
}

TEST(SysUtils, OSErrorWithoutCodeHasItsOwnText) {
    SetLastError(0);
    try {
        RaiseLastOSError();
        FAIL() << "no exception";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Message(), "A call to an OS function failed");
    }
}

TEST(SysUtils, LowerCaseChangesOnlyAsciiLetters) {
    EXPECT_EQ(LowerCaseAZ("C:\\PROGRAM Files\\\xC4PP.EXE"), "c:\\program files\\\xC4pp.exe");
}

TEST(SysUtils, FormatAndTrim) {
    EXPECT_EQ(Format("[%d] %s", -3, "x"), "[-3] x");
    EXPECT_EQ(Trim("  \t a b \r\n"), "a b");
    EXPECT_EQ(Trim(" \r\n"), "");
}
