#include "ServiceControl.h"

#include <atomic>
#include <vector>

namespace {

std::string CopyOrEmpty(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

typedef BOOL(WINAPI* TQueryServiceStatusEx)(SC_HANDLE, SC_STATUS_TYPE, LPBYTE, DWORD, LPDWORD);

// Bound by name on first use, so that a system without the function still
// loads the program. A failed binding leaves it unset and is tried again.
std::atomic<TQueryServiceStatusEx> gQueryServiceStatusEx{nullptr};

TQueryServiceStatusEx BindQueryServiceStatusEx() {
    TQueryServiceStatusEx entry = gQueryServiceStatusEx.load(std::memory_order_acquire);
    if (entry != nullptr)
        return entry;
    HMODULE library = GetModuleHandleA("advapi32.dll");
    if (library == nullptr)
        library = LoadLibraryA("advapi32.dll");
    if (library == nullptr)
        RaiseLastOSError();
    FARPROC proc = GetProcAddress(library, "QueryServiceStatusEx");
    if (proc == nullptr)
        RaiseLastOSError();
    entry = reinterpret_cast<TQueryServiceStatusEx>(reinterpret_cast<void*>(proc));
    gQueryServiceStatusEx.store(entry, std::memory_order_release);
    return entry;
}

}  // namespace

TServiceControlManager::~TServiceControlManager() {
    Close();
}

void TServiceControlManager::Open() {
    if (FHandle)
        return;
    FHandle.Reset(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!FHandle)
        RaiseLastOSError();
}

void TServiceControlManager::Close() {
    FHandle.Reset();
}

SC_HANDLE TServiceControlManager::GetHandle() {
    if (!FHandle)
        Open();
    return FHandle.Get();
}

bool TServiceControlManager::QueryStatus(const std::string& serviceName, SERVICE_STATUS& status) {
    TServiceHandle service(OpenServiceA(GetHandle(), serviceName.c_str(), GENERIC_READ));
    if (!service)
        return false;
    return QueryServiceStatus(service.Get(), &status) != FALSE;
}

bool TServiceControlManager::QueryConfig(const std::string& serviceName,
                                         TSCServiceConfig& config) {
    TServiceHandle service(OpenServiceA(GetHandle(), serviceName.c_str(), GENERIC_READ));
    if (!service)
        return false;
    std::vector<BYTE> buffer(1024);
    for (;;) {
        DWORD needed = 0;
        if (QueryServiceConfigA(service.Get(),
                                reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed))
            break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        // Grow as often as the manager asks (the configuration may change
        // between two calls), but never loop on a need the buffer already meets.
        size_t size = static_cast<size_t>(needed) + 16;
        if (size <= buffer.size())
            return false;
        buffer.assign(size, 0);
    }
    const QUERY_SERVICE_CONFIGA* c = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data());
    TSCServiceConfig result;
    result.ServiceType = c->dwServiceType;
    result.StartType = c->dwStartType;
    result.ErrorControl = c->dwErrorControl;
    result.BinaryPathName = CopyOrEmpty(c->lpBinaryPathName);
    result.LoadOrderGroup = CopyOrEmpty(c->lpLoadOrderGroup);
    result.TagId = c->dwTagId;
    result.ServiceStartName = CopyOrEmpty(c->lpServiceStartName);
    result.DisplayName = CopyOrEmpty(c->lpDisplayName);
    config = std::move(result);
    return true;
}

bool TServiceControlManager::QueryStatusEx(const std::string& serviceName,
                                           SERVICE_STATUS_PROCESS& status) {
    TServiceHandle service(OpenServiceA(GetHandle(), serviceName.c_str(), GENERIC_READ));
    if (!service)
        return false;
    try {
        TQueryServiceStatusEx query = BindQueryServiceStatusEx();
        DWORD needed = 0;
        return query(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                     sizeof status, &needed) != FALSE;
    } catch (...) {
        return false;
    }
}

bool TServiceControlManager::StartService(const std::string& serviceName) {
    TServiceHandle service(OpenServiceA(GetHandle(), serviceName.c_str(), SERVICE_START));
    if (!service)
        return false;
    return StartServiceA(service.Get(), 0, nullptr) != FALSE;
}
