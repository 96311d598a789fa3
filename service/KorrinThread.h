// The monitor thread: loads the configuration, waits out the start-up delay
// after a reboot, takes a silent baseline of what is running, then detects
// starts and stops of the watched programs and services and fires one event
// for each. Reload and stop requests arrive through a named kernel event.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "rtl/DateUtils.h"
#include "rtl/Handles.h"
#include "rtl/Thread.h"
#include "service/ConsoleControlHandler.h"

class TTarnwickRuntimeConfig;
class TProcessRuntimeConfig;
class TServiceRuntimeConfig;
class TMonitoredProcess;
class TMonitoredService;
class TMonitoredProcessList;
class TMonitoredServiceList;
class TMonitoredServiceProcessList;

// The events of the thread; Sender is always the thread.
using TMonitoredProcessEvent = std::function<void(TObject* Sender, TMonitoredProcess* Process)>;
using TMonitoredServiceEvent = std::function<void(TObject* Sender, TMonitoredService* Service)>;

// Values of ControlRequest when the control event fires: 0 (a bare signal,
// the value at rest) and 1 reload, 2 stop; any other value is only cleared.
enum : long { crReload = 0, crReloadToo = 1, crStop = 2 };

class TKorrinThread : public TThread {
public:
    // Builds the lists, creates the stop event and the control event (see
    // CreateControlEvent) and acquires the console control handler; raises
    // the operating-system error when any of them fails, with nothing left
    // behind. The thread runs at once unless CreateSuspended is true.
    explicit TKorrinThread(bool CreateSuspended);
    // Unhooks the console handler first, so that no console event reaches
    // the object once its teardown has begun; then ends a thread that is
    // still running (stop request, wait) before its members go. A thread
    // that never ran is not started by this.
    ~TKorrinThread() override;

    // Any thread: resumes a suspended thread, sets ControlRequest to 2 with
    // an atomic exchange, then sets the private stop event and the control
    // event. Never lost: a reload in progress leaves it pending, and the loop
    // ends at the latest in the pass after that reload; the stop event, which
    // no other process can reach, keeps it even when someone resets the
    // named event.
    void RequestStop();
    // The console handler's OnShutdown: marks the stop as a system shutdown
    // and makes the stop request. Unlike RequestStop it never resumes a
    // thread that its owner has not started yet: the owner may still be
    // hooking the events, which the thread must not read meanwhile. The
    // request stays pending until the thread runs and first waits: in a
    // start-up delay it then ends at once, without OnStart or OnStop;
    // without a delay it first loads the configuration, takes its baseline
    // and runs OnStart (the start alert), then ends at the main loop's first
    // wait, running OnStop.
    void SystemShutdownRequested(TObject* Sender);

    // Monitor-thread operations, public so that a test can drive a thread
    // that is never resumed.
    // Acts on the pending request and clears it; returns the code acted on.
    long HandleControlRequest();
    void LoadConfig(bool IsReload);
    void SaveLastShutdownTime();

    void DetectNewProcesses();
    // Waits on every watched program's handle, every watched service
    // process's handle, the control event and the stop event, in that order
    // (any number of them). The lowest signalled index wins; either event
    // counts as the control event. After a process handle, the two events
    // alone get FollowUpWaitMs more, and a request then takes precedence.
    // True when something was signalled.
    bool WaitForSignal(int& ProcessIndex, int& ServiceProcessIndex, bool& ControlSignalled);
    void ProcessSignalled(int Index);
    void ServiceProcessSignalled(int Index);
    void DetectServiceChanges();
    // Watches the process ProcessId for Entry; a process that cannot be
    // opened is dropped silently. The started event fires unless Loading.
    void ProcessStarted(TProcessRuntimeConfig* Entry, unsigned long ProcessId);
    void ProcessStopped(int Index);
    void ServiceStarted(TServiceRuntimeConfig* Entry);
    void ServiceStopped(int Index);

    std::unique_ptr<TTarnwickRuntimeConfig> Config;  // nil before the first load
    std::unique_ptr<TMonitoredProcessList> WatchedProcesses;
    std::unique_ptr<TMonitoredServiceList> WatchedServices;
    std::unique_ptr<TMonitoredServiceProcessList> WatchedServiceProcesses;  // not owning
    // System time (FILETIME, UTC) taken just before the last successful
    // process snapshot; 0 = none yet.
    std::uint64_t LastProcessScan = 0;
    std::int32_t WaitSeconds = 10;
    volatile long ControlRequest = 0;
    TKernelHandle ControlEvent;
    // Unnamed, held by this process alone: set with every stop request.
    TKernelHandle StopEvent;
    TMonitoredProcessEvent OnProcessStopped;
    TMonitoredProcessEvent OnProcessStarted;
    TMonitoredServiceEvent OnServiceStarted;
    TMonitoredServiceEvent OnServiceStopped;
    // True while LoadConfig runs (start-up delay and silent baseline included).
    std::atomic<bool> Loading{false};
    // The stop belongs to a Windows shutdown; set before the stop request.
    std::atomic<bool> SystemShutdown{false};
    TConsoleControlHandlerRef ConsoleHandler;
    TNotifyEvent OnStart;
    TNotifyEvent OnStop;

    // Seams, set before the thread runs: the follow-up wait on the control
    // event after a process handle fired, the interval of the service poll,
    // and the clocks (local time now, local boot time).
    unsigned long FollowUpWaitMs = 3000;
    double ServicePollSeconds = 20.0;
    std::function<TDateTime()> NowFunc;
    std::function<TDateTime()> BootTimeFunc;

protected:
    void Execute() override;

private:
    // Empties the watched lists (no events), frees the configuration and
    // reads it again from the registry.
    void ReadConfig();
    // Waits on the control and stop events; true when either is set.
    bool WaitForRequest(unsigned long TimeoutMs);
    TDateTime CurrentTime() const;
    void ClearConsoleHooks();
    // ControlRequest := 2 (atomic exchange), then the control event.
    void PostStopRequest();
};
