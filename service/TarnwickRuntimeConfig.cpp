#include "TarnwickRuntimeConfig.h"

#include "rtl/SysUtils.h"
#include "win32/ServiceControl.h"
#include "win32/Win32Utils.h"

// ---- runtime configuration

std::unique_ptr<TMonitoredService> TServiceRuntimeConfig::CreateMonitoredService() {
    return std::make_unique<TMonitoredService>(this);
}

TProcessRuntimeConfig::TProcessRuntimeConfig(const std::string& applicationPath,
                                             bool raiseStartupEvent, bool raiseShutdownEvent)
    : TProcessConfig(applicationPath, raiseStartupEvent, raiseShutdownEvent),
      ExeName(LowerCaseAZ(ExtractFileName(ApplicationPath))) {}

std::unique_ptr<TMonitoredProcess> TProcessRuntimeConfig::CreateMonitoredProcess(DWORD processId) {
    return std::make_unique<TMonitoredProcess>(this, processId);
}

const TServiceConfigClass* TServiceRuntimeConfigList::ItemClass() const {
    return ClassOf<TServiceRuntimeConfig>();
}

TServiceRuntimeConfig* TServiceRuntimeConfigList::GetItem(int index) const {
    return CheckedCast<TServiceRuntimeConfig>(TServiceConfigList::GetItem(index));
}

const TProcessConfigClass* TProcessRuntimeConfigList::ItemClass() const {
    return ClassOf<TProcessRuntimeConfig>();
}

TProcessRuntimeConfig* TProcessRuntimeConfigList::GetItem(int index) const {
    return CheckedCast<TProcessRuntimeConfig>(TProcessConfigList::GetItem(index));
}

class TTarnwickRuntimeConfigClass : public TTarnwickConfigClass {
public:
    const TProcessConfigListClass* ProcessListClass() const override {
        return ClassOf<TProcessRuntimeConfigList>();
    }
    const TServiceConfigListClass* ServiceListClass() const override {
        return ClassOf<TServiceRuntimeConfigList>();
    }
    std::unique_ptr<TTarnwickConfig> Create() const override {
        return std::unique_ptr<TTarnwickConfig>(new TTarnwickRuntimeConfig(*this));
    }
};

const TTarnwickConfigClass* TTarnwickRuntimeConfig::Class() {
    static const TTarnwickRuntimeConfigClass instance;
    return &instance;
}

TTarnwickRuntimeConfig::TTarnwickRuntimeConfig() : TTarnwickRuntimeConfig(*Class()) {}

TTarnwickRuntimeConfig::TTarnwickRuntimeConfig(const TTarnwickConfigClass& classType)
    : TTarnwickConfig(classType),
      RuntimeServices(CheckedCast<TServiceRuntimeConfigList>(Services.get())),
      RuntimeProcesses(CheckedCast<TProcessRuntimeConfigList>(Processes.get())) {}

// ---- watched processes

namespace {

// A 64-bit count of 100 ns units as a span in days (whole days included).
double SpanInDays(const FILETIME& ft) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 864000000000.0;
}

}  // namespace

TMonitoredProcessBase::TMonitoredProcessBase(DWORD processId)
    : FProcessId(processId),
      FHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                          processId)) {
    if (!FHandle)
        RaiseLastOSError();
    std::string path;
    if (GetProcessImagePath(FHandle.Get(), path))
        FImagePath = path;
}

TMonitoredProcessBase::~TMonitoredProcessBase() = default;

DWORD TMonitoredProcessBase::GetExitCode() const {
    DWORD code = 0;
    if (!GetExitCodeProcess(FHandle.Get(), &code))
        return 0xFFFFFFFF;
    return code;
}

bool TMonitoredProcessBase::HasExited() const {
    // A signalled process handle proves the end, whatever code the process
    // left: one that ended with 259 (STILL_ACTIVE) must not pass for running,
    // or the monitor would keep it watched and its handle would end every
    // wait at once.
    if (FHandle && WaitForSingleObject(FHandle.Get(), 0) == WAIT_OBJECT_0)
        return true;
    return GetExitCode() != STILL_ACTIVE;
}

