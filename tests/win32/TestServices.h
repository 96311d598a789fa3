// Shared by the win32 tests: unique names, the helper programs built next to
// the tests, and test services installed into the prefix's service control
// manager and removed again whatever the test's outcome.
#pragma once

#include <windows.h>

#include <string>

// "<prefix>_<pid>_<n>": unique across the test programs ctest runs in parallel.
std::string UniqueName(const std::string& prefix);

// Full path of a program in the test programs' own folder.
std::string HelperPath(const std::string& exeName);

// Waits (polling, at most timeoutMs) until the service reports the state.
bool WaitForServiceState(const std::string& name, DWORD state, DWORD timeoutMs = 15000);

// A demand-start own-process service, created on construction and stopped
// and deleted on destruction.
class TTestService {
public:
    // binaryPath empty: the test service program with the service's name.
    TTestService(const std::string& name, const std::string& displayName,
                 const std::string& binaryPath = std::string(),
                 DWORD startType = SERVICE_DEMAND_START);
    ~TTestService();
    TTestService(const TTestService&) = delete;
    TTestService& operator=(const TTestService&) = delete;

    bool Installed() const { return FInstalled; }
    DWORD InstallError() const { return FInstallError; }
    const std::string& Name() const { return FName; }
    // Sends STOP and waits for STOPPED.
    bool Stop();

private:
    std::string FName;
    bool FInstalled = false;
    DWORD FInstallError = 0;
};
