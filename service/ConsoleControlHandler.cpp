#include "ConsoleControlHandler.h"

#include <windows.h>

#include "rtl/SyncObjs.h"

namespace {

// Two locks, always taken in this order when both are needed:
//  - Lifecycle serialises acquire and release. SetConsoleCtrlHandler is
//    called under it only: the system may hold its own console lock while it
//    runs the routines, and a routine waiting for Instance while we wait for
//    that console lock would deadlock.
//  - Instance guards the instance pointer and the two events; the routine
//    holds it for the whole dispatch. Recursive (a critical section), so a
//    handler that clears an event on the routine's thread does not hang.
struct Locks {
    CRITICAL_SECTION Lifecycle;
    CRITICAL_SECTION Instance;
    Locks() {
        InitializeCriticalSection(&Lifecycle);
        InitializeCriticalSection(&Instance);
    }
};

Locks& TheLocks() {
    static Locks locks;
    return locks;
}

TConsoleControlHandler* gInstance = nullptr;
int gRefCount = 0;

}  // namespace

TSetConsoleCtrlHandler ConsoleCtrlHandlerInstaller = &SetConsoleCtrlHandler;

TConsoleControlHandler::TConsoleControlHandler() {
    if (!ConsoleCtrlHandlerInstaller(&TConsoleControlHandler::ConsoleHandlerRoutine, TRUE))
        RaiseLastOSError();
}

TConsoleControlHandler::~TConsoleControlHandler() {
    ConsoleCtrlHandlerInstaller(&TConsoleControlHandler::ConsoleHandlerRoutine, FALSE);
}

void TConsoleControlHandler::SetOnLogoff(TNotifyEvent handler) {
    TNotifyEvent old;
    {
        TCriticalSectionGuard g(TheLocks().Instance);
        old = std::move(FOnLogoff);
        FOnLogoff = std::move(handler);
    }
    // The old handler's captures are destroyed outside the lock.
}

void TConsoleControlHandler::SetOnShutdown(TNotifyEvent handler) {
    TNotifyEvent old;
    {
        TCriticalSectionGuard g(TheLocks().Instance);
        old = std::move(FOnShutdown);
        FOnShutdown = std::move(handler);
    }
}

TNotifyEvent TConsoleControlHandler::OnLogoff() const {
    TCriticalSectionGuard g(TheLocks().Instance);
    return FOnLogoff;
}

TNotifyEvent TConsoleControlHandler::OnShutdown() const {
    TCriticalSectionGuard g(TheLocks().Instance);
    return FOnShutdown;
}

bool TConsoleControlHandler::HandleControl(unsigned long ControlType) {
    TCriticalSectionGuard g(TheLocks().Instance);
    // A copy runs, so a handler may clear its own event while it runs.
    TNotifyEvent handler;
    if (ControlType == CTRL_LOGOFF_EVENT)
        handler = FOnLogoff;
    else if (ControlType == CTRL_SHUTDOWN_EVENT)
        handler = FOnShutdown;
    if (handler)
        handler(this);
    return false;
}

int __stdcall TConsoleControlHandler::ConsoleHandlerRoutine(unsigned long ControlType) {
    try {
        TCriticalSectionGuard g(TheLocks().Instance);
        if (gInstance == nullptr)
            return FALSE;
        return gInstance->HandleControl(ControlType) ? TRUE : FALSE;
    } catch (...) {
        // No exception crosses the system's callback.
        return FALSE;
    }
}

TConsoleControlHandler* AcquireConsoleControlHandler() {
    Locks& locks = TheLocks();
    TCriticalSectionGuard life(locks.Lifecycle);
    if (gRefCount <= 0) {
        // Installed before it is published: a routine call in between finds
        // no instance and reports the event as not handled.
        auto* instance = new TConsoleControlHandler();
        TCriticalSectionGuard g(locks.Instance);
        gInstance = instance;
        gRefCount = 1;
        return instance;
    }
    TCriticalSectionGuard g(locks.Instance);
    ++gRefCount;
    return gInstance;
}

void ReleaseConsoleControlHandler() {
    Locks& locks = TheLocks();
    TCriticalSectionGuard life(locks.Lifecycle);
    TConsoleControlHandler* doomed = nullptr;
    {
        // Taking Instance waits for a routine call that is dispatching; any
        // later call finds no instance.
        TCriticalSectionGuard g(locks.Instance);
        if (gRefCount <= 0)
            return;
        if (--gRefCount > 0)
            return;
        doomed = gInstance;
        gInstance = nullptr;
    }
    delete doomed;
}

int ConsoleControlHandlerRefCount() {
    TCriticalSectionGuard g(TheLocks().Instance);
    return gRefCount;
}

void TConsoleControlHandlerRef::Acquire() {
    TConsoleControlHandler* handler = AcquireConsoleControlHandler();
    Reset();
    FHandler = handler;
}

void TConsoleControlHandlerRef::Reset() {
    if (FHandler == nullptr)
        return;
    FHandler = nullptr;
    ReleaseConsoleControlHandler();
}
