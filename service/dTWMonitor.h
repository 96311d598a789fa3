// The service module of twsvc: the service "Tarnwick" ("Tarnwick Monitor"),
// which runs the monitor thread and its alert builder.
#pragma once

#include <windows.h>

#include <exception>

#include "rtl/SvcMgr.h"

class TKorrinThread;
class TKorrinEventHandler;

class TTarnwick : public TService {
public:
    // The service's identity and its three handlers.
    TTarnwick();
    ~TTarnwick() override;

    // Running monitor thread and its alert builder; owned; null while none runs.
    TKorrinThread* MonitorThread = nullptr;
    TKorrinEventHandler* EventHandler = nullptr;

    // How long StopMonitor waits on the thread between two stop-pending reports.
    DWORD StopReportInterval = 1000;

    LPHANDLER_FUNCTION GetServiceController() override;

    // Enables SeDebugPrivilege (failure ignored), creates the thread
    // suspended, hooks the alert builder to it, resumes it. Any exception is
    // traced and makes the start fail (started false).
    void ServiceStart(TService* Sender, bool& Started);
    // StopMonitor(false); the service is then stopped whatever that met.
    void ServiceStop(TService* Sender, bool& Stopped);
    // StopMonitor(true): the thread sends the Windows-shutdown alert.
    void ServiceShutdown(TService* Sender);
    // Asks the thread to stop, re-reports stop pending every
    // StopReportInterval ms until it has ended (no overall limit), then frees
    // the builder and the thread. Nothing when no thread runs; exceptions are
    // traced and dropped.
    void StopMonitor(bool SystemShutdown);
    // Traces "An exception occurred: " and the exception's message; never raises.
    static void LogException(std::exception_ptr E);

    // The monitor thread ended while the service was running. When it ended
    // on an exception, the exception is traced and the service stops itself
    // with exit code ERROR_EXCEPTION_IN_SERVICE, rather than reporting itself
    // running while it watches nothing.
    void MonitorThreadEnded();
};

// The process's one module, created by the program block.
extern TTarnwick* Tarnwick;

// The control handler registered for the service: hands the code to the
// module's framework controller.
void WINAPI ServiceController(DWORD CtrlCode);
