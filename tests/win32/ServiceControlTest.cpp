#include <gtest/gtest.h>
#include <windows.h>

#include "TestServices.h"
#include "rtl/SysUtils.h"
#include "win32/ServiceControl.h"
#include "win32/Win32Utils.h"

TEST(ServiceControlManager, OpensOnFirstUseAndClosesAgain) {
    TServiceControlManager manager;
    EXPECT_EQ(manager.Handle(), nullptr);
    manager.Close();  // closing a closed manager does nothing
    SC_HANDLE handle = manager.GetHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(manager.GetHandle(), handle);
    manager.Open();  // already open: the same handle stays
    EXPECT_EQ(manager.Handle(), handle);
    manager.Close();
    EXPECT_EQ(manager.Handle(), nullptr);
    // A closed manager opens again on the next query.
    SERVICE_STATUS status;
    manager.QueryStatus("EventLog", status);
    EXPECT_NE(manager.Handle(), nullptr);
    TServiceControlManager neverOpened;  // destroyed without ever opening
}

TEST(ServiceControlManager, MissingServiceGivesFalseAndLeavesOutputs) {
    std::string name = UniqueName("TwNoSuchService");
    TServiceControlManager manager;
    SERVICE_STATUS status{};
    EXPECT_FALSE(manager.QueryStatus(name, status));
    SERVICE_STATUS_PROCESS statusEx{};
    EXPECT_FALSE(manager.QueryStatusEx(name, statusEx));

    TSCServiceConfig config;
    config.DisplayName = "untouched";
    config.StartType = 77;
    EXPECT_FALSE(manager.QueryConfig(name, config));
    EXPECT_EQ(config.DisplayName, "untouched");
    EXPECT_EQ(config.StartType, 77u);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(manager.StartService(name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(ServiceControlManager, StartQueryAndStopARealService) {
    std::string name = UniqueName("TwScmTest");
    std::string display = "Tarnwick test service " + name;
    TTestService service(name, display);
    ASSERT_TRUE(service.Installed()) << "CreateServiceA failed: " << service.InstallError();

    TServiceControlManager manager;
    SERVICE_STATUS_PROCESS ex{};
    ASSERT_TRUE(manager.QueryStatusEx(name, ex));
    EXPECT_EQ(ex.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(ex.dwProcessId, 0u);

    ASSERT_TRUE(manager.StartService(name)) << "error " << GetLastError();
    ASSERT_TRUE(WaitForServiceState(name, SERVICE_RUNNING));

    // The manager compares service names without regard to case.
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    SERVICE_STATUS status{};
    ASSERT_TRUE(manager.QueryStatus(upper, status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    ASSERT_TRUE(manager.QueryStatusEx(name, ex));
    EXPECT_EQ(ex.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_NE(ex.dwProcessId, 0u);
    // The process id is that of the test service program.
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ex.dwProcessId);
    ASSERT_NE(process, nullptr);
    std::string image;
    EXPECT_TRUE(GetProcessImagePath(process, image));
    CloseHandle(process);
    EXPECT_NE(LowerCaseAZ(image).find("tw_testsvc.exe"), std::string::npos) << image;

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(manager.StartService(name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    ASSERT_TRUE(service.Stop());
    ASSERT_TRUE(manager.QueryStatusEx(name, ex));
    EXPECT_EQ(ex.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(ex.dwProcessId, 0u);
    ASSERT_TRUE(manager.QueryStatus(name, status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
}

TEST(ServiceControlManager, QueryConfigReadsTheRecordAndGrowsPast1024Bytes) {
    std::string name = UniqueName("TwCfgTest");
    std::string display = "Tarnwick configuration test " + name;
    TTestService plain(name, display);
    ASSERT_TRUE(plain.Installed()) << plain.InstallError();

    TServiceControlManager manager;
    TSCServiceConfig config;
    ASSERT_TRUE(manager.QueryConfig(name, config));
    EXPECT_EQ(config.DisplayName, display);
    EXPECT_EQ(config.ServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.ErrorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
    EXPECT_NE(config.BinaryPathName.find("tw_testsvc.exe"), std::string::npos);
    EXPECT_EQ(config.LoadOrderGroup, "");
    // No account was given: Windows reports "LocalSystem" here, never garbage.
    EXPECT_TRUE(config.ServiceStartName.empty() || config.ServiceStartName == "LocalSystem")
        << config.ServiceStartName;

    // A binary path of 1500 characters: the record needs well over the first
    // 1024 bytes, and every character must come back.
    std::string longName = UniqueName("TwCfgLong");
    std::string longPath = "\"" + HelperPath("tw_testsvc.exe") + "\" " + longName;
    for (int i = 0; longPath.size() < 1500; ++i)
        longPath += " argument" + std::to_string(i);
    TTestService big(longName, "Long configuration " + longName, longPath);
    ASSERT_TRUE(big.Installed()) << big.InstallError();
    TSCServiceConfig bigConfig;
    ASSERT_TRUE(manager.QueryConfig(longName, bigConfig));
    EXPECT_EQ(bigConfig.BinaryPathName, longPath);
    EXPECT_EQ(bigConfig.DisplayName, "Long configuration " + longName);
}

TEST(ServiceControlManager, StartOfADisabledServiceFails) {
    std::string name = UniqueName("TwDisabled");
    TTestService service(name, name, std::string(), SERVICE_DISABLED);
    ASSERT_TRUE(service.Installed()) << service.InstallError();
    TServiceControlManager manager;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(manager.StartService(name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
}
