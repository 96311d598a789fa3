#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "service/ConsoleControlHandler.h"

namespace {

// Whether the routine is in the system's handler list: removing a routine
// that is not installed fails. When it was there it is put back.
bool RoutineInstalled() {
    if (!SetConsoleCtrlHandler(&TConsoleControlHandler::ConsoleHandlerRoutine, FALSE))
        return false;
    SetConsoleCtrlHandler(&TConsoleControlHandler::ConsoleHandlerRoutine, TRUE);
    return true;
}

}  // namespace

TEST(ConsoleControlHandler, ReferenceCountKeepsOneInstanceInstalled) {
    ASSERT_EQ(ConsoleControlHandlerRefCount(), 0);
    EXPECT_FALSE(RoutineInstalled());

    TConsoleControlHandler* first = AcquireConsoleControlHandler();
    TConsoleControlHandler* second = AcquireConsoleControlHandler();
    EXPECT_EQ(first, second);
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 2);
    EXPECT_TRUE(RoutineInstalled());

    ReleaseConsoleControlHandler();
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 1);
    EXPECT_TRUE(RoutineInstalled());

    ReleaseConsoleControlHandler();
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 0);
    EXPECT_FALSE(RoutineInstalled());

    // A release without a reference does nothing; the next acquire starts
    // afresh at 1.
    ReleaseConsoleControlHandler();
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 0);
    AcquireConsoleControlHandler();
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 1);
    ReleaseConsoleControlHandler();
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 0);
}

TEST(ConsoleControlHandler, DispatchesLogoffAndShutdownOnlyAndNeverClaimsTheEvent) {
    TConsoleControlHandler* handler = AcquireConsoleControlHandler();
    int logoffs = 0, shutdowns = 0;
    TObject* sender = nullptr;
    handler->SetOnLogoff([&](TObject* s) { ++logoffs; sender = s; });
    handler->SetOnShutdown([&](TObject* s) { ++shutdowns; sender = s; });

    EXPECT_FALSE(handler->HandleControl(CTRL_SHUTDOWN_EVENT));
    EXPECT_EQ(shutdowns, 1);
    EXPECT_EQ(sender, handler);
    EXPECT_FALSE(handler->HandleControl(CTRL_LOGOFF_EVENT));
    EXPECT_EQ(logoffs, 1);
    for (unsigned long other : std::initializer_list<unsigned long>{CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, 3, 7})
        EXPECT_FALSE(handler->HandleControl(other));
    EXPECT_EQ(logoffs + shutdowns, 2);

    // Through the routine the system calls: same dispatch, FALSE returned.
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT), FALSE);
    EXPECT_EQ(shutdowns, 2);

    // Cleared events: nothing runs (a control event after the monitor's loop).
    handler->SetOnShutdown(nullptr);
    handler->SetOnLogoff(nullptr);
    EXPECT_FALSE(handler->OnShutdown());
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT), FALSE);
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_LOGOFF_EVENT), FALSE);
    EXPECT_EQ(logoffs + shutdowns, 3);

    ReleaseConsoleControlHandler();
    // No instance: the routine reports the event as not handled.
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT), FALSE);
}

TEST(ConsoleControlHandler, HandlerExceptionPassesHandleControlButStopsAtTheRoutine) {
    TConsoleControlHandler* handler = AcquireConsoleControlHandler();
    handler->SetOnShutdown([](TObject*) { throw Exception("handler failed"); });
    EXPECT_THROW(handler->HandleControl(CTRL_SHUTDOWN_EVENT), Exception);
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT), FALSE);
    // The lock was given back both times: clearing does not hang.
    handler->SetOnShutdown(nullptr);
    ReleaseConsoleControlHandler();
}

TEST(ConsoleControlHandler, HandlerMayClearItsOwnEventWhileRunning) {
    TConsoleControlHandler* handler = AcquireConsoleControlHandler();
    int calls = 0;
    handler->SetOnShutdown([&](TObject* s) {
        ++calls;
        static_cast<TConsoleControlHandler*>(s)->SetOnShutdown(nullptr);
    });
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT), FALSE);
    EXPECT_EQ(TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT), FALSE);
    EXPECT_EQ(calls, 1);
    ReleaseConsoleControlHandler();
}

// The system's thread calls the routine while the owner acquires, hooks and
// releases over and over. Each cycle's handler checks that its cycle is still
// live: once the last release (or the clearing) has returned, no call may run
// it again. Without the lock a routine that had read the instance just before
// the release would run the handler of a freed owner. Each cycle waits until
// the routine has run its handler once, so the release always meets a caller
// that is busy calling.
TEST(ConsoleControlHandler, RoutineRacingReleaseNeverReachesAReleasedInstance) {
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::atomic<long> lateCalls{0};
    std::atomic<int> liveCycle{-1};
    HANDLE called = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    HANDLE caller = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* flag = static_cast<std::atomic<bool>*>(p);
            while (!flag->load()) {
                TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT);
                TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_C_EVENT);
            }
            return 0;
        },
        &stop, 0, nullptr);
    ASSERT_NE(caller, nullptr);

    const int kCycles = 400;
    int cycles = 0;
    for (; cycles < kCycles; ++cycles) {
        TConsoleControlHandler* handler = AcquireConsoleControlHandler();
        liveCycle = cycles;
        const int mine = cycles;
        ResetEvent(called);
        handler->SetOnShutdown([&, mine](TObject*) {
            ++calls;
            if (liveCycle.load() != mine)
                ++lateCalls;
            SetEvent(called);
        });
        if (WaitForSingleObject(called, 10000) != WAIT_OBJECT_0) {
            handler->SetOnShutdown(nullptr);
            ReleaseConsoleControlHandler();
            break;
        }
        if (cycles % 3 == 0) {
            // A second user comes and goes; the instance must survive it.
            AcquireConsoleControlHandler();
            ReleaseConsoleControlHandler();
        }
        if (cycles % 2 == 0) {
            handler->SetOnShutdown(nullptr);  // the monitor clears before it releases
            liveCycle = -1;                   // after clearing, the old handler may not run
        }
        ReleaseConsoleControlHandler();
        liveCycle = -1;  // after the last release, nothing may run
    }
    stop = true;
    WaitForSingleObject(caller, INFINITE);
    CloseHandle(caller);
    CloseHandle(called);

    EXPECT_EQ(cycles, kCycles) << "the routine stopped reaching the handler";
    EXPECT_EQ(lateCalls.load(), 0);
    EXPECT_GE(calls.load(), kCycles);
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 0);
}
