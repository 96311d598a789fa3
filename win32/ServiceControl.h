// The local service control manager, opened on first use, and the four
// service operations both programs need, each addressed by service name.
#pragma once

#include <windows.h>

#include <string>

#include "rtl/Classes.h"
#include "rtl/Handles.h"

// windows.h maps StartService to StartServiceA; the method below keeps its name.
#undef StartService

// One service's configuration as the manager reports it. The dependencies are
// not copied; a missing string is empty.
struct TSCServiceConfig {
    DWORD ServiceType = 0;
    DWORD StartType = 0;
    DWORD ErrorControl = 0;
    std::string BinaryPathName;
    std::string LoadOrderGroup;
    DWORD TagId = 0;
    std::string ServiceStartName;
    std::string DisplayName;
};

// Holds one manager handle; each operation opens and closes its own service
// handle. Users create a manager for one operation and free it at once.
//
// Every query opens the manager first: a manager that cannot be opened raises
// the operating-system error (EOSError) out of every query. A service that
// cannot be opened, or a failing query, gives false. After a false result
// from StartService the thread's last error is that of the failing call
// (nothing but CloseServiceHandle, which keeps it, runs after it).
class TServiceControlManager : public TObject {
public:
    TServiceControlManager() = default;
    ~TServiceControlManager() override;
    TServiceControlManager(const TServiceControlManager&) = delete;
    TServiceControlManager& operator=(const TServiceControlManager&) = delete;

    // Opens the local manager for reading when closed; raises EOSError when
    // it cannot, and stays closed.
    void Open();
    void Close();
    // Opens when closed (so it may raise) and returns the handle.
    SC_HANDLE GetHandle();
    // The handle as it is: null while closed.
    SC_HANDLE Handle() const { return FHandle.Get(); }

    bool QueryStatus(const std::string& serviceName, SERVICE_STATUS& status);
    // config is written only on success.
    bool QueryConfig(const std::string& serviceName, TSCServiceConfig& config);
    // The extended status with the process id. Any exception on the way
    // (binding the entry point included) gives false; only a manager that
    // cannot be opened raises.
    bool QueryStatusEx(const std::string& serviceName, SERVICE_STATUS_PROCESS& status);
    // Asks the manager to start the service and returns without waiting.
    bool StartService(const std::string& serviceName);

private:
    TServiceHandle FHandle;
};
