#include "SvcMgr.h"

#include "SyncObjs.h"
#include "SysUtils.h"

TServiceApplication ServiceApplication;

std::function<int(const std::string&, const std::string&, UINT)>
    TServiceApplication::MessageBoxHook;

namespace {

// The one service of this process, for the ServiceMain trampoline.
TService* g_service = nullptr;

void WINAPI ServiceMainProc(DWORD argc, LPSTR* argv) {
    if (g_service != nullptr)
        g_service->Main(argc, argv);
}

int ShowMessage(const std::string& text, const std::string& caption, UINT flags) {
    if (TServiceApplication::MessageBoxHook)
        return TServiceApplication::MessageBoxHook(text, caption, flags);
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

}  // namespace

// ---- TService

TService::TService(std::string name)
    : Name(std::move(name)), DisplayName(Name),
      FControlEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    // Raised before the locks exist: the destructor does not run then.
    if (!FControlEvent)
        RaiseLastOSError();
    InitializeCriticalSection(&FLock);
    InitializeCriticalSection(&FStatusLock);
}

TService::~TService() {
    FControlEvent.Reset();
    DeleteCriticalSection(&FStatusLock);
    DeleteCriticalSection(&FLock);
}

std::string TService::ImagePath() {
    std::string path = ProgramPath();
    if (path.empty())
        RaiseLastOSError();
    return path;
}

DWORD TService::AcceptedControls() const {
    if (FStatus == TCurrentStatus::csStartPending)
        return 0;
    DWORD accepted = SERVICE_ACCEPT_SHUTDOWN;
    if (AllowStop)
        accepted |= SERVICE_ACCEPT_STOP;
    if (AllowPause)
        accepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    return accepted;
}

TCurrentStatus TService::Status() const {
    TCriticalSectionGuard lock(FStatusLock);
    return FStatus;
}

void TService::SendStatus(const SERVICE_STATUS& status) {
    if (FStatusHandle != nullptr)
        SetServiceStatus(FStatusHandle, const_cast<SERVICE_STATUS*>(&status));
}

SERVICE_STATUS TService::MakeStatus() {
    SERVICE_STATUS status{};
    status.dwServiceType = ServiceType | (Interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
    status.dwCurrentState = static_cast<DWORD>(FStatus);
    status.dwControlsAccepted = AcceptedControls();
    bool pending = FStatus == TCurrentStatus::csStartPending ||
                   FStatus == TCurrentStatus::csStopPending ||
                   FStatus == TCurrentStatus::csContinuePending ||
                   FStatus == TCurrentStatus::csPausePending;
    if (pending) {
        status.dwCheckPoint = ++FCheckPoint;
        status.dwWaitHint = WaitHint;
    } else {
        FCheckPoint = 0;
    }
    if (ErrCode != 0) {
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = ErrCode;
    } else {
        status.dwWin32ExitCode = Win32ErrCode;
    }
    return status;
}

void TService::ReportStatus() {
    TCriticalSectionGuard lock(FStatusLock);
    if (!FStopReported)
        SendStatus(MakeStatus());
}

void TService::SetStatus(TCurrentStatus value) {
    SERVICE_STATUS status;
    {
        TCriticalSectionGuard lock(FStatusLock);
        if (value != FStatus)
            FCheckPoint = 0;
        FStatus = value;
        status = MakeStatus();
        FStopReported = value == TCurrentStatus::csStopped;
        if (!FStopReported) {
            SendStatus(status);
            return;
        }
    }
    // Once stopped is reported, the dispatcher may return and the object be
    // freed, its locks with it: the report goes out after the lock is left,
    // and no report follows it (an interrogation meanwhile gets none; the
    // control manager keeps the last one it had).
    SendStatus(status);
}

void TService::Controller(DWORD code) {
    if (code == SERVICE_CONTROL_INTERROGATE) {
        // Answered on the caller's thread: the service thread may be busy
        // (in a handler); the status lock keeps the two apart.
        ReportStatus();
        return;
    }
    {
        TCriticalSectionGuard lock(FLock);
        FControls.push_back(code);
    }
    SetEvent(FControlEvent.Get());
}

DWORD TService::NextControl() {
    for (;;) {
        {
            TCriticalSectionGuard lock(FLock);
            if (!FControls.empty()) {
                DWORD code = FControls.front();
                FControls.pop_front();
                return code;
            }
        }
        if (FWatchHandle == nullptr) {
            WaitForSingleObject(FControlEvent.Get(), INFINITE);
            continue;
        }
        // Controls first: the control event is the first handle, so when both
        // are signalled a queued stop is served before the watch fires.
        HANDLE handles[2] = {FControlEvent.Get(), FWatchHandle};
        DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0 + 1 || r == WAIT_ABANDONED_0 + 1 || r == WAIT_FAILED) {
            // Dropped before the handler runs: a handle that stays signalled
            // must not fire again, and a failed wait must not spin.
            TServiceEvent handler = std::move(FOnWatchSignalled);
            FWatchHandle = nullptr;
            FOnWatchSignalled = nullptr;
            try {
                if (handler)
                    handler(this);
            } catch (...) {
            }
        }
    }
}

void TService::Watch(HANDLE handle, TServiceEvent onSignalled) {
    FWatchHandle = handle;
    FOnWatchSignalled = handle != nullptr ? std::move(onSignalled) : nullptr;
}

