#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "rtl/Thread.h"
#include "tests/rtl/HandleCount.h"

namespace {

// Runs a function as its Execute; records the thread it ran on.
class TFuncThread : public TThread {
public:
    TFuncThread(bool createSuspended, std::function<void(TFuncThread&)> body)
        : TThread(createSuspended), Body(std::move(body)) {}
    ~TFuncThread() override {
        // The body lives in this class, so the thread must be over before it
        // goes (see the base class's destructor contract).
        if (Handle() != nullptr && !Finished() && GetCurrentThreadId() != ThreadID()) {
            Terminate();
            if (!Suspended())
                WaitFor();
        }
    }
    void SetResult(int value) { SetReturnValue(value); }

    std::function<void(TFuncThread&)> Body;
    std::atomic<bool> Ran{false};
    std::atomic<unsigned long> RanOn{0};

protected:
    void Execute() override {
        Ran = true;
        RanOn = GetCurrentThreadId();
        if (Body)
            Body(*this);
    }
};

std::string MessageOf(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "<non-standard>";
    }
}

}  // namespace

TEST(Thread, RunsAtOnceAndWaitForGivesTheReturnValue) {
    auto* t = NewThread<TFuncThread>(false, [](TFuncThread& self) { self.SetResult(42); });
    EXPECT_FALSE(t->Suspended());
    EXPECT_EQ(t->WaitFor(), 42u);
    EXPECT_TRUE(t->Finished());
    EXPECT_TRUE(t->Ran);
    EXPECT_EQ(t->ReturnValue(), 42);
    EXPECT_EQ(t->RanOn.load(), t->ThreadID());
    EXPECT_EQ(GetThreadId(static_cast<HANDLE>(t->Handle())), t->ThreadID());
    EXPECT_NE(t->ThreadID(), GetCurrentThreadId());
    EXPECT_FALSE(t->FatalException());
    delete t;
}

TEST(Thread, CreatedSuspendedDoesNotRunUntilResumed) {
    auto* t = NewThread<TFuncThread>(true, [](TFuncThread& self) { self.SetResult(7); });
    EXPECT_TRUE(t->Suspended());
    // Its suspend count is still 1: the system has not let it run.
    HANDLE h = static_cast<HANDLE>(t->Handle());
    EXPECT_EQ(SuspendThread(h), 1u);
    EXPECT_EQ(ResumeThread(h), 2u);
    EXPECT_FALSE(t->Ran);
    t->Start();
    EXPECT_FALSE(t->Suspended());
    t->Resume();  // a second resume changes nothing
    EXPECT_EQ(t->WaitFor(), 7u);
    EXPECT_TRUE(t->Ran);
    delete t;
}

