#include "service/KorrinThread.h"

#include <windows.h>
#include <winternl.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "config/TarnwickConfigRegAdapter.h"
#include "lib/BWDebug.h"
#include "lib/BWSysInfo.h"
#include "rtl/Events.h"
#include "rtl/Registry.h"
#include "rtl/SysUtils.h"
#include "rtl/WaitAny.h"
#include "service/ControlEvent.h"
#include "service/ConsoleControlHandler.h"
#include "service/TarnwickRuntimeConfig.h"
#include "win32/ServiceStatusEnumerator.h"
#include "win32/Win32Utils.h"

namespace {

constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr std::size_t kFirstSnapshotSize = 65536;
// Processes created up to this long before the previous scan's time are still
// examined: the scan time is taken before the snapshot, with the clock's
// granularity (100 ns units).
constexpr std::int64_t kCreateTimeTolerance = 10000;
// A process whose name matched but whose module list could not be read yet
// (a process in its first milliseconds has no loaded modules to list: the
// call fails with ERROR_PARTIAL_COPY) is looked at again by the next scans,
// as long as it is younger than this (30 s in 100 ns units).
constexpr std::int64_t kPathRetryWindow = 30LL * 10000000;

std::string AnsiFromUnicode(const UNICODE_STRING& s) {
    return s.Buffer != nullptr ? AnsiFromWide(s.Buffer, static_cast<int>(s.Length / sizeof(WCHAR)))
                               : std::string();
}

// Reads the system's process records into buffer (ULONGLONG elements keep
// their 8-byte fields aligned); returns the system time (FILETIME, UTC) taken
// just before they were read, or 0 when the system gives none.
std::uint64_t TakeProcessSnapshot(std::vector<ULONGLONG>& buffer) {
    std::size_t size = kFirstSnapshotSize / 2;
    SYSTEMTIME scanTime;
    NTSTATUS status;
    do {
        size *= 2;
        buffer.assign(size / sizeof(ULONGLONG), 0);
        GetSystemTime(&scanTime);
        status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                          static_cast<ULONG>(size), nullptr);
    } while (status == kStatusInfoLengthMismatch);
    if (status != 0)
        return 0;
    FILETIME scanFileTime;
    SystemTimeToFileTime(&scanTime, &scanFileTime);
    return (static_cast<std::uint64_t>(scanFileTime.dwHighDateTime) << 32) |
           scanFileTime.dwLowDateTime;
}

bool IsReloadRequest(long request) { return request == crReload || request == crReloadToo; }

// The process list shows image names cut to 15 characters on some systems:
// such a name matches a configured file name that begins with it.
bool NameMatches(const std::string& name, const std::string& exeName) {
    if (exeName == name)
        return true;
    return name.size() == 15 && exeName.compare(0, 15, name) == 0;
}

}  // namespace

TKorrinThread::TKorrinThread(bool CreateSuspended) : TThread(true) {
    WatchedProcesses = std::make_unique<TMonitoredProcessList>();
    WatchedServices = std::make_unique<TMonitoredServiceList>();
    WatchedServiceProcesses = std::make_unique<TMonitoredServiceProcessList>();
    // What the steps below make is held by members, so a step that raises
    // leaves nothing behind: the destructor does not run for an object whose
    // constructor raised, but its members' destructors do.
    StopEvent.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!StopEvent)
        RaiseLastOSError();
    ControlEvent = CreateControlEvent();

    ConsoleHandler.Acquire();
    ConsoleHandler->SetOnShutdown([this](TObject* sender) { SystemShutdownRequested(sender); });

    if (!CreateSuspended)
        Resume();
}

TKorrinThread::~TKorrinThread() {
    // Unhooked before anything else: a shutdown notification arriving later
    // would otherwise reach an object whose members are being freed. Once
    // the clearing has returned, the handler is not running and will not run.
    ClearConsoleHooks();
    // The thread's Execute uses the members below: it must be over before
    // they go. A thread that never ran stays unstarted.
    if (Handle() != nullptr && !Suspended() && !Finished() &&
        GetCurrentThreadId() != ThreadID()) {
        RequestStop();
        WaitFor();
    }
    WatchedProcesses.reset();
    WatchedServices.reset();
    WatchedServiceProcesses.reset();
    Config.reset();
    ConsoleHandler.Reset();
    ControlEvent.Reset();
    StopEvent.Reset();
}

