// The toolkit's thread class: one operating-system thread per object, running
// the virtual Execute once.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <utility>

#include "Classes.h"
#include "Handles.h"

// The thread could not be created ("Thread creation error: %s"), or an
// operation was asked of a thread in a state that does not allow it.
class EThread : public Exception {
public:
    using Exception::Exception;
};

// A thread object. The operating-system thread is always created suspended by
// the constructor: C++ constructors do not dispatch virtually, so the thread
// must not reach Execute before the most-derived constructor has finished.
//
// Creating a thread that runs at once:
//   auto* t = NewThread<TMyThread>(/*CreateSuspended*/ false, ...);
// NewThread constructs the object, then calls AfterConstruction, which resumes
// the thread unless it was created suspended. A derived constructor may
// instead end with `if (!CreateSuspended) Resume();` (the most-derived class
// only). A thread created suspended is started with Resume or Start.
//
// When Execute returns or raises, the thread keeps the exception that escaped
// (FatalException; nothing crosses the thread's entry), runs DoTerminate,
// marks itself Finished and, with FreeOnTerminate set, deletes the object on
// its own thread. Its exit code is ReturnValue.
//
// Destroying the object of a thread that is still running terminates it and
// waits for it. Since a derived class's members are gone before the base
// destructor runs, a derived class whose Execute uses its own members must
// have the thread ended (Terminate, WaitFor) before they are freed. A thread
// that was never started is ended without running Execute or DoTerminate.
class TThread : public TObject {
public:
    explicit TThread(bool CreateSuspended);
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Resumes the thread unless it was created suspended.
    void AfterConstruction();

    // Lets a suspended thread run. Without effect on a running or ended
    // thread; callable from any thread.
    void Resume();
    // The same as Resume, for a thread created suspended.
    void Start() { Resume(); }
    // Asks the thread to end: only sets Terminated, which Execute is expected
    // to test. Callable from any thread.
    void Terminate() { FTerminated.store(true); }
    // Waits for the thread to end and returns its exit code (ReturnValue).
    // On the main thread, queued Synchronize calls run meanwhile. Not for a
    // FreeOnTerminate thread (the object may be gone), nor for a thread that
    // was never started (it would wait for ever).
    unsigned long WaitFor();

    bool Terminated() const { return FTerminated.load(); }
    bool Suspended() const { return FSuspended.load(); }
    // True once Execute and DoTerminate are over.
    bool Finished() const { return FFinished.load(); }
    void* Handle() const { return FHandle.Get(); }
    unsigned long ThreadID() const { return FThreadID; }
    int ReturnValue() const { return FReturnValue; }
    // The exception that escaped Execute (or DoTerminate), or none.
    std::exception_ptr FatalException() const { return FFatalException; }

    bool FreeOnTerminate() const { return FFreeOnTerminate.load(); }
    void SetFreeOnTerminate(bool value) { FFreeOnTerminate.store(value); }

    // Called with the thread as Sender after Execute, on the main thread
    // (through Synchronize).
    std::function<void(TObject* Sender)> OnTerminate;

    // Runs Method on the main thread and waits for it; an exception it raises
    // is raised again in the calling thread. Called on the main thread, it
    // runs Method at once. The main thread must call CheckSynchronize (its
    // message loop does when WakeMainThread is hooked, WaitFor does), or the
    // caller waits for ever.
    static void Synchronize(const std::function<void()>& Method);

protected:
    virtual void Execute() = 0;
    // Runs OnTerminate through Synchronize when it is assigned.
    virtual void DoTerminate();
    void SetReturnValue(int value) { FReturnValue = value; }

private:
    static unsigned long __stdcall ThreadProc(void* param);

    TKernelHandle FHandle;
    unsigned long FThreadID = 0;
    bool FCreateSuspended;
    int FReturnValue = 0;
    std::exception_ptr FFatalException;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FSuspended{true};
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FAbandoned{false};
    std::atomic<bool> FFreeOnTerminate{false};
};

// Constructs a thread object and completes its construction (AfterConstruction).
template <class T, class... Args>
T* NewThread(Args&&... args) {
    T* thread = new T(std::forward<Args>(args)...);
    thread->AfterConstruction();
    return thread;
}

// Id of the program's main thread (the thread that started the program).
unsigned long MainThreadID();

// Runs the Synchronize calls queued by other threads. Called on the main
// thread; waits up to Timeout ms for one to arrive. True when any ran.
bool CheckSynchronize(unsigned long Timeout = 0);

// Waits for a thread to end through its handle (a duplicate, when the thread
// frees its own object), like WaitFor but also for a FreeOnTerminate thread.
// On the main thread, queued Synchronize calls run meanwhile, and so do the
// messages other threads send to this thread's windows, so that a thread that
// reports to a window by sent messages can reach its end. Posted messages
// (WM_QUIT among them) stay queued.
void WaitForThreadEnd(void* Handle);

// Called (on the queuing thread) whenever a Synchronize call is queued, so
// that a message loop can wake up and call CheckSynchronize. Empty = none.
// Set it on the main thread before any thread may synchronize.
extern std::function<void()> WakeMainThread;
