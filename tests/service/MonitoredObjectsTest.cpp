#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "rtl/DateUtils.h"
#include "service/TarnwickRuntimeConfig.h"
#include "tests/win32/TestChild.h"
#include "tests/rtl/HandleCount.h"
#include "tests/win32/TestServices.h"
#include "win32/ServiceControl.h"

namespace {

TDateTime NowUtc() {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return SystemTimeToDateTime(st);
}

using TChild = TTestChild;

// The raw test service under a name of its own; stopped and removed
// when this object goes.
class TWatchedTestService {
public:
    TWatchedTestService()
        : Name(UniqueName("TwRtWatched")),
          DisplayName("Tarnwick watched test " + Name),
          FService(Name, DisplayName) {}
    bool Installed() const { return FService.Installed(); }
    bool Start() {
        TServiceControlManager scm;
        return scm.StartService(Name) && WaitForServiceState(Name, SERVICE_RUNNING);
    }
    bool Stop() { return FService.Stop(); }
    DWORD ProcessId() {
        TServiceControlManager scm;
        SERVICE_STATUS_PROCESS sp{};
        return scm.QueryStatusEx(Name, sp) ? sp.dwProcessId : 0;
    }

    std::string Name;
    std::string DisplayName;

private:
    TTestService FService;
};

bool SameTextAZ(const std::string& a, const std::string& b) {
    return LowerCaseAZ(a) == LowerCaseAZ(b);
}

}  // namespace

