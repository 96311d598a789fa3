#include "dTWMonitor.h"

#include "config/TarnwickConfigRegAdapter.h"
#include "lib/BWDebug.h"
#include "rtl/SysUtils.h"
#include "service/KorrinEventHandler.h"
#include "service/KorrinThread.h"
#include "win32/Win32Utils.h"

TTarnwick* Tarnwick = nullptr;

void WINAPI ServiceController(DWORD CtrlCode) {
    if (Tarnwick != nullptr)
        Tarnwick->Controller(CtrlCode);
}

TTarnwick::TTarnwick() : TService(TarnwickServiceName) {
    DisplayName = "Tarnwick Monitor";
    Dependencies.push_back({"Eventlog", false});
    AllowStop = true;
    AllowPause = false;
    WaitHint = 300000;
    ServiceType = SERVICE_WIN32_OWN_PROCESS;
    Interactive = false;
    StartType = SERVICE_AUTO_START;
    ErrorSeverity = SERVICE_ERROR_NORMAL;
    OnStart = [this](TService* s, bool& started) { ServiceStart(s, started); };
    OnStop = [this](TService* s, bool& stopped) { ServiceStop(s, stopped); };
    OnShutdown = [this](TService* s) { ServiceShutdown(s); };
}

TTarnwick::~TTarnwick() {
    delete EventHandler;
    delete MonitorThread;
}

LPHANDLER_FUNCTION TTarnwick::GetServiceController() {
    return ServiceController;
}

void TTarnwick::LogException(std::exception_ptr E) {
    try {
        std::string message;
        try {
            std::rethrow_exception(E);
        } catch (const std::exception& e) {
            message = e.what();
        } catch (...) {
        }
        DebugTrace("An exception occurred: " + message);
    } catch (...) {
    }
}

void TTarnwick::ServiceStart(TService*, bool& Started) {
    try {
        EnablePrivilege("SeDebugPrivilege", true);
        MonitorThread = new TKorrinThread(true);
        // Hooked while the thread is still suspended: it must not fire an
        // event before the builder listens.
        EventHandler = new TKorrinEventHandler(MonitorThread);
        MonitorThread->Resume();
        Watch(MonitorThread->Handle(), [this](TService*) { MonitorThreadEnded(); });
        Started = true;
    } catch (...) {
        LogException(std::current_exception());
        Started = false;
        // The stopped report carries why the start failed, so that the
        // service control manager (and sc query) shows a failure, not a
        // clean stop.
        Win32ErrCode = ERROR_EXCEPTION_IN_SERVICE;
        try {
            throw;
        } catch (const EOSError& e) {
            if (e.ErrorCode != 0)
                Win32ErrCode = e.ErrorCode;
        } catch (...) {
        }
        // A thread that never ran is freed without running; nothing stays
        // behind for a later start to trip over.
        delete EventHandler;
        EventHandler = nullptr;
        delete MonitorThread;
        MonitorThread = nullptr;
    }
}

void TTarnwick::MonitorThreadEnded() {
    if (MonitorThread == nullptr)
        return;
    std::exception_ptr fatal = MonitorThread->FatalException();
    // A thread that ended without an exception was asked to (the console's
    // shutdown event): the service control manager's own stop follows.
    if (!fatal)
        return;
    LogException(fatal);
    Win32ErrCode = ERROR_EXCEPTION_IN_SERVICE;
    Controller(SERVICE_CONTROL_STOP);
}

void TTarnwick::ServiceStop(TService*, bool& Stopped) {
    StopMonitor(false);
    Stopped = true;
}

void TTarnwick::ServiceShutdown(TService*) {
    StopMonitor(true);
}

void TTarnwick::StopMonitor(bool SystemShutdown) {
    if (MonitorThread == nullptr)
        return;
    // The thread's handle is about to be closed with the thread object.
    Watch(nullptr, nullptr);
    try {
        SetStatus(TCurrentStatus::csStopPending);
        if (SystemShutdown)
            MonitorThread->SystemShutdown = true;
        MonitorThread->RequestStop();
        // The thread sends the shutdown alert (event log, DNS, SMTP) before it
        // ends, which may take a while; the wait has no overall limit, so keep
        // telling the service control manager that the stop progresses.
        DWORD r = WaitForSingleObject(MonitorThread->Handle(), StopReportInterval);
        while (r == WAIT_TIMEOUT) {
            SetStatus(TCurrentStatus::csStopPending);
            r = WaitForSingleObject(MonitorThread->Handle(), StopReportInterval);
        }
        delete EventHandler;
        EventHandler = nullptr;
        delete MonitorThread;
        MonitorThread = nullptr;
    } catch (...) {
        LogException(std::current_exception());
    }
}
