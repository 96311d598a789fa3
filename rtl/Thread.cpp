#include "Thread.h"

#include <windows.h>

#include <deque>

std::function<void()> WakeMainThread;

namespace {

// Taken while static objects are constructed, which happens on the thread
// that starts the program.
const DWORD gMainThreadId = GetCurrentThreadId();

struct SyncRequest {
    const std::function<void()>* Method;
    std::exception_ptr Error;
    bool Done = false;
};

// The queue of Synchronize calls waiting for the main thread. The event is
// set while the queue is not empty, so a WaitFor on the main thread can wake
// up for it.
struct SyncQueue {
    SRWLOCK Lock = SRWLOCK_INIT;
    CONDITION_VARIABLE Done = CONDITION_VARIABLE_INIT;
    std::deque<SyncRequest*> Pending;
    HANDLE Event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

SyncQueue& Queue() {
    static SyncQueue queue;
    return queue;
}

}  // namespace

unsigned long MainThreadID() {
    return gMainThreadId;
}

bool CheckSynchronize(unsigned long Timeout) {
    if (GetCurrentThreadId() != gMainThreadId)
        return false;
    SyncQueue& q = Queue();
    if (Timeout != 0 && WaitForSingleObject(q.Event, Timeout) != WAIT_OBJECT_0)
        return false;
    bool ran = false;
    for (;;) {
        AcquireSRWLockExclusive(&q.Lock);
        if (q.Pending.empty()) {
            ResetEvent(q.Event);
            ReleaseSRWLockExclusive(&q.Lock);
            return ran;
        }
        SyncRequest* request = q.Pending.front();
        q.Pending.pop_front();
        ReleaseSRWLockExclusive(&q.Lock);

        try {
            (*request->Method)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        ran = true;

        AcquireSRWLockExclusive(&q.Lock);
        request->Done = true;
        ReleaseSRWLockExclusive(&q.Lock);
        WakeAllConditionVariable(&q.Done);
    }
}

void TThread::Synchronize(const std::function<void()>& Method) {
    if (GetCurrentThreadId() == gMainThreadId) {
        Method();
        return;
    }
    SyncQueue& q = Queue();
    SyncRequest request;
    request.Method = &Method;
    AcquireSRWLockExclusive(&q.Lock);
    q.Pending.push_back(&request);
    SetEvent(q.Event);
    ReleaseSRWLockExclusive(&q.Lock);
    if (WakeMainThread)
        WakeMainThread();
    AcquireSRWLockExclusive(&q.Lock);
    while (!request.Done)
        SleepConditionVariableSRW(&q.Done, &q.Lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&q.Lock);
    if (request.Error)
        std::rethrow_exception(request.Error);
}

TThread::TThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended) {
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id);
    if (handle == nullptr) {
        DWORD error = GetLastError();
        throw EThread(Format("Thread creation error: %s", SysErrorMessage(error).c_str()));
    }
    FHandle.Reset(handle);
    FThreadID = id;
}

TThread::~TThread() {
    if (!FHandle)
        return;
    if (!FStarted.exchange(true)) {
        // Never ran: let it return from its entry without touching this
        // object's virtual functions, which are being torn down.
        FAbandoned.store(true);
        ResumeThread(FHandle.Get());
        WaitForSingleObject(FHandle.Get(), INFINITE);
    } else if (!FFinished.load() && GetCurrentThreadId() != FThreadID) {
        Terminate();
        WaitFor();
    }
    FHandle.Reset();
}

void TThread::AfterConstruction() {
    if (!FCreateSuspended)
        Resume();
}

void TThread::Resume() {
    // Only the first caller resumes, so concurrent callers (a stop request
    // and the owner) cannot both count. The state is written before the
    // thread runs: a FreeOnTerminate thread may be gone once ResumeThread
    // has returned, so this object is not touched after it.
    if (FStarted.exchange(true))
        return;
    FSuspended.store(false);
    ResumeThread(FHandle.Get());
}

unsigned long TThread::WaitFor() {
    HANDLE handle = FHandle.Get();
    if (GetCurrentThreadId() == gMainThreadId) {
        HANDLE handles[2] = {handle, Queue().Event};
        for (;;) {
            DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0 + 1)
                CheckSynchronize();
            else
                break;
        }
    } else {
        WaitForSingleObject(handle, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeThread(handle, &code);
    return code;
}

void WaitForThreadEnd(void* Handle) {
    const bool main = GetCurrentThreadId() == gMainThreadId;
    HANDLE handles[2] = {Handle, Queue().Event};
    const DWORD count = main ? 2 : 1;
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED)
            return;
        if (main && r == WAIT_OBJECT_0 + 1) {
            CheckSynchronize();
        } else if (r == WAIT_OBJECT_0 + count) {
            // Delivers the sent messages only; nothing is taken from the queue.
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

void TThread::DoTerminate() {
    if (OnTerminate)
        Synchronize([this] { OnTerminate(this); });
}

unsigned long __stdcall TThread::ThreadProc(void* param) {
    TThread* thread = static_cast<TThread*>(param);
    if (thread->FAbandoned.load())
        return 0;
    if (!thread->Terminated()) {
        try {
            thread->Execute();
        } catch (...) {
            thread->FFatalException = std::current_exception();
        }
    }
    bool freeThread = thread->FFreeOnTerminate.load();
    DWORD result = static_cast<DWORD>(thread->FReturnValue);
    try {
        thread->DoTerminate();
    } catch (...) {
        if (!thread->FFatalException)
            thread->FFatalException = std::current_exception();
    }
    thread->FFinished.store(true);
    if (freeThread)
        delete thread;
    return result;
}
