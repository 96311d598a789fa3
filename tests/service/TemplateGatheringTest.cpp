#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>

#include "service/AlertTemplates.h"

// Field gathering from the running system.

namespace {

bool EnglishUS() {
    char buffer[64];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, buffer, sizeof buffer);
    return n > 0 && std::string(buffer, n - 1) == "h:mm:ss tt";
}

const std::regex kDateTime(R"(\d{1,2}/\d{1,2}/\d{4}( \d{1,2}:\d\d:\d\d [AP]M)?)");

}  // namespace

TEST(GatherTarnwickTemplateFields, ComputerTimeAndBootTime) {
    if (!EnglishUS())
        GTEST_SKIP() << "needs en-US formats (LC_ALL=C under Wine)";
    TTarnwickTemplateFields f;
    GatherTarnwickTemplateFields(f);
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    // Wine answers the workgroup query, so the name comes qualified.
    EXPECT_EQ(f.ComputerName, GatherComputerName());
    const std::string suffix = "\\" + std::string(name, size);
    ASSERT_GT(f.ComputerName.size(), suffix.size());
    EXPECT_EQ(f.ComputerName.substr(f.ComputerName.size() - suffix.size()), suffix);
    EXPECT_TRUE(std::regex_match(f.CurrentTime, kDateTime)) << f.CurrentTime;
    EXPECT_TRUE(std::regex_match(f.BootTime, kDateTime)) << f.BootTime;
}