void TKorrinThread::RequestStop() {
    if (Suspended())
        Resume();
    PostStopRequest();
}

void TKorrinThread::PostStopRequest() {
    InterlockedExchange(&ControlRequest, crStop);
    SetEvent(StopEvent.Get());
    SetEvent(ControlEvent.Get());
}

void TKorrinThread::SystemShutdownRequested(TObject*) {
    SystemShutdown = true;
    // Runs on the system's console thread, possibly between the thread's
    // creation and its start by the owner (who hooks the alert builder's
    // events in between): the stop is posted, the start left to the owner.
    PostStopRequest();
}

TDateTime TKorrinThread::CurrentTime() const {
    return NowFunc ? NowFunc() : Now();
}

void TKorrinThread::ClearConsoleHooks() {
    if (!ConsoleHandler)
        return;
    ConsoleHandler->SetOnShutdown(nullptr);
    ConsoleHandler->SetOnLogoff(nullptr);
}

void TKorrinThread::Execute() {
    DebugTrace("Loading config");
    LoadConfig(false);
    if (!Terminated()) {
        TDateTime lastServicePoll = CurrentTime();
        if (OnStart) {
            DebugTrace("Firing OnStart event");
            CallGuarded(OnStart, static_cast<TObject*>(this));
        }
        while (!Terminated()) {
            DetectNewProcesses();
            DebugTrace("Waiting for signal");
            int processIndex = -1;
            int serviceProcessIndex = -1;
            bool controlSignalled = false;
            if (WaitForSignal(processIndex, serviceProcessIndex, controlSignalled)) {
                if (controlSignalled)
                    HandleControlRequest();
                else if (processIndex >= 0)
                    ProcessSignalled(processIndex);
                else if (serviceProcessIndex >= 0)
                    ServiceProcessSignalled(serviceProcessIndex);
            }
            if (serviceProcessIndex == -1 &&
                (CurrentTime() - lastServicePoll) * SecsPerDay < ServicePollSeconds)
                continue;
            DebugTrace("Detecting service changes");
            DetectServiceChanges();
            lastServicePoll = CurrentTime();
        }
        if (OnStop) {
            DebugTrace("Firing OnStop event");
            try {
                OnStop(this);
            } catch (...) {
                DebugTrace("OnStop event EXCEPTION");
            }
        }
    }
    ClearConsoleHooks();
    SaveLastShutdownTime();
    DebugTrace("Thread Exiting");
}

void TKorrinThread::ReadConfig() {
    while (WatchedProcesses->Count() > 0)
        WatchedProcesses->Delete(0);
    while (WatchedServiceProcesses->Count() > 0)
        WatchedServiceProcesses->Delete(0);
    while (WatchedServices->Count() > 0)
        WatchedServices->Delete(0);
    Config.reset();

    TServiceConfigRegAdapter adapter;
    adapter.ConfigClass = TTarnwickRuntimeConfig::Class();
    std::unique_ptr<TTarnwickConfig> loaded = adapter.Load();
    Config.reset(CheckedCast<TTarnwickRuntimeConfig>(loaded.get()));
    loaded.release();
}

bool TKorrinThread::WaitForRequest(unsigned long TimeoutMs) {
    const HANDLE events[2] = {ControlEvent.Get(), StopEvent.Get()};
    // Events are never abandoned: a set one is all there is to see.
    return WaitForMultipleObjects(2, events, FALSE, TimeoutMs) - WAIT_OBJECT_0 < 2;
}

void TKorrinThread::LoadConfig(bool IsReload) {
    ReadConfig();

    Loading = true;
    if (!IsReload) {
        TDateTime bootTime = BootTimeFunc ? BootTimeFunc() : GetBootTime();
        if (!(Config->LastShutdownTime >= bootTime)) {
            // Rounded to the nearest whole second, ties to even.
            double remaining = std::nearbyint(
                Config->StartupWaitPeriod - (CurrentTime() - bootTime) * SecsPerDay);
            if (remaining > 0) {
                // A wait of INFINITE (or beyond) would never end on its own.
                double ms = remaining * 1000.0;
                DWORD timeout = ms >= static_cast<double>(INFINITE) ? INFINITE - 1
                                                                     : static_cast<DWORD>(ms);
                // A request ends the delay. A stop ends the thread. A reload
                // request means that a configuration was saved while we
                // waited: it is the one to watch with, so it is read again.
                if (WaitForRequest(timeout)) {
                    const long request = HandleControlRequest();
                    if (IsReloadRequest(request) && !Terminated()) {
                        DebugTrace("Reloading config saved during the start-up wait");
                        ReadConfig();
                    }
                }
            }
        }
    }
    if (!Terminated()) {
        DetectNewProcesses();
        DetectServiceChanges();
    }
    Loading = false;
}

