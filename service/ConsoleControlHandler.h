// The process-wide handler of console control events: passes log-off and
// shutdown on to two events.
#pragma once

#include <functional>

#include "rtl/Classes.h"

// One instance per process, shared through a reference count: obtain it with
// AcquireConsoleControlHandler, give it back with ReleaseConsoleControlHandler,
// never free it directly. The handler routine is installed exactly while a
// reference is held.
//
// The system calls the routine on a thread of its own. The instance and its
// two events are guarded by one process-wide lock that the routine holds for
// the whole dispatch, so:
//  - once the last release has returned, no routine call can still reach the
//    instance (the release clears the instance under the lock);
//  - once SetOnShutdown(nullptr) has returned, the previous handler is not
//    running and will not run again, so its object may be freed.
// A handler runs with that lock held: it must not acquire or release the
// instance (lock order) and should only flag and signal, as a stop request
// does.
class TConsoleControlHandler : public TObject {
public:
    // Called with the instance as Sender for CTRL_LOGOFF_EVENT (5) and
    // CTRL_SHUTDOWN_EVENT (6). Set and read under the lock; an empty
    // function clears the event for every user of the instance.
    void SetOnLogoff(TNotifyEvent handler);
    void SetOnShutdown(TNotifyEvent handler);
    TNotifyEvent OnLogoff() const;
    TNotifyEvent OnShutdown() const;

    // Dispatches one control type: log-off to OnLogoff, shutdown to
    // OnShutdown (when assigned), anything else to nothing. Always False, so
    // the handlers installed before this one and the system's default still
    // see the event. An exception of the called handler passes on.
    bool HandleControl(unsigned long ControlType);

    // The routine given to the system: FALSE when no instance exists, else
    // HandleControl's result. Nothing escapes it; a handler's exception is
    // dropped here.
    static int __stdcall ConsoleHandlerRoutine(unsigned long ControlType);

private:
    friend TConsoleControlHandler* AcquireConsoleControlHandler();
    friend void ReleaseConsoleControlHandler();

    // Installs the routine; raises the operating-system error when that fails.
    TConsoleControlHandler();
    // Removes the routine; a failure is ignored.
    ~TConsoleControlHandler() override;

    TNotifyEvent FOnLogoff;
    TNotifyEvent FOnShutdown;
};

// Creates the instance on the first call (installing the routine; raises the
// operating-system error when it cannot, leaving no instance and the count at
// 0), then counts one more reference. Returns the instance.
TConsoleControlHandler* AcquireConsoleControlHandler();

// Counts one reference less; the last one frees the instance and removes the
// routine. Without a reference held, nothing happens.
void ReleaseConsoleControlHandler();

// The current count of references (0 when no instance exists).
int ConsoleControlHandlerRefCount();

// One reference to the shared instance, held from the moment it is acquired
// and given back when the holder goes, so that no failure after the acquire
// can keep the routine installed.
class TConsoleControlHandlerRef {
public:
    TConsoleControlHandlerRef() = default;
    ~TConsoleControlHandlerRef() { Reset(); }
    TConsoleControlHandlerRef(const TConsoleControlHandlerRef&) = delete;
    TConsoleControlHandlerRef& operator=(const TConsoleControlHandlerRef&) = delete;

    // Acquires a reference (raising as AcquireConsoleControlHandler does),
    // giving back the one held before.
    void Acquire();
    // Gives the reference back, if one is held.
    void Reset();
    TConsoleControlHandler* Get() const { return FHandler; }
    TConsoleControlHandler* operator->() const { return FHandler; }
    explicit operator bool() const { return FHandler != nullptr; }

private:
    TConsoleControlHandler* FHandler = nullptr;
};

// The system call that installs (TRUE) and removes (FALSE) the routine:
// SetConsoleCtrlHandler. A test replaces it to see an install refused.
using TSetConsoleCtrlHandler = int(__stdcall*)(int(__stdcall*)(unsigned long), int);
extern TSetConsoleCtrlHandler ConsoleCtrlHandlerInstaller;