std::string TMonitoredProcessBase::GetOwnerName() const {
    HANDLE token = nullptr;
    if (!OpenProcessToken(FHandle.Get(), TOKEN_READ, &token))
        return std::string();
    TKernelHandle owned(token);
    return GetTokenOwnerName(token);
}

bool TMonitoredProcessBase::GetTimes(TDateTime& creationTime, TDateTime& exitTime,
                                     double& kernelTime, double& userTime) const {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(FHandle.Get(), &creation, &exit, &kernel, &user))
        return false;
    creationTime = FileTimeToDateTime(creation);
    exitTime = FileTimeToDateTime(exit);
    kernelTime = SpanInDays(kernel);
    userTime = SpanInDays(user);
    return true;
}

bool TMonitoredProcessBase::GetMemoryCounters(PROCESS_MEMORY_COUNTERS& counters) const {
    counters.cb = sizeof(PROCESS_MEMORY_COUNTERS);
    return GetProcessMemoryInfo(FHandle.Get(), &counters, sizeof(PROCESS_MEMORY_COUNTERS)) != FALSE;
}

TMonitoredProcess::TMonitoredProcess(TProcessRuntimeConfig* config, DWORD processId)
    : TMonitoredProcessBase(processId), FConfig(config) {}

TMonitoredServiceProcess::TMonitoredServiceProcess(TMonitoredService* service, DWORD processId)
    : TMonitoredProcessBase(processId), FService(service) {}

// ---- watched services

TMonitoredService::TMonitoredService(TServiceRuntimeConfig* config) : FConfig(config) {
    FProcess = FindProcess();
}

TMonitoredService::~TMonitoredService() {
    FProcess.reset();
}

std::unique_ptr<TMonitoredServiceProcess> TMonitoredService::FindProcess() {
    try {
        TServiceControlManager scm;
        SERVICE_STATUS_PROCESS status{};
        if (scm.QueryStatusEx(FConfig->ServiceName, status) &&
            status.dwCurrentState == SERVICE_RUNNING && status.dwProcessId != 0)
            return std::make_unique<TMonitoredServiceProcess>(this, status.dwProcessId);
    } catch (...) {
        // The manager cannot be opened or the process is out of reach: the
        // service is then watched by the poll alone.
    }
    return nullptr;
}

bool TMonitoredService::GetStatus(SERVICE_STATUS& status) const {
    TServiceControlManager scm;
    return scm.QueryStatus(FConfig->ServiceName, status);
}

bool TMonitoredService::GetConfigInfo(TSCServiceConfig& info) const {
    TServiceControlManager scm;
    return scm.QueryConfig(FConfig->ServiceName, info);
}

// ---- lists

TMonitoredProcess* TMonitoredProcessList::GetItem(int index) const {
    return CheckedCast<TMonitoredProcess>(TBWList::GetItem(index));
}

int TMonitoredProcessList::IndexOfProcessId(DWORD processId) const {
    for (int i = 0; i < Count(); ++i)
        if (GetItem(i)->ProcessId() == processId)
            return i;
    return -1;
}

int TMonitoredProcessList::CountForConfig(const TProcessRuntimeConfig* config) const {
    int count = 0;
    for (int i = 0; i < Count(); ++i)
        if (GetItem(i)->Config() == config)
            ++count;
    return count;
}

TMonitoredService* TMonitoredServiceList::GetItem(int index) const {
    return CheckedCast<TMonitoredService>(TBWList::GetItem(index));
}

int TMonitoredServiceList::IndexOfName(const std::string& serviceName) const {
    const std::string wanted = LowerCaseAZ(serviceName);
    for (int i = 0; i < Count(); ++i)
        if (LowerCaseAZ(GetItem(i)->Config()->ServiceName) == wanted)
            return i;
    return -1;
}

TMonitoredServiceProcess* TMonitoredServiceProcessList::GetItem(int index) const {
    return CheckedCast<TMonitoredServiceProcess>(TBWList::GetItem(index));
}