long TKorrinThread::HandleControlRequest() {
    LONG request = InterlockedCompareExchange(&ControlRequest, 0, 0);
    if (IsReloadRequest(request)) {
        if (!Loading)
            LoadConfig(true);
    } else if (request == crStop) {
        Terminate();
    }
    // Clear only the request handled here. A stop made while the reload
    // above ran has changed ControlRequest: it stays pending and the event
    // is set again, so the next wait sees it. Reload requests made meanwhile
    // leave the code at 0 and are dropped with the reset.
    ResetEvent(ControlEvent.Get());
    if (InterlockedCompareExchange(&ControlRequest, 0, request) != request)
        SetEvent(ControlEvent.Get());
    return request;
}

void TKorrinThread::SaveLastShutdownTime() {
    TRegistry registry;
    if (registry.OpenOrCreateKey(TarnwickConfigKey))
        registry.WriteDateTime(LastShutdownTimeValue, CurrentTime());
}

void TKorrinThread::DetectNewProcesses() {
    DebugTrace("Detecting new processes");
    if (!Config || Config->RuntimeProcesses->Count() == 0)
        return;

    std::vector<ULONGLONG> buffer;
    const std::uint64_t scan = TakeProcessSnapshot(buffer);
    if (scan == 0)
        return;

    // The next scan's time: the scan time, or earlier, so that a young
    // process whose path could not be read passes the filter again.
    std::uint64_t nextScan = scan;
    const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
    std::size_t offset = 0;
    for (;;) {
        if (offset + sizeof(SYSTEM_PROCESS_INFORMATION) > buffer.size() * sizeof(ULONGLONG))
            break;  // a chain that leaves the buffer: take what was read
        const auto* record = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(base + offset);
        const unsigned long pid =
            static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(record->UniqueProcessId));

        bool examine = WatchedProcesses->IndexOfProcessId(pid) < 0;
        if (examine && !Loading && LastProcessScan != 0 &&
            static_cast<std::int64_t>(LastProcessScan) - kCreateTimeTolerance >=
                static_cast<std::int64_t>(record->CreateTime.QuadPart))
            examine = false;

        if (examine) {
            const std::string name = LowerCaseAZ(AnsiFromUnicode(record->ImageName));
            std::string path;
            auto* entries = Config->RuntimeProcesses;
            for (int i = 0; i < entries->Count(); ++i) {
                TProcessRuntimeConfig* entry = entries->GetItem(i);
                if (!NameMatches(name, entry->ExeName))
                    continue;
                if (path.empty()) {
                    TKernelHandle process(
                        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
                    std::string imagePath;
                    // A starting process's modules may be listed before
                    // the name of the first can be read (an empty path):
                    // that too is a path not read yet.
                    if (process && GetProcessImagePath(process.Get(), imagePath) &&
                        !imagePath.empty()) {
                        path = GetLongFileName(imagePath);
                    } else if (process) {
                        const std::int64_t created = record->CreateTime.QuadPart;
                        if (static_cast<std::int64_t>(scan) - created < kPathRetryWindow &&
                            static_cast<std::uint64_t>(created) < nextScan)
                            nextScan = static_cast<std::uint64_t>(created);
                    }
                }
                if (!path.empty() && LowerCaseAZ(path) == LowerCaseAZ(entry->ApplicationPath)) {
                    ProcessStarted(entry, pid);
                    break;
                }
            }
        }

        if (record->NextEntryOffset == 0)
            break;
        offset += record->NextEntryOffset;
    }
    LastProcessScan = nextScan;
}