TEST(MonitoredProcess, RunningChildReportsItsFiguresAndItsExitCodeOnceEnded) {
    TDateTime before = NowUtc();
    TChild child(42);
    ASSERT_TRUE(child.Started());
    TProcessRuntimeConfig entry(child.Path, true, true);
    std::unique_ptr<TMonitoredProcess> process = entry.CreateMonitoredProcess(child.Id());

    EXPECT_EQ(process->Config(), &entry);
    EXPECT_EQ(process->ProcessId(), child.Id());
    EXPECT_NE(process->Handle(), nullptr);
    EXPECT_TRUE(SameTextAZ(ExtractFileName(process->ImagePath()), "tw_child.exe"))
        << process->ImagePath();
    EXPECT_FALSE(process->HasExited());
    EXPECT_EQ(process->GetExitCode(), STILL_ACTIVE);
    std::string owner = process->GetOwnerName();
    EXPECT_NE(owner.find('\\'), std::string::npos) << owner;

    TDateTime creation = -1, exitTime = -1;
    double kernel = -1, user = -1;
    ASSERT_TRUE(process->GetTimes(creation, exitTime, kernel, user));
    // A point in time in UTC (a minute's slack for the clock's granularity).
    EXPECT_GE(creation, before - 1.0 / 1440);
    EXPECT_LE(creation, NowUtc() + 1.0 / 1440);
    EXPECT_EQ(exitTime, 0.0);
    EXPECT_GE(kernel, 0.0);
    EXPECT_GE(user, 0.0);
    EXPECT_LT(kernel + user, 1.0);  // spans in days, not raw counts

    PROCESS_MEMORY_COUNTERS counters{};
    ASSERT_TRUE(process->GetMemoryCounters(counters));
    EXPECT_EQ(counters.cb, sizeof(PROCESS_MEMORY_COUNTERS));
    EXPECT_GT(counters.PeakWorkingSetSize, 0u);
    EXPECT_GE(counters.PeakWorkingSetSize, counters.WorkingSetSize);

    child.Finish();
    // The handle stays open: the ended process can still be asked.
    ASSERT_EQ(WaitForSingleObject(process->Handle(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(process->HasExited());
    EXPECT_EQ(process->GetExitCode(), 42u);
    ASSERT_TRUE(process->GetTimes(creation, exitTime, kernel, user));
    EXPECT_GE(exitTime, creation);
    EXPECT_LE(exitTime, NowUtc() + 1.0 / 1440);
}

TEST(MonitoredProcess, ExitCode259IsAnExitOnceTheHandleIsSignalled) {
    TChild child(STILL_ACTIVE);
    ASSERT_TRUE(child.Started());
    TMonitoredProcess process(nullptr, child.Id());
    EXPECT_FALSE(process.HasExited());
    child.Finish();
    ASSERT_EQ(WaitForSingleObject(process.Handle(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(process.GetExitCode(), STILL_ACTIVE);
    EXPECT_TRUE(process.HasExited());
}

TEST(MonitoredProcess, AProcessThatCannotBeOpenedRaisesTheSystemError) {
    TProcessRuntimeConfig entry("C:\\nowhere.exe", false, false);
    // Process ids are multiples of 4: this one is never in use.
    try {
        entry.CreateMonitoredProcess(0xFFFFFFF1u);
        FAIL() << "nothing raised";
    } catch (const EOSError& e) {
        EXPECT_NE(e.ErrorCode, 0u);
        EXPECT_EQ(e.Message().rfind("System Error.  Code: ", 0), 0u) << e.Message();
    }
}

TEST(MonitoredProcessList, LooksUpByProcessIdAndCountsByTheVeryEntry) {
    TChild first(0), second(0);
    ASSERT_TRUE(first.Started() && second.Started());
    TProcessRuntimeConfig entry(first.Path, true, true);
    TProcessRuntimeConfig equalEntry(first.Path, true, true);
    TMonitoredProcessList list;
    list.Add(entry.CreateMonitoredProcess(first.Id()).release());
    list.Add(entry.CreateMonitoredProcess(second.Id()).release());
    list.Add(equalEntry.CreateMonitoredProcess(second.Id()).release());

    EXPECT_EQ(list.IndexOfProcessId(first.Id()), 0);
    EXPECT_EQ(list.IndexOfProcessId(second.Id()), 1);  // the first match
    EXPECT_EQ(list.IndexOfProcessId(0xFFFFFFF1u), -1);
    EXPECT_EQ(list.CountForConfig(&entry), 2);
    EXPECT_EQ(list.CountForConfig(&equalEntry), 1);
    TProcessRuntimeConfig unrelated(first.Path, true, true);
    EXPECT_EQ(list.CountForConfig(&unrelated), 0);
    EXPECT_EQ(list.GetItem(2)->Config(), &equalEntry);
    EXPECT_THROW(list.GetItem(3), EListError);
}

TEST(MonitoredService, ServiceNotRunningOrUnknownIsWatchedWithoutAProcess) {
    TServiceRuntimeConfig unknown(UniqueName("TwRtNoSuchService"), true, true, false);
    std::unique_ptr<TMonitoredService> service = unknown.CreateMonitoredService();
    EXPECT_EQ(service->Config(), &unknown);
    EXPECT_EQ(service->Process(), nullptr);
    SERVICE_STATUS status{};
    EXPECT_FALSE(service->GetStatus(status));
    TSCServiceConfig info;
    EXPECT_FALSE(service->GetConfigInfo(info));

    TWatchedTestService installed;
    ASSERT_TRUE(installed.Installed());
    TServiceRuntimeConfig stopped(installed.Name, true, true, false);
    service = stopped.CreateMonitoredService();
    EXPECT_EQ(service->Process(), nullptr);
    ASSERT_TRUE(service->GetStatus(status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(MonitoredService, RunningTestServiceIsWatchedWithItsProcessUntilItExits) {
    TWatchedTestService installed;
    ASSERT_TRUE(installed.Installed());
    ASSERT_TRUE(installed.Start());
    // The name in another letter case finds it all the same.
    TServiceRuntimeConfig entry(LowerCaseAZ(installed.Name), true, true, false);
    std::unique_ptr<TMonitoredService> service = entry.CreateMonitoredService();
    ASSERT_NE(service->Process(), nullptr);
    TMonitoredServiceProcess* process = service->Process();
    EXPECT_EQ(process->Service(), service.get());
    EXPECT_EQ(process->ProcessId(), installed.ProcessId());
    EXPECT_TRUE(SameTextAZ(ExtractFileName(process->ImagePath()), "tw_testsvc.exe"))
        << process->ImagePath();
    EXPECT_FALSE(process->HasExited());

    SERVICE_STATUS status{};
    ASSERT_TRUE(service->GetStatus(status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    TSCServiceConfig info;
    ASSERT_TRUE(service->GetConfigInfo(info));
    EXPECT_EQ(info.DisplayName, installed.DisplayName);

    // A second watch of the same service holds its own handle to the process.
    std::unique_ptr<TMonitoredService> again = entry.CreateMonitoredService();
    ASSERT_NE(again->Process(), nullptr);
    EXPECT_NE(again->Process()->Handle(), process->Handle());
    EXPECT_EQ(again->Process()->ProcessId(), process->ProcessId());

    ASSERT_TRUE(installed.Stop());
    ASSERT_EQ(WaitForSingleObject(process->Handle(), 30000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(again->Process()->Handle(), 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(process->HasExited());
    EXPECT_EQ(process->GetExitCode(), 0u);
    ASSERT_TRUE(service->GetStatus(status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(MonitoredServiceList, FindsNamesIgnoringTheCaseOfAToZOnly) {
    TServiceRuntimeConfig plain(UniqueName("TwRtName"), false, false, false);
    TServiceRuntimeConfig accented("Dienst\xC4" + UniqueName("x"), false, false, false);
    TMonitoredServiceList list;
    list.Add(plain.CreateMonitoredService().release());
    list.Add(accented.CreateMonitoredService().release());

    std::string upper = plain.ServiceName;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(list.IndexOfName(upper), 0);
    EXPECT_EQ(list.IndexOfName(accented.ServiceName), 1);
    std::string otherAccent = accented.ServiceName;
    otherAccent[6] = '\xE4';  // the same letter in lower case: a different name here
    EXPECT_EQ(list.IndexOfName(otherAccent), -1);
    EXPECT_EQ(list.IndexOfName("TwRtName"), -1);
    EXPECT_EQ(list.GetItem(1)->Config(), &accented);
}

// Freeing the owning lists closes every handle their objects held; freeing
// the service-process list closes none. A few hundred create/free cycles of
// every kind leave the process's handle count where it was.
TEST(MonitoredObjects, CreateAndFreeCyclesLeaveNoHandleOpen) {
    TChild child(0);
    ASSERT_TRUE(child.Started());
    TWatchedTestService installed;
    ASSERT_TRUE(installed.Installed());
    ASSERT_TRUE(installed.Start());
    TProcessRuntimeConfig entry(child.Path, true, true);
    TServiceRuntimeConfig serviceEntry(installed.Name, true, true, false);
    TServiceRuntimeConfig missingEntry(UniqueName("TwRtMissing"), true, true, false);

    // Watched services go through the service control manager, which costs
    // Wine tens of milliseconds a query, so they come round every twentieth cycle.
    auto cycle = [&](int i) {
        {
            TMonitoredProcessList processes;
            TMonitoredServiceList services;
            TMonitoredServiceProcessList serviceProcesses;
            for (int k = 0; k < 2; ++k)
                processes.Add(entry.CreateMonitoredProcess(child.Id()).release());
            if (i % 20 == 0) {
                TMonitoredService* service = serviceEntry.CreateMonitoredService().release();
                services.Add(service);
                if (service->Process() != nullptr)
                    serviceProcesses.Add(service->Process());
                services.Add(missingEntry.CreateMonitoredService().release());
            }
            processes.Delete(0);
            // The service-process list is freed first and must leave the
            // processes to their services.
        }
        try {
            entry.CreateMonitoredProcess(0xFFFFFFF1u);
        } catch (const EOSError&) {
        }
    };
    for (int i = 0; i < 3; ++i)  // warm-up: the manager's connection, lazy loads
        cycle(0);

    {
        // The non-owning list leaves the service's process handle open.
        std::unique_ptr<TMonitoredService> service = serviceEntry.CreateMonitoredService();
        ASSERT_NE(service->Process(), nullptr);
        {
            TMonitoredServiceProcessList serviceProcesses;
            serviceProcesses.Add(service->Process());
        }
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(service->Process()->Handle(), &flags));
        EXPECT_FALSE(service->Process()->HasExited());
    }

    unsigned long before = CountOpenHandles();
    for (int i = 0; i < 240; ++i)
        cycle(i);
    EXPECT_LE(CountOpenHandles(), before);
}