TEST(Thread, TerminateOnlySetsTheFlagThatExecuteTests) {
    HANDLE looping = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto* t = NewThread<TFuncThread>(false, [looping](TFuncThread& self) {
        SetEvent(looping);
        int passes = 0;
        while (!self.Terminated()) {
            Sleep(1);
            ++passes;
        }
        self.SetResult(passes > 0 ? 1 : 2);
    });
    ASSERT_EQ(WaitForSingleObject(looping, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(t->Terminated());
    t->Terminate();
    EXPECT_TRUE(t->Terminated());
    EXPECT_NE(t->WaitFor(), 0u);
    delete t;
    CloseHandle(looping);
}

TEST(Thread, TerminatedBeforeStartSkipsExecuteButStillEnds) {
    auto* t = NewThread<TFuncThread>(true, nullptr);
    bool terminated = false;
    t->OnTerminate = [&](TObject* sender) {
        terminated = sender == t && GetCurrentThreadId() == MainThreadID();
    };
    t->Terminate();
    t->Resume();
    EXPECT_EQ(t->WaitFor(), 0u);
    EXPECT_FALSE(t->Ran);
    EXPECT_TRUE(terminated);
    delete t;
}

TEST(Thread, ExceptionEscapingExecuteIsKeptAtTheThreadEdge) {
    auto* t = NewThread<TFuncThread>(false, [](TFuncThread& self) {
        self.SetResult(3);
        throw Exception("broken");
    });
    EXPECT_EQ(t->WaitFor(), 3u);
    ASSERT_TRUE(t->FatalException());
    EXPECT_EQ(MessageOf(t->FatalException()), "broken");
    delete t;

    t = NewThread<TFuncThread>(false, [](TFuncThread&) { throw 5; });
    t->WaitFor();
    ASSERT_TRUE(t->FatalException());
    EXPECT_EQ(MessageOf(t->FatalException()), "<non-standard>");
    delete t;
}

TEST(Thread, OnTerminateRunsOnTheMainThreadAndItsExceptionIsKept) {
    auto* t = NewThread<TFuncThread>(true, nullptr);
    unsigned long calledOn = 0;
    t->OnTerminate = [&](TObject*) {
        calledOn = GetCurrentThreadId();
        throw std::runtime_error("handler failed");
    };
    t->Resume();
    t->WaitFor();  // on the main thread: runs the queued OnTerminate
    EXPECT_EQ(calledOn, MainThreadID());
    EXPECT_EQ(MessageOf(t->FatalException()), "handler failed");
    delete t;
}

TEST(Thread, SynchronizeRaisesTheMethodsExceptionInTheCaller) {
    auto* t = NewThread<TFuncThread>(false, [](TFuncThread& self) {
        try {
            TThread::Synchronize([] { throw Exception("on main"); });
        } catch (const Exception& e) {
            self.SetResult(e.Message() == "on main" ? 1 : 2);
        }
    });
    EXPECT_EQ(t->WaitFor(), 1u);
    delete t;
}

TEST(Thread, SynchronizeRunsThroughCheckSynchronizeAndWakesTheMainThread) {
    std::atomic<int> wakes{0};
    WakeMainThread = [&] { ++wakes; };
    unsigned long ranOn = 0;
    auto* t = NewThread<TFuncThread>(false, [&](TFuncThread&) {
        TThread::Synchronize([&] { ranOn = GetCurrentThreadId(); });
    });
    while (!CheckSynchronize(10000)) {
    }
    t->WaitFor();
    WakeMainThread = nullptr;
    EXPECT_EQ(ranOn, MainThreadID());
    EXPECT_EQ(wakes.load(), 1);
    delete t;
}

TEST(Thread, FreeOnTerminateDeletesTheObjectOnItsOwnThread) {
    struct TSelfFreeing : TThread {
        TSelfFreeing(HANDLE freed, std::atomic<unsigned long>& freedOn)
            : TThread(true), Freed(freed), FreedOn(freedOn) {
            SetFreeOnTerminate(true);
        }
        ~TSelfFreeing() override {
            FreedOn = GetCurrentThreadId();
            SetEvent(Freed);
        }
        void Execute() override { ExecutedOn = GetCurrentThreadId(); }
        HANDLE Freed;
        std::atomic<unsigned long>& FreedOn;
        unsigned long ExecutedOn = 0;
    };
    HANDLE freed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<unsigned long> freedOn{0};
    auto* t = NewThread<TSelfFreeing>(freed, freedOn);
    unsigned long id = t->ThreadID();
    t->Resume();  // from here on t may be gone
    ASSERT_EQ(WaitForSingleObject(freed, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(freedOn.load(), id);
    CloseHandle(freed);
}

TEST(Thread, FreeingANeverStartedThreadRunsNothing) {
    auto* t = NewThread<TFuncThread>(true, nullptr);
    bool terminated = false;
    t->OnTerminate = [&](TObject*) { terminated = true; };
    delete t;
    EXPECT_FALSE(terminated);
}

TEST(Thread, CreateAndFreeCyclesLeakNoHandles) {
    // Warm-up: the first thread creates the synchronisation queue's event.
    delete NewThread<TFuncThread>(true, nullptr);
    for (int i = 0; i < 5; ++i) {
        auto* t = NewThread<TFuncThread>(false, nullptr);
        t->WaitFor();
        delete t;
    }
    unsigned long before = CountOpenHandles();
    for (int i = 0; i < 200; ++i) {
        auto* t = NewThread<TFuncThread>(i % 2 == 0, nullptr);
        if (i % 4 == 0)
            t->Resume();
        if (!t->Suspended())
            t->WaitFor();
        delete t;
    }
    EXPECT_LE(CountOpenHandles(), before);
}
