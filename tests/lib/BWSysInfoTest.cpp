#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "lib/BWSysInfo.h"
#include "rtl/SysUtils.h"

TEST(BWSysInfo, ComputerNameHasTheReportedLengthOnly) {
    std::string name = "previous";
    ASSERT_TRUE(GetLocalComputerName(name));
    EXPECT_FALSE(name.empty());
    // No zeros left over from the 512-character buffer.
    EXPECT_EQ(std::strlen(name.c_str()), name.size());
    char env[256];
    DWORD n = GetEnvironmentVariableA("COMPUTERNAME", env, sizeof env);
    if (n > 0 && n < sizeof env) {
        EXPECT_EQ(LowerCaseAZ(name), LowerCaseAZ(std::string(env, n)));
    }
}

TEST(BWSysInfo, WorkgroupNameIsReadAndConverted) {
    std::string name = "previous";
    ASSERT_TRUE(GetWorkgroupName(name));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(std::strlen(name.c_str()), name.size());
    EXPECT_NE(name, "previous");
}

namespace {

struct TFakeClocks {
    bool CounterOk = true;
    bool FrequencyOk = true;
    int64_t Counter = 0;
    int64_t Frequency = 0;
    uint32_t Ticks = 0;
    int FrequencyCalls = 0;
    TDateTime Now = 46000.5;

    TBootTimeSources Sources() {
        TBootTimeSources s;
        s.QueryCounter = [this](int64_t& v) {
            v = Counter;
            return CounterOk;
        };
        s.QueryFrequency = [this](int64_t& v) {
            ++FrequencyCalls;
            v = Frequency;
            return FrequencyOk;
        };
        s.TickCount = [this] { return Ticks; };
        s.Now = [this] { return Now; };
        return s;
    }
};

}  // namespace

TEST(BWSysInfo, BootTimeFromTheCounterDropsPartsOfASecond) {
    TFakeClocks clocks;
    clocks.Frequency = 3579545;
    clocks.Counter = clocks.Frequency * 907 / 10;  // 90.7 seconds
    clocks.Ticks = 123456789;                      // must not be used
    TDateTime boot = GetBootTime(clocks.Sources());
    EXPECT_DOUBLE_EQ(boot, 46000.5 - 90.0 / 86400.0);
    EXPECT_GT(boot - (46000.5 - 90.7 / 86400.0), 0.5 / 86400.0);
}

TEST(BWSysInfo, BootTimeFallsBackToTheTickCount) {
    TFakeClocks clocks;
    clocks.CounterOk = false;
    clocks.Ticks = 5400000;  // one and a half hours
    EXPECT_DOUBLE_EQ(GetBootTime(clocks.Sources()), 46000.5 - 0.0625);
    // The frequency is asked only once the counter answered.
    EXPECT_EQ(clocks.FrequencyCalls, 0);

    TFakeClocks noFrequency;
    noFrequency.Counter = 1000;
    noFrequency.FrequencyOk = false;
    noFrequency.Ticks = 86400000u / 4;
    EXPECT_DOUBLE_EQ(GetBootTime(noFrequency.Sources()), 46000.5 - 0.25);

    // A counter that answers with a zero frequency is no counter at all.
    TFakeClocks zeroFrequency;
    zeroFrequency.Counter = 1000;
    zeroFrequency.Ticks = 0;
    EXPECT_DOUBLE_EQ(GetBootTime(zeroFrequency.Sources()), 46000.5);
}

TEST(BWSysInfo, BootTimeOfThisMachineLiesInThePast) {
    TDateTime boot = GetBootTime();
    TDateTime now = Now();
    EXPECT_LE(boot, now);
    EXPECT_GT(boot, EncodeDate(1990, 1, 1));
}