bool TKorrinThread::WaitForSignal(int& ProcessIndex, int& ServiceProcessIndex,
                                  bool& ControlSignalled) {
    ProcessIndex = -1;
    ServiceProcessIndex = -1;
    ControlSignalled = false;
    bool result = false;

    const int processes = WatchedProcesses->Count();
    const int serviceProcesses = WatchedServiceProcesses->Count();
    std::vector<HANDLE> handles;
    handles.reserve(processes + serviceProcesses + 2);
    for (int i = 0; i < processes; ++i)
        handles.push_back(WatchedProcesses->GetItem(i)->Handle());
    for (int i = 0; i < serviceProcesses; ++i)
        handles.push_back(WatchedServiceProcesses->GetItem(i)->Handle());
    // Last, so that the wait's own thread always watches them, however many
    // process handles there are. The stop event stands beside the named one,
    // which anyone allowed to set it may also reset.
    handles.push_back(ControlEvent.Get());
    handles.push_back(StopEvent.Get());

    const DWORD timeout = static_cast<DWORD>(WaitSeconds) * 1000;
    TWaitAnyResult r = WaitForAnyObject(handles.data(), handles.size(), timeout, true);
    if (r.Kind == TWaitAnyResult::wkSignalled || r.Kind == TWaitAnyResult::wkAbandoned) {
        result = true;
        const int i = static_cast<int>(r.Index);
        if (i < processes)
            ProcessIndex = i;
        else if (i < processes + serviceProcesses)
            ServiceProcessIndex = i - processes;
        else
            ControlSignalled = true;
    }

    if (result && !ControlSignalled) {
        if (WaitForRequest(FollowUpWaitMs)) {
            ProcessIndex = -1;
            ServiceProcessIndex = -1;
            ControlSignalled = true;
        }
    }
    return result;
}

void TKorrinThread::ProcessSignalled(int Index) {
    if (WatchedProcesses->GetItem(Index)->HasExited())
        ProcessStopped(Index);
}

void TKorrinThread::ProcessStopped(int Index) {
    CallGuarded(OnProcessStopped, static_cast<TObject*>(this), WatchedProcesses->GetItem(Index));
    WatchedProcesses->Delete(Index);
}

void TKorrinThread::ProcessStarted(TProcessRuntimeConfig* Entry, unsigned long ProcessId) {
    try {
        std::unique_ptr<TMonitoredProcess> process = Entry->CreateMonitoredProcess(ProcessId);
        TMonitoredProcess* added = process.get();
        WatchedProcesses->Add(process.release());
        if (!Loading)
            CallGuarded(OnProcessStarted, static_cast<TObject*>(this), added);
    } catch (...) {
        // The process could not be opened (gone, access denied): not watched.
    }
}

void TKorrinThread::ServiceProcessSignalled(int Index) {
    TMonitoredServiceProcess* process = WatchedServiceProcesses->GetItem(Index);
    if (!process->HasExited())
        return;
    for (int i = 0; i < WatchedServices->Count(); ++i) {
        if (WatchedServices->GetItem(i) == process->Service()) {
            ServiceStopped(i);
            return;
        }
    }
}

void TKorrinThread::DetectServiceChanges() {
    TServiceStatusEnumerator enumerator;
    enumerator.Open();  // a failed open lists nothing
    while (enumerator.Next()) {
        const ENUM_SERVICE_STATUSA* current = enumerator.Current();
        const std::string name = current->lpServiceName;
        const int entryIndex = Config->RuntimeServices->IndexOfName(name);
        if (entryIndex < 0)
            continue;
        const bool running = current->ServiceStatus.dwCurrentState == SERVICE_RUNNING;
        const int watched = WatchedServices->IndexOfName(name);
        if (watched >= 0 && !running)
            ServiceStopped(watched);
        else if (running && watched < 0)
            ServiceStarted(Config->RuntimeServices->GetItem(entryIndex));
    }
    enumerator.Close();
}

void TKorrinThread::ServiceStarted(TServiceRuntimeConfig* Entry) {
    std::unique_ptr<TMonitoredService> service = Entry->CreateMonitoredService();
    TMonitoredService* added = service.get();
    WatchedServices->Add(service.release());
    if (added->Process() != nullptr)
        WatchedServiceProcesses->Add(added->Process());
    if (!Loading)
        CallGuarded(OnServiceStarted, static_cast<TObject*>(this), added);
}

void TKorrinThread::ServiceStopped(int Index) {
    TMonitoredService* service = WatchedServices->GetItem(Index);
    CallGuarded(OnServiceStopped, static_cast<TObject*>(this), service);
    for (int i = WatchedServiceProcesses->Count() - 1; i >= 0; --i)
        if (WatchedServiceProcesses->GetItem(i)->Service() == service)
            WatchedServiceProcesses->Delete(i);
    WatchedServices->Delete(Index);
}
