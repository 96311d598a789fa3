#include "TestServices.h"

#include <atomic>

std::string UniqueName(const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    return prefix + "_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(GetTickCount()) + "_" + std::to_string(++counter);
}

std::string HelperPath(const std::string& exeName) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + exeName;
}

bool WaitForServiceState(const std::string& name, DWORD state, DWORD timeoutMs) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    bool reached = false;
    if (service != nullptr) {
        DWORD start = GetTickCount();
        for (;;) {
            SERVICE_STATUS status;
            if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) {
                reached = true;
                break;
            }
            if (GetTickCount() - start > timeoutMs)
                break;
            Sleep(20);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return reached;
}

TTestService::TTestService(const std::string& name, const std::string& displayName,
                           const std::string& binaryPath, DWORD startType)
    : FName(name) {
    std::string path = binaryPath.empty()
                           ? "\"" + HelperPath("tw_testsvc.exe") + "\" " + name
                           : binaryPath;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        FInstallError = GetLastError();
        return;
    }
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), displayName.c_str(),
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType,
                                       SERVICE_ERROR_IGNORE, path.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    if (service == nullptr) {
        FInstallError = GetLastError();
    } else {
        FInstalled = true;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

bool TTestService::Stop() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenServiceA(manager, FName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    bool stopped = false;
    if (service != nullptr) {
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED) {
            stopped = true;
        } else {
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            stopped = WaitForServiceState(FName, SERVICE_STOPPED);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return stopped;
}

TTestService::~TTestService() {
    if (!FInstalled)
        return;
    Stop();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return;
    SC_HANDLE service = OpenServiceA(manager, FName.c_str(), DELETE);
    if (service != nullptr) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}
