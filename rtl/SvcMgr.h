// A small Windows service framework: one service per process, a dispatcher on
// a thread of its own, a control queue served by the service's own thread,
// status reports with check points and wait hints, and the install/uninstall
// command-line switches.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"

enum class TCurrentStatus : DWORD {
    csStopped = SERVICE_STOPPED,
    csStartPending = SERVICE_START_PENDING,
    csStopPending = SERVICE_STOP_PENDING,
    csRunning = SERVICE_RUNNING,
    csContinuePending = SERVICE_CONTINUE_PENDING,
    csPausePending = SERVICE_PAUSE_PENDING,
    csPaused = SERVICE_PAUSED,
};

struct TDependency {
    std::string Name;
    bool IsGroup = false;  // a load-order group rather than a service
};

class TService;
using TServiceStartEvent = std::function<void(TService* sender, bool& started)>;
using TServiceStopEvent = std::function<void(TService* sender, bool& stopped)>;
using TServiceEvent = std::function<void(TService* sender)>;

// One service. A module derives from it, sets its identity, assigns the
// handlers and supplies its control routine through GetServiceController;
// that routine hands each code to Controller.
class TService {
public:
    explicit TService(std::string name);
    virtual ~TService();
    TService(const TService&) = delete;
    TService& operator=(const TService&) = delete;

    // Identity, written to the service control manager by Install.
    std::string Name;
    std::string DisplayName;
    std::vector<TDependency> Dependencies;
    bool AllowStop = true;
    bool AllowPause = true;
    bool Interactive = false;
    DWORD WaitHint = 5000;
    DWORD ServiceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD StartType = SERVICE_AUTO_START;
    DWORD ErrorSeverity = SERVICE_ERROR_NORMAL;
    std::string ServiceStartName;  // empty: the local system account
    std::string Password;

    // Exit codes reported with the final stopped status; a non-zero
    // ErrCode is reported as a service-specific error.
    DWORD Win32ErrCode = 0;
    DWORD ErrCode = 0;

    // Handlers, run on the service's own thread. The framework reports stop
    // pending before OnStop and OnShutdown, and stopped after OnStop returns
    // with stopped true, and after OnShutdown in any case.
    TServiceStartEvent OnStart;
    TServiceStopEvent OnStop;
    TServiceEvent OnShutdown;

    // The routine registered as the control handler.
    virtual LPHANDLER_FUNCTION GetServiceController() = 0;

    // Queues a control code for the service's thread; called by the control
    // routine on the dispatcher's thread, or by the service itself (a stop it
    // asks for on its own). Interrogation is answered at once, on the
    // caller's thread.
    void Controller(DWORD code);

    // The status, its check point and their reports are kept under one lock:
    // the dispatcher's thread (interrogation) and the service's thread
    // report side by side, and each report goes out whole, in check-point
    // order.
    TCurrentStatus Status() const;
    // Sets and reports the status; pending states advance the check point.
    // Stopped is the last report: it is sent after the status lock is left,
    // since the object may be freed as soon as it is out, and nothing is
    // reported after it until another status is set.
    void SetStatus(TCurrentStatus value);
    // Reports the current status again (the next check point when pending).
    void ReportStatus();

    // A kernel object the service's thread waits on beside its control queue
    // (a worker thread's handle, say). When it is signalled, onSignalled runs
    // once on the service's thread, between controls, and the watch is
    // dropped; it may set the exit codes and queue a stop with Controller.
    // A null handle drops the watch. Call it on the service's thread (from
    // the handlers), so that no control runs while the watch changes; the
    // handle must stay open while it is watched.
    void Watch(HANDLE handle, TServiceEvent onSignalled);

    // Full path of the running program.
    static std::string ImagePath();

    // Install and uninstall through the service control manager; raise
    // EOSError on failure.
    void Install();
    void Uninstall();

    // The service body: registers the control routine, starts, serves controls
    // until stopped. Runs on the thread the dispatcher calls ServiceMain on.
    void Main(DWORD argc, LPSTR* argv);

    // Arguments ServiceMain received (the first is the service name).
    std::vector<std::string> Params;

protected:
    // Hands one status record to the service control manager
    // (SetServiceStatus); nothing before the control routine is registered.
    // Called with the status lock held, except for the stopped report; after
    // that one's SetServiceStatus it must not touch the object.
    virtual void SendStatus(const SERVICE_STATUS& status);

private:
    DWORD NextControl();
    DWORD AcceptedControls() const;
    // The record of the current status (the next check point when pending);
    // called with the status lock held.
    SERVICE_STATUS MakeStatus();

    SERVICE_STATUS_HANDLE FStatusHandle = nullptr;
    TCurrentStatus FStatus = TCurrentStatus::csStopped;
    DWORD FCheckPoint = 0;
    bool FStopReported = false;  // the stopped report is made or under way
    mutable CRITICAL_SECTION FStatusLock;  // FStatus, FCheckPoint, the reports
    CRITICAL_SECTION FLock;                // FControls
    TKernelHandle FControlEvent;
    std::deque<DWORD> FControls;
    HANDLE FWatchHandle = nullptr;
    TServiceEvent FOnWatchSignalled;
};

// The service program: parses the switches, installs or uninstalls, or runs
// the dispatcher for its one service.
class TServiceApplication {
public:
    void Initialize() {}
    std::string Title;

    // Takes ownership of the module.
    void CreateForm(TService* service);
    TService* Service() const { return FService.get(); }

    // "/INSTALL" or "-INSTALL" (any letter case) registers the service,
    // "UNINSTALL" removes it, "SILENT" suppresses the success message;
    // otherwise runs the dispatcher and returns when the service has stopped.
    // Returns the process exit code.
    int Run();
    int Run(const std::vector<std::string>& args);

    // Message boxes go through this hook so tests never block on one.
    static std::function<int(const std::string& text, const std::string& caption, UINT flags)>
        MessageBoxHook;

private:
    std::unique_ptr<TService> FService;
};

// The process's one service application.
extern TServiceApplication ServiceApplication;

// True when one of args (after the program name) is "/name" or "-name",
// compared without regard to letter case.
bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& name);
