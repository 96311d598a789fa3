#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "rtl/WaitAny.h"
#include "tests/rtl/HandleCount.h"

namespace {

struct TEvents {
    std::vector<HANDLE> H;
    explicit TEvents(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            H.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }
    ~TEvents() {
        for (HANDLE h : H)
            CloseHandle(h);
    }
    TWaitAnyResult Wait(DWORD timeout, bool alertable = false) {
        return WaitForAnyObject(H.data(), H.size(), timeout, alertable);
    }
};

void CALLBACK NoApc(ULONG_PTR) {}

}  // namespace

TEST(WaitAny, NamesTheLowestSignalledIndexAcrossAllGroups) {
    for (std::size_t n : {std::size_t(5), std::size_t(64), std::size_t(65), std::size_t(300)}) {
        SCOPED_TRACE(n);
        TEvents e(n);
        EXPECT_EQ(e.Wait(20).Kind, TWaitAnyResult::wkTimeout);

        SetEvent(e.H[n - 1]);  // the last one, watched by the calling thread
        auto r = e.Wait(5000);
        EXPECT_EQ(r.Kind, TWaitAnyResult::wkSignalled);
        EXPECT_EQ(r.Index, n - 1);

        SetEvent(e.H[n / 2]);
        SetEvent(e.H[1]);
        r = e.Wait(5000);
        EXPECT_EQ(r.Kind, TWaitAnyResult::wkSignalled);
        EXPECT_EQ(r.Index, 1u);
        ResetEvent(e.H[1]);
        r = e.Wait(5000);
        EXPECT_EQ(r.Index, n / 2);
    }
}

TEST(WaitAny, WakesWhenAnObjectOfAHelperGroupIsSignalledLater) {
    TEvents e(200);
    // Index 70 lies in the second helper group, 10 in the first.
    for (std::size_t index : {std::size_t(10), std::size_t(70)}) {
        std::thread setter([&] {
            Sleep(100);
            SetEvent(e.H[index]);
        });
        auto r = e.Wait(30000);
        setter.join();
        EXPECT_EQ(r.Kind, TWaitAnyResult::wkSignalled);
        EXPECT_EQ(r.Index, index);
        ResetEvent(e.H[index]);
    }
}

TEST(WaitAny, SeesEndedProcessesAmongManyObjects) {
    // Process handles are what the monitor waits on: one that has ended is
    // named even with 150 other objects in the array.
    TEvents e(150);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    char cmd[] = "cmd.exe /c exit 3";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    e.H.insert(e.H.begin() + 5, pi.hProcess);
    auto r = e.Wait(60000);
    EXPECT_EQ(r.Kind, TWaitAnyResult::wkSignalled);
    EXPECT_EQ(r.Index, 5u);
}

TEST(WaitAny, AnAlertableWaitEndsForAQueuedApc) {
    for (std::size_t n : {std::size_t(2), std::size_t(130)}) {
        TEvents e(n);
        ASSERT_TRUE(QueueUserAPC(NoApc, GetCurrentThread(), 0));
        EXPECT_EQ(e.Wait(10000, true).Kind, TWaitAnyResult::wkIoCompletion);
    }
}

TEST(WaitAny, AnInvalidObjectFailsTheWait) {
    TEvents e(100);
    HANDLE bad = e.H[30];
    e.H[30] = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7ffc));
    auto r = e.Wait(10000);
    e.H[30] = bad;
    EXPECT_EQ(r.Kind, TWaitAnyResult::wkFailed);
    EXPECT_NE(r.Error, 0u);
}

TEST(WaitAny, LeavesNoHandleOrThreadBehind) {
    TEvents e(260);
    e.Wait(1);  // first use may allocate what the runtime keeps
    unsigned long before = CountOpenHandles();
    for (int i = 0; i < 30; ++i) {
        SetEvent(e.H[100]);
        EXPECT_EQ(e.Wait(5000).Index, 100u);
        ResetEvent(e.H[100]);
        EXPECT_EQ(e.Wait(1).Kind, TWaitAnyResult::wkTimeout);
    }
    EXPECT_EQ(CountOpenHandles(), before);
}