void TService::Main(DWORD argc, LPSTR* argv) {
    Params.clear();
    for (DWORD i = 0; i < argc; ++i)
        Params.emplace_back(argv[i] != nullptr ? argv[i] : "");
    {
        // An interrogation may come as soon as the routine is registered.
        TCriticalSectionGuard lock(FStatusLock);
        FStatusHandle = RegisterServiceCtrlHandlerA(Name.c_str(), GetServiceController());
        if (FStatusHandle == nullptr)
            return;
    }

    SetStatus(TCurrentStatus::csStartPending);
    bool started = true;
    try {
        if (OnStart)
            OnStart(this, started);
    } catch (...) {
        // The handler should have caught it; a start that raised did not start.
        started = false;
    }
    if (!started) {
        SetStatus(TCurrentStatus::csStopped);
        return;
    }
    SetStatus(TCurrentStatus::csRunning);

    for (;;) {
        DWORD code = NextControl();
        switch (code) {
        case SERVICE_CONTROL_STOP: {
            SetStatus(TCurrentStatus::csStopPending);
            bool stopped = true;
            try {
                if (OnStop)
                    OnStop(this, stopped);
            } catch (...) {
            }
            if (stopped) {
                SetStatus(TCurrentStatus::csStopped);
                return;
            }
            SetStatus(TCurrentStatus::csRunning);
            break;
        }
        case SERVICE_CONTROL_SHUTDOWN:
            SetStatus(TCurrentStatus::csStopPending);
            try {
                if (OnShutdown)
                    OnShutdown(this);
            } catch (...) {
            }
            SetStatus(TCurrentStatus::csStopped);
            return;
        default:
            ReportStatus();
            break;
        }
    }
}

void TService::Install() {
    TServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm)
        RaiseLastOSError();

    // Dependencies as a double-NUL-terminated list; groups carry their prefix.
    std::string deps;
    for (const TDependency& d : Dependencies) {
        if (d.IsGroup)
            deps += SC_GROUP_IDENTIFIERA;
        deps += d.Name;
        deps += '\0';
    }
    deps += '\0';

    // A path with blanks is quoted, so that the service control manager cannot
    // take a prefix of it ("C:\Program") for the program to run.
    std::string path = ImagePath();
    if (path.find(' ') != std::string::npos)
        path = "\"" + path + "\"";

    DWORD type = ServiceType | (Interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
    TServiceHandle svc(CreateServiceA(
        scm.Get(), Name.c_str(), DisplayName.c_str(), SERVICE_ALL_ACCESS, type, StartType,
        ErrorSeverity, path.c_str(), nullptr, nullptr, deps.c_str(),
        ServiceStartName.empty() ? nullptr : ServiceStartName.c_str(),
        Password.empty() ? nullptr : Password.c_str()));
    if (!svc)
        RaiseLastOSError();
}

void TService::Uninstall() {
    TServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm)
        RaiseLastOSError();
    TServiceHandle svc(OpenServiceA(scm.Get(), Name.c_str(), SERVICE_ALL_ACCESS));
    if (!svc)
        RaiseLastOSError();
    if (!DeleteService(svc.Get()))
        RaiseLastOSError();
}

// ---- TServiceApplication

bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& name) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() == name.size() + 1 && (a[0] == '/' || a[0] == '-') &&
            CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str() + 1,
                           static_cast<int>(name.size()), name.c_str(),
                           static_cast<int>(name.size())) == CSTR_EQUAL)
            return true;
    }
    return false;
}

void TServiceApplication::CreateForm(TService* service) {
    FService.reset(service);
}

int TServiceApplication::Run() {
    std::vector<std::string> args;
    for (int i = 0; i < __argc; ++i)
        args.emplace_back(__argv[i]);
    return Run(args);
}

int TServiceApplication::Run(const std::vector<std::string>& args) {
    TService* service = FService.get();
    if (service == nullptr)
        return 1;
    bool install = FindCmdLineSwitch(args, "INSTALL");
    bool uninstall = FindCmdLineSwitch(args, "UNINSTALL");
    if (install || uninstall) {
        bool silent = FindCmdLineSwitch(args, "SILENT");
        try {
            if (install)
                service->Install();
            else
                service->Uninstall();
        } catch (const Exception& e) {
            std::string text = Format("Service \"%s\" failed to %s with error: \"%s\"",
                                      service->DisplayName.c_str(),
                                      install ? "install" : "uninstall", e.Message().c_str());
            ShowMessage(text, Title, MB_OK | MB_ICONERROR);
            return 1;
        }
        if (!silent)
            ShowMessage(install ? "Service installed successfully"
                                : "Service uninstalled successfully",
                        Title, MB_OK | MB_ICONINFORMATION);
        return 0;
    }

    // The dispatcher runs on a thread of its own; this thread waits for it.
    g_service = service;
    static SERVICE_TABLE_ENTRYA table[2];
    static std::string name;
    name = service->Name;
    table[0].lpServiceName = &name[0];
    table[0].lpServiceProc = ServiceMainProc;
    table[1] = SERVICE_TABLE_ENTRYA{nullptr, nullptr};

    struct DispatchResult {
        BOOL ok;
        DWORD error;
    } result{FALSE, 0};
    TKernelHandle thread(CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* r = static_cast<DispatchResult*>(p);
            r->ok = StartServiceCtrlDispatcherA(table);
            r->error = r->ok ? 0 : GetLastError();
            return 0;
        },
        &result, 0, nullptr));
    if (!thread)
        return 1;
    WaitForSingleObject(thread.Get(), INFINITE);
    thread.Reset();
    g_service = nullptr;
    return result.ok ? 0 : static_cast<int>(result.error);
}
